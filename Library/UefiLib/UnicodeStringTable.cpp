// Name lookup for the Component Name protocols: a table of (language list, name) rows.
// Three-letter (ISO 639-2) languages are matched in steps of three characters, so "engfra"
// and "eng;fra" both hold "eng" and "fra". RFC 4646 languages are matched as whole entries
// of a semicolon-separated list.
#include <Library/BaseLib.h>
#include <Library/UefiLib.h>

namespace {

constexpr UINTN Iso639Length = 3;
constexpr CHAR8 LanguageSeparator = ';';

bool ContainsIso639(const CHAR8 *List, const CHAR8 *Language) {
  while (*List != 0) {
    if (*List == LanguageSeparator) {
      List++;
      continue;
    }
    UINTN Length = 0;
    while (Length < Iso639Length && List[Length] != 0 && List[Length] != LanguageSeparator) {
      Length++;
    }
    if (Length == Iso639Length && AsciiStrnCmp(List, Language, Iso639Length) == 0) {
      return true;
    }
    List += Length;
  }
  return false;
}

bool ContainsRfc4646(const CHAR8 *List, const CHAR8 *Language) {
  UINTN LanguageLength = AsciiStrLen(Language);
  while (*List != 0) {
    UINTN Length = 0;
    while (List[Length] != 0 && List[Length] != LanguageSeparator) {
      Length++;
    }
    if (Length == LanguageLength && AsciiStrnCmp(List, Language, Length) == 0) {
      return true;
    }
    List += Length;
    if (*List == LanguageSeparator) {
      List++;
    }
  }
  return false;
}

bool Contains(const CHAR8 *List, const CHAR8 *Language, BOOLEAN Iso639Language) {
  return Iso639Language ? ContainsIso639(List, Language) : ContainsRfc4646(List, Language);
}

} // namespace

EFI_STATUS LookupUnicodeString2(const CHAR8 *Language, const CHAR8 *SupportedLanguages,
                                const EFI_UNICODE_STRING_TABLE *UnicodeStringTable, CHAR16 **UnicodeString,
                                BOOLEAN Iso639Language) {
  if (Language == NULL || UnicodeString == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  if (SupportedLanguages == NULL || UnicodeStringTable == NULL) {
    return EFI_UNSUPPORTED;
  }
  if (Iso639Language && AsciiStrnLenS(Language, Iso639Length) < Iso639Length) {
    return EFI_UNSUPPORTED;
  }
  if (!Contains(SupportedLanguages, Language, Iso639Language)) {
    return EFI_UNSUPPORTED;
  }
  for (const EFI_UNICODE_STRING_TABLE *Row = UnicodeStringTable; Row->Language != NULL; Row++) {
    if (Contains(Row->Language, Language, Iso639Language)) {
      *UnicodeString = Row->UnicodeString;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}
