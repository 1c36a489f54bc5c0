// Driver Binding protocol (UEFI 2.x, section 11.1).
#pragma once

#include <Uefi.h>

#define EFI_DRIVER_BINDING_PROTOCOL_GUID                                                                     \
  {                                                                                                          \
    0x18A031AB, 0xB443, 0x4D1A, {                                                                            \
      0xA5, 0xC0, 0x0C, 0x09, 0x26, 0x1E, 0x9F, 0x71                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiDriverBindingProtocolGuid;

struct EFI_DRIVER_BINDING_PROTOCOL;
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_SUPPORTED)(EFI_DRIVER_BINDING_PROTOCOL *This,
                                                         EFI_HANDLE ControllerHandle,
                                                         EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_START)(EFI_DRIVER_BINDING_PROTOCOL *This,
                                                     EFI_HANDLE ControllerHandle,
                                                     EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_STOP)(EFI_DRIVER_BINDING_PROTOCOL *This,
                                                    EFI_HANDLE ControllerHandle, UINTN NumberOfChildren,
                                                    EFI_HANDLE *ChildHandleBuffer);

struct EFI_DRIVER_BINDING_PROTOCOL {
  EFI_DRIVER_BINDING_SUPPORTED Supported;
  EFI_DRIVER_BINDING_START Start;
  EFI_DRIVER_BINDING_STOP Stop;
  UINT32 Version;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DriverBindingHandle;
};
static_assert(sizeof(EFI_DRIVER_BINDING_PROTOCOL) == 48);
static_assert(OFFSET_OF(EFI_DRIVER_BINDING_PROTOCOL, ImageHandle) == 32);
