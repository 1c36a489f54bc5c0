// Text and checksum helpers of the host side.
#include "HostText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace host {

namespace {
constexpr uint32_t kCrc32Polynomial = 0xEDB88320u; // reflected IEEE 802.3

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> Table{};
  for (uint32_t Index = 0; Index < 256; Index++) {
    uint32_t Value = Index;
    for (int Bit = 0; Bit < 8; Bit++) {
      Value = (Value & 1) ? (Value >> 1) ^ kCrc32Polynomial : Value >> 1;
    }
    Table[Index] = Value;
  }
  return Table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
} // namespace

uint32_t Crc32(const void *Data, size_t Size) {
  const auto *Bytes = static_cast<const uint8_t *>(Data);
  uint32_t Crc = 0xFFFFFFFFu;
  for (size_t Index = 0; Index < Size; Index++) {
    Crc = kCrcTable[(Crc ^ Bytes[Index]) & 0xFF] ^ (Crc >> 8);
  }
  return Crc ^ 0xFFFFFFFFu;
}

std::string Utf16ToUtf8(const std::u16string &Text) {
  std::string Out;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    uint32_t Code = Text[Index];
    if (Code >= 0xD800 && Code <= 0xDBFF && Index + 1 < Text.size() && Text[Index + 1] >= 0xDC00 &&
        Text[Index + 1] <= 0xDFFF) {
      Code = 0x10000 + ((Code - 0xD800) << 10) + (Text[Index + 1] - 0xDC00);
      Index++;
    }
    if (Code < 0x80) {
      Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
      Out += static_cast<char>(0xC0 | (Code >> 6));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
      Out += static_cast<char>(0xE0 | (Code >> 12));
      Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (Code >> 18));
      Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
  }
  return Out;
}

std::u16string Utf8ToUtf16(const std::string &Text) {
  std::u16string Out;
  for (size_t Index = 0; Index < Text.size();) {
    const uint8_t Lead = static_cast<uint8_t>(Text[Index]);
    const int Extra = Lead < 0x80           ? 0
                      : (Lead >> 5) == 0x6  ? 1
                      : (Lead >> 4) == 0xE  ? 2
                      : (Lead >> 3) == 0x1E ? 3
                                            : -1;
    if (Extra < 0 || Index + Extra >= Text.size()) {
      Out.push_back(u'\uFFFD');
      Index++;
      continue;
    }
    char32_t Code = Extra == 0 ? Lead : Lead & (0x3F >> Extra);
    for (int Next = 1; Next <= Extra; Next++) {
      Code = (Code << 6) | (static_cast<uint8_t>(Text[Index + Next]) & 0x3F);
    }
    Index += Extra + 1;
    if (Code >= 0x10000) {
      Code -= 0x10000;
      Out.push_back(static_cast<char16_t>(0xD800 + (Code >> 10)));
      Out.push_back(static_cast<char16_t>(0xDC00 + (Code & 0x3FF)));
    } else {
      Out.push_back(static_cast<char16_t>(Code));
    }
  }
  return Out;
}

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

std::optional<EFI_GUID> ParseGuid(const std::string &Text) {
  constexpr size_t kLength = 36;
  constexpr std::array<size_t, 4> kDashes = {8, 13, 18, 23};
  std::string Text2 = Text;
  if (Text2.size() == kLength + 2 && Text2.front() == '{' && Text2.back() == '}') {
    Text2 = Text2.substr(1, kLength);
  }
  if (Text2.size() != kLength) {
    return std::nullopt;
  }
  std::string Hex;
  for (size_t Index = 0; Index < kLength; Index++) {
    const bool Dash = std::find(kDashes.begin(), kDashes.end(), Index) != kDashes.end();
    if (Dash != (Text2[Index] == '-') ||
        (!Dash && !std::isxdigit(static_cast<unsigned char>(Text2[Index])))) {
      return std::nullopt;
    }
    if (!Dash) {
      Hex.push_back(Text2[Index]);
    }
  }
  auto Field = [&Hex](size_t Offset, size_t Digits) {
    return std::stoull(Hex.substr(Offset, Digits), nullptr, 16);
  };
  EFI_GUID Guid{};
  Guid.Data1 = static_cast<UINT32>(Field(0, 8));
  Guid.Data2 = static_cast<UINT16>(Field(8, 4));
  Guid.Data3 = static_cast<UINT16>(Field(12, 4));
  for (size_t Index = 0; Index < 8; Index++) {
    Guid.Data4[Index] = static_cast<UINT8>(Field(16 + 2 * Index, 2));
  }
  return Guid;
}

std::optional<uint64_t> ParseNumber(const std::string &Text) {
  if (Text.empty() || Text[0] == '-') {
    return std::nullopt;
  }
  char *End = nullptr;
  errno = 0;
  const unsigned long long Value = std::strtoull(Text.c_str(), &End, 0);
  if (errno != 0 || *End != '\0') {
    return std::nullopt;
  }
  return Value;
}

} // namespace host
