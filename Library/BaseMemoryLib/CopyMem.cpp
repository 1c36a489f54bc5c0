// Overlap-safe copy: forwards when the destination starts below the source, backwards otherwise.
#include "MemoryCore.h"

using namespace BaseMemoryInternal;

namespace {

void CopyForward(UINT8 *Destination, const UINT8 *Source, UINTN Length) {
  if (WordAligned(Destination, Source, Length)) {
    AliasedUint64 *To = reinterpret_cast<AliasedUint64 *>(Destination);
    const AliasedUint64 *From = reinterpret_cast<const AliasedUint64 *>(Source);
    for (UINTN Index = 0; Index < Length / WordSize; Index++) {
      To[Index] = From[Index];
    }
    return;
  }
  for (UINTN Index = 0; Index < Length; Index++) {
    Destination[Index] = Source[Index];
  }
}

void CopyBackward(UINT8 *Destination, const UINT8 *Source, UINTN Length) {
  if (WordAligned(Destination, Source, Length)) {
    AliasedUint64 *To = reinterpret_cast<AliasedUint64 *>(Destination);
    const AliasedUint64 *From = reinterpret_cast<const AliasedUint64 *>(Source);
    for (UINTN Index = Length / WordSize; Index > 0; Index--) {
      To[Index - 1] = From[Index - 1];
    }
    return;
  }
  for (UINTN Index = Length; Index > 0; Index--) {
    Destination[Index - 1] = Source[Index - 1];
  }
}

} // namespace

VOID *CopyMem(VOID *DestinationBuffer, const VOID *SourceBuffer, UINTN Length) {
  UINT8 *Destination = static_cast<UINT8 *>(DestinationBuffer);
  const UINT8 *Source = static_cast<const UINT8 *>(SourceBuffer);
  if (Length == 0 || Destination == Source) {
    return DestinationBuffer;
  }
  if (Destination < Source || Destination >= Source + Length) {
    CopyForward(Destination, Source, Length);
  } else {
    CopyBackward(Destination, Source, Length);
  }
  return DestinationBuffer;
}
