// Test image: stops in a dead loop a few frames deep, the way CpuDeadLoop does on the host.
#include <HostAbi.h>
#include <Uefi.h>

namespace {
volatile UINT32 Depth = 0;

[[gnu::noinline]] VOID Inner() {
  Depth = Depth + 1;
  HostAbiHalt("CpuDeadLoop");
}

[[gnu::noinline]] EFI_STATUS Outer() {
  Inner();
  Depth = Depth + 1;
  return EFI_SUCCESS;
}
} // namespace

extern "C" EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return Outer();
}
