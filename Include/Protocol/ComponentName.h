// Component Name protocol (ISO 639-2 language codes; UEFI 2.x, section 11.5 of older revisions).
#pragma once

#include <Uefi.h>

#define EFI_COMPONENT_NAME_PROTOCOL_GUID                                                                     \
  {                                                                                                          \
    0x107A772C, 0xD5E1, 0x11D4, {                                                                            \
      0x9A, 0x46, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiComponentNameProtocolGuid;

struct EFI_COMPONENT_NAME_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME_GET_DRIVER_NAME)(EFI_COMPONENT_NAME_PROTOCOL *This,
                                                               CHAR8 *Language, CHAR16 **DriverName);
typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME_GET_CONTROLLER_NAME)(EFI_COMPONENT_NAME_PROTOCOL *This,
                                                                   EFI_HANDLE ControllerHandle,
                                                                   EFI_HANDLE ChildHandle, CHAR8 *Language,
                                                                   CHAR16 **ControllerName);
struct EFI_COMPONENT_NAME_PROTOCOL {
  EFI_COMPONENT_NAME_GET_DRIVER_NAME GetDriverName;
  EFI_COMPONENT_NAME_GET_CONTROLLER_NAME GetControllerName;
  CHAR8 *SupportedLanguages;
};
static_assert(sizeof(EFI_COMPONENT_NAME_PROTOCOL) == 24);
