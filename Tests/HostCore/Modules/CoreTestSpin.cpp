// Test image: spins on a flag in memory that nothing sets, without a call into the core.
#include <Uefi.h>

namespace {
volatile UINT32 Ready = 0;
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  while (Ready == 0) {
  }
  return EFI_SUCCESS;
}
