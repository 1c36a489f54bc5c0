// The driver's and the controller's names for Component Name ("eng", three-letter codes) and
// Component Name 2 ("en", RFC 4646 codes), from one table keyed by both.
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>

#include "VantorGraphics.h"

namespace {

CHAR8 LANGUAGES_BOTH[] = "eng;en";
CHAR16 DRIVER_NAME[] = u"Vantor Graphics Driver";
CHAR16 CONTROLLER_NAME[] = u"Vantor Graphics PCI Adapter";

const EFI_UNICODE_STRING_TABLE DRIVER_NAME_TABLE[] = {{LANGUAGES_BOTH, DRIVER_NAME}, {NULL, NULL}};
const EFI_UNICODE_STRING_TABLE CONTROLLER_NAME_TABLE[] = {{LANGUAGES_BOTH, CONTROLLER_NAME}, {NULL, NULL}};

// EFI_SUCCESS when this driver holds Controller's PCI I/O; EFI_UNSUPPORTED otherwise.
EFI_STATUS ManagedByThisDriver(EFI_HANDLE Controller) {
  VOID *PciIo = NULL;
  EFI_STATUS Status =
      gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, &PciIo, gVantorDriverBinding.DriverBindingHandle,
                        Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (!EFI_ERROR(Status)) {
    gBS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, gVantorDriverBinding.DriverBindingHandle,
                       Controller);
    return EFI_UNSUPPORTED;
  }
  return Status == EFI_ALREADY_STARTED ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

EFI_STATUS ControllerName(EFI_HANDLE Controller, EFI_HANDLE Child, CHAR8 *Language, const CHAR8 *Supported,
                          CHAR16 **Name, BOOLEAN Iso639) {
  if (Child != NULL) {
    return EFI_UNSUPPORTED;
  }
  EFI_STATUS Status = ManagedByThisDriver(Controller);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return LookupUnicodeString2(Language, Supported, CONTROLLER_NAME_TABLE, Name, Iso639);
}

EFI_STATUS EFIAPI GetDriverName(EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language, CHAR16 **Name) {
  return LookupUnicodeString2(Language, This->SupportedLanguages, DRIVER_NAME_TABLE, Name, TRUE);
}

EFI_STATUS EFIAPI GetDriverName2(EFI_COMPONENT_NAME2_PROTOCOL *This, CHAR8 *Language, CHAR16 **Name) {
  return LookupUnicodeString2(Language, This->SupportedLanguages, DRIVER_NAME_TABLE, Name, FALSE);
}

EFI_STATUS EFIAPI GetControllerName(EFI_COMPONENT_NAME_PROTOCOL *This, EFI_HANDLE Controller,
                                    EFI_HANDLE Child, CHAR8 *Language, CHAR16 **Name) {
  return ControllerName(Controller, Child, Language, This->SupportedLanguages, Name, TRUE);
}

EFI_STATUS EFIAPI GetControllerName2(EFI_COMPONENT_NAME2_PROTOCOL *This, EFI_HANDLE Controller,
                                     EFI_HANDLE Child, CHAR8 *Language, CHAR16 **Name) {
  return ControllerName(Controller, Child, Language, This->SupportedLanguages, Name, FALSE);
}

CHAR8 LANGUAGE_ISO639[] = "eng";
CHAR8 LANGUAGE_RFC4646[] = "en";

} // namespace

EFI_COMPONENT_NAME_PROTOCOL gVantorComponentName = {GetDriverName, GetControllerName, LANGUAGE_ISO639};
EFI_COMPONENT_NAME2_PROTOCOL gVantorComponentName2 = {GetDriverName2, GetControllerName2, LANGUAGE_RFC4646};
