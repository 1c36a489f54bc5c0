// Bounded string copies and concatenation. Every check runs before the destination is
// written, so a failed call leaves it as it was.
#include "StringCore.h"

using namespace BaseLibInternal;

namespace {

template <typename Char> constexpr UINTN MaxStringLength() {
  return sizeof(Char) == 1 ? MAX_ASCII_STRING_LENGTH : MAX_UNICODE_STRING_LENGTH;
}

template <typename Char>
RETURN_STATUS CheckDestination(const Char *Destination, UINTN DestMax, const Char *Source) {
  if (Destination == NULL || Source == NULL || DestMax == 0 || DestMax > MaxStringLength<Char>()) {
    return RETURN_INVALID_PARAMETER;
  }
  return RETURN_SUCCESS;
}

template <typename Char> void CopyCharacters(Char *Destination, const Char *Source, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    Destination[Index] = Source[Index];
  }
  Destination[Count] = 0;
}

template <typename Char>
RETURN_STATUS BoundedCopy(Char *Destination, UINTN DestMax, const Char *Source, UINTN Length) {
  RETURN_STATUS Status = CheckDestination(Destination, DestMax, Source);
  if (Status != RETURN_SUCCESS) {
    return Status;
  }
  if (Length > MaxStringLength<Char>() && Length != MAX_UINTN) {
    return RETURN_INVALID_PARAMETER;
  }
  UINTN SourceLength = BoundedLength(Source, Length < DestMax ? Length : DestMax);
  if (SourceLength >= DestMax) {
    return RETURN_BUFFER_TOO_SMALL;
  }
  if (Overlaps(Destination, DestMax * sizeof(Char), Source, (SourceLength + 1) * sizeof(Char))) {
    return RETURN_ACCESS_DENIED;
  }
  CopyCharacters(Destination, Source, SourceLength);
  return RETURN_SUCCESS;
}

template <typename Char> RETURN_STATUS Concatenate(Char *Destination, UINTN DestMax, const Char *Source) {
  RETURN_STATUS Status = CheckDestination(Destination, DestMax, Source);
  if (Status != RETURN_SUCCESS) {
    return Status;
  }
  UINTN DestLength = BoundedLength(Destination, DestMax);
  UINTN Room = DestMax - DestLength;
  if (Room == 0) {
    return RETURN_BAD_BUFFER_SIZE;
  }
  UINTN SourceLength = BoundedLength(Source, Room);
  if (SourceLength >= Room) {
    return RETURN_BUFFER_TOO_SMALL;
  }
  if (Overlaps(Destination, DestMax * sizeof(Char), Source, (SourceLength + 1) * sizeof(Char))) {
    return RETURN_ACCESS_DENIED;
  }
  CopyCharacters(Destination + DestLength, Source, SourceLength);
  return RETURN_SUCCESS;
}

} // namespace

RETURN_STATUS StrCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source) {
  return BoundedCopy(Destination, DestMax, Source, MAX_UINTN);
}

RETURN_STATUS StrnCpyS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source, UINTN Length) {
  return BoundedCopy(Destination, DestMax, Source, Length);
}

RETURN_STATUS StrCatS(CHAR16 *Destination, UINTN DestMax, const CHAR16 *Source) {
  return Concatenate(Destination, DestMax, Source);
}

RETURN_STATUS AsciiStrCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source) {
  return BoundedCopy(Destination, DestMax, Source, MAX_UINTN);
}

RETURN_STATUS AsciiStrnCpyS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source, UINTN Length) {
  return BoundedCopy(Destination, DestMax, Source, Length);
}

RETURN_STATUS AsciiStrCatS(CHAR8 *Destination, UINTN DestMax, const CHAR8 *Source) {
  return Concatenate(Destination, DestMax, Source);
}
