// The nine-word file-load request and its completion.
#include <Library/DebugLib.h>

#include "PelmoLibInternal.h"

namespace {

constexpr UINTN NAME_FIELD_BYTES = 16;
constexpr UINTN NAME_WORDS = NAME_FIELD_BYTES / sizeof(UINT32);
constexpr UINTN WORD_SPIN = 50000;
constexpr UINTN ADDRESS_HIGH_SPIN = 10000;
constexpr UINTN FINAL_SPIN = 1000000;
constexpr UINTN RETRY_SPIN = 1000000;

// The completion waits are bounded: about five seconds each (5000 status polls 1 ms apart,
// or 50 reply waits of up to 100 ms), far longer than a load of the largest file takes.
constexpr UINTN COMPLETION_POLLS = 5000;
constexpr UINTN COMPLETION_READ_ATTEMPTS = 50;

struct LOAD_WORD {
  UINT32 Message;
  UINT32 Data;
  UINTN Spin;
};

// The name in a 16-byte field (at most 15 characters, byte 15 always 0) as four words,
// least significant byte first.
VOID PackFileName(const CHAR8 *FileName, UINT32 *Words) {
  UINT8 Field[NAME_FIELD_BYTES] = {};
  for (UINTN Index = 0; Index < NAME_FIELD_BYTES - 1 && FileName[Index] != '\0'; Index++) {
    Field[Index] = (UINT8)FileName[Index];
  }
  for (UINTN Word = 0; Word < NAME_WORDS; Word++) {
    Words[Word] = 0;
    for (UINTN Byte = 0; Byte < sizeof(UINT32); Byte++) {
      Words[Word] |= (UINT32)Field[Word * sizeof(UINT32) + Byte] << (8 * Byte);
    }
  }
}

BOOLEAN LoadFinishedInStatusRegion() {
  return PelmoStatusWord(PELMO_STATUS_LOAD_PROGRESS) == PELMO_LOAD_PROGRESS_DONE ||
         (PelmoStatusWord(PELMO_STATUS_LOAD_ACTIVITY) & PELMO_LOAD_ACTIVITY_MASK) == 0;
}

EFI_STATUS WaitForCompletion() {
  if ((PelmoStatusWord(PELMO_STATUS_FIRMWARE) >> 24) == PELMO_POLLED_LOAD_MARK) {
    for (UINTN Poll = 0; Poll < COMPLETION_POLLS; Poll++) {
      if (LoadFinishedInStatusRegion()) {
        return EFI_SUCCESS;
      }
      PelmoSpin(RETRY_SPIN);
    }
    return EFI_TIMEOUT;
  }
  for (UINTN Attempt = 0; Attempt < COMPLETION_READ_ATTEMPTS; Attempt++) {
    UINT32 Reply = 0;
    if (!EFI_ERROR(TessilReadIppMsg(&Reply))) {
      return (Reply >> PELMO_REPLY_CLASS_SHIFT) == PELMO_REPLY_CLASS_SUCCESS ? EFI_SUCCESS : EFI_TIMEOUT;
    }
    PelmoSpin(RETRY_SPIN);
  }
  return EFI_TIMEOUT;
}

} // namespace

EFI_STATUS TessilIppLoadFile(const CHAR8 *FileName, UINT64 Destination, UINT64 RangeStart, UINT64 RangeSize) {
  DEBUG((PELMO_DEBUG_VERBOSE, "In TessilIppLoadFile\n"));
  if (FileName == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 Name[NAME_WORDS];
  PackFileName(FileName, Name);
  const UINT32 First =
      (RangeStart == 0 && RangeSize == PELMO_WHOLE_FILE_SIZE) ? PELMO_LOAD_WHOLE_FILE : PELMO_LOAD_RANGE;
  DEBUG((PELMO_DEBUG_VERBOSE, "%x\n", First));
  for (UINTN Word = 0; Word < NAME_WORDS; Word++) {
    DEBUG((PELMO_DEBUG_VERBOSE, "%x\n", Name[Word]));
  }
  DEBUG((PELMO_DEBUG_VERBOSE, "%x\n", (UINT32)RangeStart));
  DEBUG((PELMO_DEBUG_VERBOSE, "%x\n", (UINT32)RangeSize));
  DEBUG((PELMO_DEBUG_VERBOSE, "%016LX\n", Destination));

  const LOAD_WORD Words[PELMO_LOAD_WORDS] = {
      {PelmoLoadWord(PELMO_LOAD_FIRST, 0), First, WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 1), Name[0], WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 2), Name[1], WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 3), Name[2], WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 4), Name[3], WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 5), (UINT32)RangeStart, WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 6), (UINT32)RangeSize, WORD_SPIN},
      {PelmoLoadWord(PELMO_LOAD_CONTINUATION, 7), (UINT32)(Destination >> 32), ADDRESS_HIGH_SPIN},
      {PelmoLoadWord(PELMO_LOAD_FINAL, 8), (UINT32)Destination, FINAL_SPIN},
  };
  for (const LOAD_WORD &Word : Words) {
    PelmoSendMsg(Word.Message, Word.Data);
    PelmoSpin(Word.Spin);
  }
  return WaitForCompletion();
}
