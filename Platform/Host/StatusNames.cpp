// Status names as the core prints them in the board log: the system's one status-name table
// (the print library's), and the value in hexadecimal when it has no name.
#include "CoreInternal.h"

#include <cstdio>

namespace host {

std::string StatusName(EFI_STATUS Status) {
  if (const CHAR8 *Name = ::StatusCodeName(Status)) {
    return Name;
  }
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%016llX", static_cast<unsigned long long>(Status));
  return Text;
}

} // namespace host
