// The board's MAC address service: fills the MAC texts it knows into a caller-owned table.
#pragma once

#include <Uefi.h>

#define EEPROM_MAC_PROTOCOL_GUID                                                                             \
  {                                                                                                          \
    0x3C7837C4, 0x30B0, 0x4334, {                                                                            \
      0xBB, 0x77, 0x04, 0xB2, 0xFF, 0x13, 0xB8, 0xB0                                                         \
    }                                                                                                        \
  }

// MAC_STRING_TABLE: nine slots of 20 CHAR16. A filled slot holds a NUL-terminated MAC text
// ("xx:xx:xx:xx:xx:xx"), the rest of the slot zero. Slot s belongs to the variable "MACs";
// the Ethernet device with unit digit u uses slot u + 1 for u = 0..7 and slot 0 for u = 8.
constexpr UINTN MAC_STRING_SLOT_COUNT = 9;
constexpr UINTN MAC_STRING_SLOT_CHARS = 20;
constexpr UINTN MAC_STRING_SLOT_BYTES = MAC_STRING_SLOT_CHARS * sizeof(CHAR16);
typedef CHAR16 MAC_STRING_TABLE[MAC_STRING_SLOT_COUNT][MAC_STRING_SLOT_CHARS];
static_assert(MAC_STRING_SLOT_BYTES == 40);
static_assert(sizeof(MAC_STRING_TABLE) == 360);

// Table points at the first CHAR16 of a MAC_STRING_TABLE; there is no instance argument.
typedef EFI_STATUS(EFIAPI *EEPROM_MAC_GET_MAC_ADDRESSES)(CHAR16 *Table);

struct EEPROM_MAC_PROTOCOL {
  EEPROM_MAC_GET_MAC_ADDRESSES GetMacAddresses;
};
static_assert(sizeof(EEPROM_MAC_PROTOCOL) == 8);

extern EFI_GUID gEepromMacProtocolGuid;
