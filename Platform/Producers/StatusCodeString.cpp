// Decoding of status-code string records, apart from the protocol so that it can be
// exercised on its own.
#include "StatusCodeListener.h"

#include <cstring>

namespace host {
namespace {

constexpr UINT16 STRING_DATA_HEADER_SIZE = sizeof(EFI_STATUS_CODE_DATA);
constexpr UINT16 STRING_DATA_BODY_SIZE = sizeof(EFI_STATUS_CODE_STRING_DATA) - sizeof(EFI_STATUS_CODE_DATA);
constexpr EFI_GUID STRING_DATA_TYPE = EFI_STATUS_CODE_DATA_TYPE_STRING_GUID;

// The text a module hands over need not be aligned for CHAR16: each character is read as
// two bytes.
std::string NarrowUnicode(const CHAR16 *Text, size_t MaxLength) {
  const uint8_t *Bytes = reinterpret_cast<const uint8_t *>(Text);
  std::string Result;
  for (size_t Index = 0; Index < MaxLength; Index++) {
    CHAR16 Char;
    std::memcpy(&Char, Bytes + Index * sizeof(CHAR16), sizeof(Char));
    if (Char == u'\0') {
      break;
    }
    Result.push_back(static_cast<char>(Char & 0xFF));
  }
  return Result;
}

} // namespace

std::optional<std::string> DecodeStatusCodeString(const EFI_STATUS_CODE_DATA *Data, size_t MaxLength) {
  if (Data == nullptr || Data->HeaderSize != STRING_DATA_HEADER_SIZE || Data->Size < STRING_DATA_BODY_SIZE ||
      !CompareGuidValues(Data->Type, STRING_DATA_TYPE)) {
    return std::nullopt;
  }
  EFI_STATUS_CODE_STRING_DATA Record;
  std::memcpy(&Record, Data, sizeof(Record));
  switch (Record.StringType) {
  case EfiStringAscii:
    if (Record.String.Ascii == nullptr) {
      return std::nullopt;
    }
    return std::string(Record.String.Ascii, strnlen(Record.String.Ascii, MaxLength));
  case EfiStringUnicode:
    if (Record.String.Unicode == nullptr) {
      return std::nullopt;
    }
    return NarrowUnicode(Record.String.Unicode, MaxLength);
  default:
    // HII string tokens need a string database this board does not have.
    return std::nullopt;
  }
}

} // namespace host
