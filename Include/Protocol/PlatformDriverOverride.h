// Platform Driver Override protocol: the platform names the drivers to try first for a
// controller (UEFI driver model).
#pragma once

#include <Protocol/DevicePath.h>
#include <Uefi.h>

#define EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL_GUID                                                           \
  {                                                                                                          \
    0x6B30C738, 0xA391, 0x11D4, {                                                                            \
      0x9A, 0x3B, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiPlatformDriverOverrideProtocolGuid;

struct EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL;

// Starting with *DriverImageHandle NULL, each call returns the next driver image handle for
// the controller, in priority order; EFI_NOT_FOUND ends the list.
typedef EFI_STATUS(EFIAPI *EFI_PLATFORM_DRIVER_OVERRIDE_GET_DRIVER)(
    EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL *This, EFI_HANDLE ControllerHandle, EFI_HANDLE *DriverImageHandle);
typedef EFI_STATUS(EFIAPI *EFI_PLATFORM_DRIVER_OVERRIDE_GET_DRIVER_PATH)(
    EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL *This, EFI_HANDLE ControllerHandle,
    EFI_DEVICE_PATH_PROTOCOL **DriverImagePath);
typedef EFI_STATUS(EFIAPI *EFI_PLATFORM_DRIVER_OVERRIDE_DRIVER_LOADED)(
    EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL *This, EFI_HANDLE ControllerHandle,
    EFI_DEVICE_PATH_PROTOCOL *DriverImagePath, EFI_HANDLE DriverImageHandle);

struct EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL {
  EFI_PLATFORM_DRIVER_OVERRIDE_GET_DRIVER GetDriver;
  EFI_PLATFORM_DRIVER_OVERRIDE_GET_DRIVER_PATH GetDriverPath;
  EFI_PLATFORM_DRIVER_OVERRIDE_DRIVER_LOADED DriverLoaded;
};
static_assert(sizeof(EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL) == 24);
