// Component Name 2 protocol (RFC 4646 language codes; UEFI 2.x, section 11.5).
#pragma once

#include <Uefi.h>

#define EFI_COMPONENT_NAME2_PROTOCOL_GUID                                                                    \
  {                                                                                                          \
    0x6A7A5CFF, 0xE8D9, 0x4F70, {                                                                            \
      0xBA, 0xDA, 0x75, 0xAB, 0x30, 0x25, 0xCE, 0x14                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiComponentName2ProtocolGuid;

struct EFI_COMPONENT_NAME2_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME2_GET_DRIVER_NAME)(EFI_COMPONENT_NAME2_PROTOCOL *This,
                                                                CHAR8 *Language, CHAR16 **DriverName);
typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME2_GET_CONTROLLER_NAME)(EFI_COMPONENT_NAME2_PROTOCOL *This,
                                                                    EFI_HANDLE ControllerHandle,
                                                                    EFI_HANDLE ChildHandle, CHAR8 *Language,
                                                                    CHAR16 **ControllerName);
struct EFI_COMPONENT_NAME2_PROTOCOL {
  EFI_COMPONENT_NAME2_GET_DRIVER_NAME GetDriverName;
  EFI_COMPONENT_NAME2_GET_CONTROLLER_NAME GetControllerName;
  CHAR8 *SupportedLanguages;
};
static_assert(sizeof(EFI_COMPONENT_NAME2_PROTOCOL) == 24);
