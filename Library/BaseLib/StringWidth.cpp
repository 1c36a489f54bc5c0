// Conversion between CHAR16 and CHAR8 text. A CHAR16 character above 0xFF cannot be narrowed
// and fails the whole conversion instead of being cut to its low byte.
#include "StringCore.h"

using namespace BaseLibInternal;

namespace {

constexpr UINT32 MaxNarrowCharacter = 0xFF;

template <typename From, typename To>
RETURN_STATUS ConvertWidth(const From *Source, To *Destination, UINTN DestMax) {
  if (Destination == NULL || Source == NULL || DestMax == 0 || DestMax > MAX_ASCII_STRING_LENGTH) {
    return RETURN_INVALID_PARAMETER;
  }
  UINTN SourceLength = BoundedLength(Source, DestMax);
  if (SourceLength >= DestMax) {
    return RETURN_BUFFER_TOO_SMALL;
  }
  if (Overlaps(Destination, DestMax * sizeof(To), Source, (SourceLength + 1) * sizeof(From))) {
    return RETURN_ACCESS_DENIED;
  }
  for (UINTN Index = 0; Index < SourceLength; Index++) {
    if (CharValue(Source[Index]) > MaxNarrowCharacter) {
      return RETURN_INVALID_PARAMETER;
    }
  }
  for (UINTN Index = 0; Index < SourceLength; Index++) {
    Destination[Index] = static_cast<To>(CharValue(Source[Index]));
  }
  Destination[SourceLength] = 0;
  return RETURN_SUCCESS;
}

} // namespace

RETURN_STATUS UnicodeStrToAsciiStrS(const CHAR16 *Source, CHAR8 *Destination, UINTN DestMax) {
  return ConvertWidth(Source, Destination, DestMax);
}

RETURN_STATUS AsciiStrToUnicodeStrS(const CHAR8 *Source, CHAR16 *Destination, UINTN DestMax) {
  return ConvertWidth(Source, Destination, DestMax);
}
