// Test image: counts its starts in a global and publishes the global, so a test can see
// whether two loads share their globals.
#include <Uefi.h>

namespace {
UINT32 StartCount = 0;
constexpr EFI_GUID kCounterGuid = {
    0x7D1C3F62, 0x1B0E, 0x4C55, {0x9A, 0x11, 0x52, 0x0D, 0x3E, 0x64, 0x71, 0x02}};
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  StartCount++;
  EFI_GUID Guid = kCounterGuid;
  EFI_HANDLE Handle = nullptr;
  return SystemTable->BootServices->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE,
                                                             &StartCount);
}
