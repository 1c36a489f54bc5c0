// SpinProbe: spins on a flag in memory that nothing sets, without a call into the core, so that
// the emulated board's tests can show the progress watchdog stops an image on the processor.
// Never loaded by real firmware.
#include <Uefi.h>

namespace {
volatile UINT32 mReady = 0;
} // namespace

EFI_STATUS EFIAPI SpinProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  while (mReady == 0) {
  }
  return EFI_SUCCESS;
}
