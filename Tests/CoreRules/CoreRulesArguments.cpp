// Probe of the event-type and OpenProtocol rules: each call below is refused by the core and
// is an error of the boot. The driver stays loaded with nothing left open.
#include "CoreRulesProbe.h"

#include <Library/UefiBootServicesTableLib.h>

namespace {

constexpr UINT32 kUndefinedEventType = 0x20000000;
constexpr UINT32 kUndefinedAttributes = 0x40;
constexpr EFI_GUID kSomeGroup = kCoreRulesProbeGuid;

VOID EFIAPI Ignore(EFI_EVENT Event, VOID *Context) {}

VOID MisuseEvents() {
  EFI_EVENT Event = NULL;
  gBS->CreateEvent(kUndefinedEventType, TPL_CALLBACK, Ignore, NULL, &Event);
  gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL, Ignore, NULL, &Event);
  gBS->CreateEventEx(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, Ignore, NULL, &kSomeGroup, &Event);
  if (!EFI_ERROR(gBS->CreateEvent(0, 0, NULL, NULL, &Event))) {
    gBS->SetTimer(Event, TimerRelative, 10);
    gBS->CloseEvent(Event);
  }
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Ignore, NULL, &Event))) {
    gBS->CheckEvent(Event);
    gBS->CloseEvent(Event);
  }
}

VOID MisuseOpens(EFI_HANDLE ImageHandle) {
  EFI_GUID Controller = kCoreRulesControllerGuid;
  EFI_HANDLE Handle = NULL;
  UINTN Size = sizeof(Handle);
  if (EFI_ERROR(gBS->LocateHandle(ByProtocol, &Controller, NULL, &Size, &Handle))) {
    return;
  }
  VOID *Interface = NULL;
  gBS->OpenProtocol(Handle, &Controller, &Interface, NULL, Handle, EFI_OPEN_PROTOCOL_BY_DRIVER);
  gBS->OpenProtocol(Handle, &Controller, &Interface, ImageHandle, Handle,
                    EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
  gBS->OpenProtocol(Handle, &Controller, &Interface, ImageHandle, Handle, kUndefinedAttributes);
}

} // namespace

EFI_STATUS EFIAPI CoreRulesArgumentsEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  MisuseEvents();
  MisuseOpens(ImageHandle);
  return EFI_SUCCESS;
}
