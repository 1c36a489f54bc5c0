// Test image: polls a status register for a bit that never comes.
#include <HostAbi.h>
#include <Uefi.h>

namespace {
constexpr UINT64 kStatusRegister = 0x10540010;
constexpr UINT64 kReadyBit = 0x1;
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  while ((HostAbiMmioRead(kStatusRegister, 4) & kReadyBit) == 0) {
  }
  return EFI_SUCCESS;
}
