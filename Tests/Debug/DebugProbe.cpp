// Entry of the DebugProbe test module.
#include "DebugProbe.h"

#include <Library/DebugLib.h>
#include <Library/EfiLib.h>
#include <Library/UefiBootServicesTableLib.h>

namespace {

VOID AssertEfiError(EFI_STATUS Status) {
  ASSERT_EFI_ERROR(Status);
}

constexpr DEBUG_PROBE_FUNCTIONS mFunctions = {
    DebugPrint,        DebugAssert,      DebugClearMemory,        DebugAssertEnabled,
    DebugPrintEnabled, DebugCodeEnabled, DebugClearMemoryEnabled, AssertEfiError,
    TraceMessage,      LibAssert,
};

EFI_GUID mProbeGuid = DEBUG_PROBE_PROTOCOL_GUID;

} // namespace

EFI_STATUS EFIAPI DebugProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  LibInitialize(ImageHandle, SystemTable);
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&mProbeGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return static_cast<DEBUG_PROBE_PROTOCOL *>(Interface)->Run(&mFunctions);
}
