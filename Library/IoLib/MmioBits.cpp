// Read-modify-write helpers on 32-bit registers; each returns the value written.
#include <Library/IoLib.h>

UINT32 MmioOr32(UINTN Address, UINT32 OrData) {
  return MmioWrite32(Address, MmioRead32(Address) | OrData);
}

UINT32 MmioAnd32(UINTN Address, UINT32 AndData) {
  return MmioWrite32(Address, MmioRead32(Address) & AndData);
}

UINT32 MmioAndThenOr32(UINTN Address, UINT32 AndData, UINT32 OrData) {
  return MmioWrite32(Address, (MmioRead32(Address) & AndData) | OrData);
}
