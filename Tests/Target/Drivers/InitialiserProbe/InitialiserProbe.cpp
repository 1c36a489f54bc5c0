// InitialiserProbe: a global whose value needs code at load time. Nothing runs such code in a
// UEFI image (there is no C runtime), so real firmware would see the global still zero; the
// image checks must reject the initialiser section this file makes the compiler emit.
#include <Uefi.h>

namespace {

volatile UINT32 mSeedSource = 7;

UINT32 ReadSeed() {
  return mSeedSource;
}

UINT32 mSeed = ReadSeed(); // a dynamic initialiser, on purpose

} // namespace

EFI_STATUS EFIAPI InitialiserProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return mSeed == mSeedSource ? EFI_SUCCESS : EFI_LOAD_ERROR;
}
