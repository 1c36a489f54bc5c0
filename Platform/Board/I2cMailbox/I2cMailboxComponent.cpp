// The I2C and management-processor area of the board: SoC map rows, options, fault knobs and
// the models, assembled from the board's options.
#include "Board.h"
#include "HostFiles.h"
#include "HostText.h"
#include "I2cMailbox.h"

#include <cstdlib>

namespace host {

namespace {

constexpr uint8_t kEepromAddress = 0x53;
constexpr char kDefaultEepromFile[] = "eeprom.bin";
constexpr unsigned kDefaultFifoDepth = 16;
constexpr unsigned kDefaultReadFailsAfter = 3;
constexpr uint64_t kNsPerUs = 1000;
constexpr uint64_t kMaxDelayUs = 10'000'000; // ten seconds: longer is never acknowledged

// A knob in microseconds ("mailbox-ack-delay-us=1500") in nanoseconds, or Default without it.
uint64_t DelayNs(Board &B, const std::string &Knob, uint64_t Default) {
  return B.Fault(Knob) ? OptionNumber(Knob, B.FaultValue(Knob), kMaxDelayUs) * kNsPerUs : Default;
}

unsigned Count(Board &B, const std::string &Name, bool Fault, unsigned Default) {
  const std::string Text = Fault ? B.FaultValue(Name) : B.Setting(Name);
  if (Text.empty()) {
    return Default;
  }
  auto Value = ParseNumber(Text);
  if (!Value || *Value == 0 || *Value > 256) {
    throw std::invalid_argument(Name + " needs a count from 1 to 256, not \"" + Text + "\"");
  }
  return unsigned(*Value);
}

std::filesystem::path EepromImage(Board &B) {
  if (B.Has("eeprom")) {
    return B.Setting("eeprom");
  }
  return B.Options().OutDir.empty() ? std::filesystem::path() : B.Options().OutDir / kDefaultEepromFile;
}

// The image must be the part's size or empty (created erased), or absent with a folder that
// takes it.
std::string EepromPathProblem(const std::string &Value) {
  std::string Problem = FileProblem(Value, true, true);
  std::error_code Missing;
  if (Problem.empty() && std::filesystem::exists(Value, Missing)) {
    I2cEeprom::ReadImage(Value, Problem);
  }
  return Problem;
}

void ApplyControllerFaults(Board &B, I2cController &Controller) {
  Controller.Fault().StuckBusy = B.Fault(Controller.Name() + "-stuck-busy");
  Controller.Fault().NeverEnables = B.Fault(Controller.Name() + "-never-enables");
}

void I2cMailboxInstall(Board &B) {
  auto Bus0 = std::make_shared<I2cBus>("i2c-bus0");
  auto Bus1 = std::make_shared<I2cBus>("i2c-bus1");
  const unsigned RxDepth = Count(B, "i2c-rx-depth", false, kDefaultFifoDepth);
  const unsigned TxDepth = Count(B, "i2c-tx-depth", false, kDefaultFifoDepth);
  auto I2c0 = std::make_shared<I2cController>("i2c0", Bus0, RxDepth, TxDepth);
  auto I2c1 = std::make_shared<I2cController>("i2c1", Bus1, RxDepth, TxDepth);
  // The bus holds the EEPROM: its clock must not hold the bus in turn.
  auto Eeprom = std::make_shared<I2cEeprom>(EepromImage(B), [Bus = std::weak_ptr<I2cBus>(Bus1)] {
    auto Held = Bus.lock();
    return Held ? Held->TimeNs() : 0;
  });
  Bus1->AddTarget(kEepromAddress, Eeprom);

  auto Status = std::make_shared<StatusRegion>();
  std::map<uint64_t, uint32_t> Words;
  if (B.Has("pelmo-status") && !ParseStatusWords(B.Setting("pelmo-status"), Words)) {
    throw std::invalid_argument("pelmo-status needs OFFSET=VALUE,... inside the status region");
  }
  for (const auto &[Offset, Value] : Words) {
    Status->SetWord(Offset, Value);
  }
  auto Mailbox = std::make_shared<ManagementProcessor>(Bus1, Status);
  if (B.Has("pelmo-build-id")) {
    auto Id = ParseNumber(B.Setting("pelmo-build-id"));
    if (!Id || *Id > 0xFFFFFFFFull) {
      throw std::invalid_argument("pelmo-build-id needs a 32-bit number");
    }
    Mailbox->SetBuildId(uint32_t(*Id));
  }

  ApplyControllerFaults(B, *I2c0);
  ApplyControllerFaults(B, *I2c1);
  if (B.Fault("eeprom-read-fails")) {
    I2c1->Fault().ReadFailsAfter = Count(B, "eeprom-read-fails", true, kDefaultReadFailsAfter);
  }
  Eeprom->Fault().Nack = B.Fault("eeprom-nack");
  Eeprom->Fault().WriteCycleNs = DelayNs(B, "eeprom-write-cycle-us", I2cEeprom::kWriteCycleNs);
  Eeprom->Fault().StretchNs = DelayNs(B, "eeprom-stretch-us", 0);
  Mailbox->Fault().AckDelayNs = DelayNs(B, "mailbox-ack-delay-us", ManagementProcessor::kAckDelayNs);
  Mailbox->Fault().NoAck = B.Fault("mailbox-no-ack");
  Mailbox->Fault().NoReply = B.Fault("mailbox-no-reply");
  Mailbox->Fault().SilentFrom = B.FaultStep("mailbox-silent-from");
  Bus1->SetNackedTransfer(B.FaultStep("i2c1-nack"));

  B.Attach("i2c0", I2c0);
  B.Attach("i2c1", I2c1);
  B.Attach("mailbox", Mailbox);
  B.Attach("pelmo-status", Status);
  B.AddErrorSource([Bus0, Bus1] {
    std::vector<std::string> Errors = Bus0->ProtocolErrors();
    Errors.insert(Errors.end(), Bus1->ProtocolErrors().begin(), Bus1->ProtocolErrors().end());
    return Errors;
  });
  B.Provide("eeprom", Eeprom.get());
  B.Provide("i2c-bus1", Bus1.get());
}

// What the counting knobs could name in this boot.
void I2cMailboxFinish(Board &B) {
  B.LogFaultSteps("i2c1-nack", B.Producer<I2cBus>("i2c-bus1")->Transfers(), "transfers on I2C bus 1");
  B.LogFaultSteps("mailbox-silent-from", B.Model<ManagementProcessor>("mailbox").Messages().size(),
                  "mailbox messages");
}

} // namespace

bool ParseStatusWords(const std::string &Text, std::map<uint64_t, uint32_t> &Words) {
  for (size_t Start = 0; Start < Text.size();) {
    size_t End = Text.find(',', Start);
    End = End == std::string::npos ? Text.size() : End;
    const std::string Entry = Text.substr(Start, End - Start);
    const size_t Equals = Entry.find('=');
    auto Offset = ParseNumber(Entry.substr(0, Equals));
    auto Value = Equals == std::string::npos ? std::nullopt : ParseNumber(Entry.substr(Equals + 1));
    if (!Offset || !Value || *Offset >= StatusRegion::kSize || *Value > 0xFFFFFFFFull) {
      return false;
    }
    Words[*Offset] = uint32_t(*Value);
    Start = End + 1;
  }
  return true;
}

BoardComponent I2cMailboxComponent() {
  return {
      "i2c-mailbox",
      {
          {"i2c1", 0x10511000, I2cController::kBlockSize, EfiGcdMemoryTypeNonExistent, false},
          {"i2c0", 0x10512000, I2cController::kBlockSize, EfiGcdMemoryTypeNonExistent, false},
          {"mailbox", 0x10540000, ManagementProcessor::kSize, EfiGcdMemoryTypeNonExistent, false},
          {"pelmo-status", 0x17000000, StatusRegion::kSize, EfiGcdMemoryTypeNonExistent, false},
      },
      {
          {"eeprom", "FILE",
           "the board EEPROM's image of " + std::to_string(I2cEeprom::kSize) +
               " bytes (created erased when absent or empty; default eeprom.bin in the artifacts folder)",
           EepromPathProblem},
          {"pelmo-status", "OFFSET=VALUE,...", "status-region words the management processor publishes"},
          {"pelmo-build-id", "VALUE",
           "the build identifier the management processor answers (default 0x01020304)"},
          {"i2c-rx-depth", "N", "receive FIFO depth of the I2C controllers (default 16)"},
          {"i2c-tx-depth", "N", "transmit FIFO depth of the I2C controllers (default 16)"},
      },
      {
          {"mailbox-no-ack", "", "the management processor acknowledges (and acts on) no message"},
          {"mailbox-no-reply", "", "the management processor answers no query or file load"},
          {"mailbox-silent-from", "N",
           "the management processor acknowledges nothing from the N-th message on"},
          {"mailbox-ack-delay-us", "N",
           "the management processor acknowledges each message N us after it was posted (default 5)"},
          {"i2c1-nack", "N", "the N-th transfer on I2C bus 1 (any master, any target) is not acknowledged"},
          {"eeprom-nack", "", "the EEPROM acknowledges nothing"},
          {"eeprom-write-cycle-us", "N", "the EEPROM's internal write cycle lasts N us (default 3000)"},
          {"eeprom-stretch-us", "N", "the EEPROM holds the clock low N us before each byte it sends"},
          {"eeprom-read-fails", "[BYTES]", "an EEPROM read breaks down after BYTES bytes (default 3)"},
          {"i2c0-stuck-busy", "", "I2C controller 0 reports master activity for ever"},
          {"i2c1-stuck-busy", "", "I2C controller 1 reports master activity for ever"},
          {"i2c0-never-enables", "", "I2C controller 0 never reports itself enabled"},
          {"i2c1-never-enables", "", "I2C controller 1 never reports itself enabled"},
      },
      I2cMailboxInstall,
      I2cMailboxFinish,
  };
}

} // namespace host
