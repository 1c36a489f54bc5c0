// libFuzzer target for the status-code string decoder of the host listener. The input is
//   byte 0      where the string pointer goes: into the record's own bytes, to a separate
//               block of unterminated bytes, to NULL, or left as the input has it when that
//               is NULL
//   bytes 1-2   offset of the text inside the chosen block (little-endian)
//   bytes 3-4   the character limit handed to the decoder
//   the rest    the data record (header, type GUID, string type, pointer, and what follows)
// The record sits in a buffer of exactly the size its header claims (at least the input's),
// followed by NUL bytes; the separate block holds no NUL at all, so the decoder may only
// stop there by its character limit. Any read beyond either buffer is reported by ASan.
#include "StatusCodeListener.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t PREFIX_BYTES = 5;
constexpr size_t STRING_POINTER_OFFSET = offsetof(EFI_STATUS_CODE_STRING_DATA, String);
constexpr size_t STRING_TYPE_OFFSET = offsetof(EFI_STATUS_CODE_STRING_DATA, StringType);
// A NUL character behind the record whatever the alignment of a Unicode text.
constexpr size_t TERMINATOR_BYTES = 3;
constexpr size_t MAX_LIMIT = 512;
constexpr EFI_GUID STRING_DATA_TYPE = EFI_STATUS_CODE_DATA_TYPE_STRING_GUID;

enum class PointerTarget : uint8_t { Record, Unterminated, Null, AsGiven };
constexpr uint8_t POINTER_TARGET_COUNT = 4;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

uint16_t GetU16(const uint8_t *Bytes) {
  return static_cast<uint16_t>(Bytes[0] | (Bytes[1] << 8));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < PREFIX_BYTES + sizeof(EFI_STATUS_CODE_DATA)) {
    return 0;
  }
  const auto Target = static_cast<PointerTarget>(Data[0] % POINTER_TARGET_COUNT);
  const size_t Offset = GetU16(Data + 1);
  const size_t Limit = GetU16(Data + 3) % MAX_LIMIT;
  const uint8_t *Block = Data + PREFIX_BYTES;
  const size_t BlockSize = Size - PREFIX_BYTES;

  EFI_STATUS_CODE_DATA Header;
  std::memcpy(&Header, Block, sizeof(Header));
  const size_t Claimed = size_t(Header.HeaderSize) + Header.Size;
  const size_t RecordSize = Claimed > BlockSize ? Claimed : BlockSize;
  // std::vector storage is suitably aligned for the record's fields.
  std::vector<uint8_t> Record(RecordSize + TERMINATOR_BYTES, 0);
  std::memcpy(Record.data(), Block, BlockSize);
  // Unterminated bytes: the block again, cut right where the text must end by the limit.
  std::vector<uint8_t> Garbage(Block, Block + BlockSize);
  for (uint8_t &Byte : Garbage) {
    Byte |= 0x01; // no NUL anywhere
  }

  const bool HasPointerField = RecordSize >= STRING_POINTER_OFFSET + sizeof(void *);
  const bool Unicode = RecordSize >= STRING_TYPE_OFFSET + sizeof(EFI_STRING_TYPE) &&
                       Record[STRING_TYPE_OFFSET] == EfiStringUnicode;
  const size_t CharSize = Unicode ? sizeof(CHAR16) : sizeof(CHAR8);
  size_t Room = SIZE_MAX; // bytes readable behind the pointer before the limit must have stopped
  if (HasPointerField) {
    const uint8_t *Text = nullptr;
    switch (Target) {
    case PointerTarget::Record:
      Text = Record.data() + Offset % (RecordSize + 1);
      break;
    case PointerTarget::Unterminated: {
      // Exactly Limit characters behind the pointer, then the end of the buffer.
      const size_t Wanted = Limit * CharSize;
      if (Wanted > Garbage.size()) {
        Garbage.resize(Wanted, 0x41);
      }
      Text = Garbage.data() + (Garbage.size() - Wanted);
      Room = Wanted;
      break;
    }
    case PointerTarget::Null:
      break;
    case PointerTarget::AsGiven:
      std::memcpy(&Text, Record.data() + STRING_POINTER_OFFSET, sizeof(Text));
      if (Text != nullptr) {
        return 0; // an address the input made up cannot be read by anyone
      }
      break;
    }
    std::memcpy(Record.data() + STRING_POINTER_OFFSET, &Text, sizeof(Text));
  }

  const auto Decoded =
      host::DecodeStatusCodeString(reinterpret_cast<const EFI_STATUS_CODE_DATA *>(Record.data()), Limit);
  if (!Decoded.has_value()) {
    return 0;
  }
  // Only a sound string record with a text pointer decodes.
  Check(Header.HeaderSize == sizeof(EFI_STATUS_CODE_DATA));
  Check(Header.Size >= sizeof(EFI_STATUS_CODE_STRING_DATA) - sizeof(EFI_STATUS_CODE_DATA));
  Check(CompareGuidValues(Header.Type, STRING_DATA_TYPE));
  Check(HasPointerField && (Target == PointerTarget::Record || Target == PointerTarget::Unterminated));
  Check(Decoded->size() <= Limit && Decoded->size() * CharSize <= Room);
  Check(Decoded->find('\0') == std::string::npos || Unicode);
  return 0;
}
