// Probe of the generated module wiring: a library constructor that fails stops the image
// before its entry, which would publish a protocol.
#include "CoreRulesProbe.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {
CORE_RULES_PROBE_PROTOCOL mReached = {NULL};
} // namespace

EFI_STATUS EFIAPI CoreRulesFailingConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return EFI_ABORTED;
}

EFI_STATUS EFIAPI CoreRulesWiringEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_HANDLE Handle = NULL;
  EFI_GUID Guid = kCoreRulesProbeGuid;
  return gBS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &mReached);
}
