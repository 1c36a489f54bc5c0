// Small helpers of the core: GUID and UTF-16 text, CRC32, device path walking.
#include "CoreInternal.h"

#include <cstdio>

namespace host {

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1,
                Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3],
                Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
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

size_t DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<size_t>(Node->Length[0]) | (static_cast<size_t>(Node->Length[1]) << 8);
}

bool IsDevicePathEndNode(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return Node->Type == END_DEVICE_PATH_TYPE;
}

size_t DevicePathInstanceSize(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  // A node shorter than its header would loop for ever; such a path ends there.
  constexpr size_t kMaxPathBytes = 64 * 1024;
  size_t Size = 0;
  const auto *Bytes = reinterpret_cast<const uint8_t *>(Path);
  while (Size < kMaxPathBytes) {
    const auto *Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Bytes + Size);
    size_t Length = DevicePathNodeLength(Node);
    if (IsDevicePathEndNode(Node) || Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      break;
    }
    Size += Length;
  }
  return Size;
}

} // namespace host
