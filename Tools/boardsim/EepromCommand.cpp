// boardsim eeprom: shows and edits the board EEPROM's image file between boots: the MAC
// record of each port that has one, a port's address, or the whole image erased.
#include "BoardOptions.h"

#include <HostFiles.h>
#include <I2cMailbox/I2cEeprom.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

int RunEepromCommand(int argc, char **argv);

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr size_t kRecordBytes = 6;
constexpr size_t kMacTextLength = 17;
constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kGroupBit = 0x01;

constexpr const char *kUsage =
    "usage: boardsim eeprom --file FILE show\n"
    "       boardsim eeprom --file FILE set-mac PORT ADDR\n"
    "       boardsim eeprom --file FILE erase\n"
    "\n"
    "Works on the board EEPROM's image file between boots (boardsim boot --eeprom FILE).\n"
    "Ports 0, 1, 4 and 5 have a MAC record (records 0 to 3, six bytes at offset 6 x record).\n"
    "  ADDR  xx:xx:xx:xx:xx:xx in hexadecimal, either case\n"
    "The image is the part's 65536 bytes; an empty file counts as erased, and set-mac and erase\n"
    "create a missing one. A file of another size is refused and left as it is.\n";

// The ports that have a record, in record order.
constexpr unsigned kRecordPorts[] = {0, 1, 4, 5};

std::optional<size_t> RecordOfPort(const std::string &Text) {
  for (size_t Record = 0; Record < std::size(kRecordPorts); Record++) {
    if (Text == std::to_string(kRecordPorts[Record])) {
      return Record;
    }
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> ParseMac(const std::string &Text) {
  if (Text.size() != kMacTextLength) {
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes;
  for (size_t Index = 0; Index < kRecordBytes; Index++) {
    const std::string Pair = Text.substr(Index * 3, 2);
    if ((Index < kRecordBytes - 1 && Text[Index * 3 + 2] != ':') || !std::isxdigit((unsigned char)Pair[0]) ||
        !std::isxdigit((unsigned char)Pair[1])) {
      return std::nullopt;
    }
    Bytes.push_back(uint8_t(std::stoul(Pair, nullptr, 16)));
  }
  return Bytes;
}

std::string Describe(const uint8_t *Bytes) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "%02x:%02x:%02x:%02x:%02x:%02x", Bytes[0], Bytes[1], Bytes[2], Bytes[3],
                Bytes[4], Bytes[5]);
  bool Erased = true, Zero = true;
  for (size_t Index = 0; Index < kRecordBytes; Index++) {
    Erased &= Bytes[Index] == kErased;
    Zero &= Bytes[Index] == 0;
  }
  const char *Note = Erased ? "  (erased: replaced by the placeholder at the next boot)"
                     : Zero ? "  (all zero: replaced by the placeholder at the next boot)"
                     : (Bytes[0] & kGroupBit) != 0
                         ? "  (group address: replaced by the placeholder at the next boot)"
                         : "";
  return std::string(Text) + Note;
}

int Show(const std::vector<uint8_t> &Image) {
  for (size_t Record = 0; Record < std::size(kRecordPorts); Record++) {
    std::cout << "port " << kRecordPorts[Record] << " (record " << Record << ", offset "
              << Record * kRecordBytes << "): " << Describe(&Image[Record * kRecordBytes]) << "\n";
  }
  return kExitOk;
}

} // namespace

int RunEepromCommand(int argc, char **argv) {
  std::vector<std::string> Words(argv + 1, argv + argc);
  std::string File;
  std::vector<std::string> Rest;
  for (size_t Index = 0; Index < Words.size(); Index++) {
    if (Words[Index] == "--help" || Words[Index] == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
    if (Words[Index] == "--file" && Index + 1 < Words.size()) {
      File = Words[++Index];
    } else {
      Rest.push_back(Words[Index]);
    }
  }
  const bool ShowIt = Rest.size() == 1 && Rest[0] == "show";
  const bool Erase = Rest.size() == 1 && Rest[0] == "erase";
  const bool SetMac = Rest.size() == 3 && Rest[0] == "set-mac";
  if (File.empty() || (!ShowIt && !Erase && !SetMac)) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  const auto Record = SetMac ? RecordOfPort(Rest[1]) : std::nullopt;
  const auto Mac = SetMac ? ParseMac(Rest[2]) : std::nullopt;
  if (SetMac && (!Record || !Mac)) {
    std::cerr << "boardsim eeprom: "
              << (!Record ? "port " + Rest[1] + " has no MAC record" : "not a MAC address: " + Rest[2])
              << "\n";
    return kExitUsage;
  }
  // Showing needs the image; a change creates it. A file of another size is never rewritten.
  std::string Problem = host::FileProblem(File, !ShowIt, !ShowIt);
  std::vector<uint8_t> Image(host::I2cEeprom::kSize, kErased);
  std::error_code Missing;
  if (Problem.empty() && std::filesystem::exists(File, Missing)) {
    Image = host::I2cEeprom::ReadImage(File, Problem).value_or(Image);
  }
  if (!Problem.empty()) {
    return ReportBadPath("eeprom", host::PathMessage("--file", File, Problem));
  }
  if (ShowIt) {
    return Show(Image);
  }
  if (Erase) {
    Image.assign(host::I2cEeprom::kSize, kErased);
  } else {
    std::copy(Mac->begin(), Mac->end(), Image.begin() + std::ptrdiff_t(*Record * kRecordBytes));
  }
  if (!host::I2cEeprom::SaveImage(File, Image)) {
    std::cerr << "boardsim eeprom: cannot write " << File << "\n";
    return kExitFailed;
  }
  return Show(Image);
}
