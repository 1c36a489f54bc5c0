// Lookup and cache of the debug-output protocol.
#include "DxeQuelDebugLibInternal.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {

// NULL until a lookup succeeds; a failed lookup sets it back to NULL.
DEBUG_OUTPUT_PROTOCOL *mDebugOutput = nullptr;

// The current task priority: raising to TPL_HIGH_LEVEL returns it, and restoring at once
// leaves it unchanged.
EFI_TPL CurrentTpl() {
  EFI_TPL Current = gBS->RaiseTPL(TPL_HIGH_LEVEL);
  gBS->RestoreTPL(Current);
  return Current;
}

} // namespace

DEBUG_OUTPUT_PROTOCOL *GetDebugOutputProtocol(VOID) {
  if (mDebugOutput != nullptr) {
    return mDebugOutput;
  }
  // Before the boot-services table library has run there is nothing to ask.
  if (gBS == nullptr) {
    return nullptr;
  }
  if (CurrentTpl() > TPL_NOTIFY) {
    return nullptr;
  }
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gDebugOutputProtocolGuid, nullptr, &Interface);
  mDebugOutput = EFI_ERROR(Status) ? nullptr : static_cast<DEBUG_OUTPUT_PROTOCOL *>(Interface);
  return mDebugOutput;
}
