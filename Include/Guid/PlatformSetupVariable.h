// The platform setup variable "Setup": the settings the board's setup screen keeps between
// boots. Bytes 8 and 9 enable the optional on-chip AHCI controllers #2 and #3; the rest of its
// layout belongs to the setup screen.
#pragma once

#include <Uefi.h>

#define PLATFORM_SETUP_VARIABLE_GUID                                                                         \
  {                                                                                                          \
    0xEC87D643, 0xEBA4, 0x4BB5, {                                                                            \
      0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gPlatformSetupVariableGuid;

#define PLATFORM_SETUP_VARIABLE_NAME u"Setup"
constexpr UINTN PLATFORM_SETUP_VARIABLE_SIZE = 100;
constexpr UINTN PLATFORM_SETUP_AHCI2_ENABLE = 8;
constexpr UINTN PLATFORM_SETUP_AHCI3_ENABLE = 9;
