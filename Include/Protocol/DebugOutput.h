// The platform's debug-output protocol: where the DebugLib instance of the modules sends its
// messages and failed assertions. Produced by other platform firmware.
#pragma once

#include <Uefi/UefiBaseType.h>

#define DEBUG_OUTPUT_PROTOCOL_GUID                                                                           \
  {                                                                                                          \
    0x36232936, 0x0E76, 0x31C8, {                                                                            \
      0xA1, 0x3A, 0x3A, 0xF2, 0xFC, 0x1C, 0x39, 0x32                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gDebugOutputProtocolGuid;

// Prints one message; Format follows the EDK2 print conventions. The result is not used.
typedef EFI_STATUS(EFIAPI *DEBUG_OUTPUT_PRINT)(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);
// Reports one failed assertion. The result is not used.
typedef EFI_STATUS(EFIAPI *DEBUG_OUTPUT_ASSERT)(const CHAR8 *FileName, UINTN LineNumber,
                                                const CHAR8 *Description);

struct DEBUG_OUTPUT_PROTOCOL {
  DEBUG_OUTPUT_PRINT Print;
  DEBUG_OUTPUT_ASSERT Assert;
};
static_assert(sizeof(DEBUG_OUTPUT_PROTOCOL) == 16);
static_assert(OFFSET_OF(DEBUG_OUTPUT_PROTOCOL, Assert) == 8);
