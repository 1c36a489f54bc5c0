// Names and placeholder texts of the MAC table slots.
#include <Library/PrintLib.h>

#include "Nicpatch.h"

namespace {

// The placeholder of slot s is 00:11:22:33:44 followed by the byte 0x55 + s.
constexpr UINT8 PLACEHOLDER_PREFIX[] = {0x00, 0x11, 0x22, 0x33, 0x44};
constexpr UINT8 PLACEHOLDER_LAST_BASE = 0x55;
static_assert(PLACEHOLDER_LAST_BASE + MAC_STRING_SLOT_COUNT - 1 == 0x5D);

} // namespace

VOID NicpatchMacVariableName(UINTN Slot, CHAR16 *Name) {
  UnicodeSPrint(Name, NICPATCH_TEXT_BYTES, u"%s%d", NICPATCH_MAC_VARIABLE_PREFIX, (INT32)Slot);
}

VOID NicpatchDefaultMacText(UINTN Slot, CHAR16 *Text) {
  UnicodeSPrint(Text, NICPATCH_TEXT_BYTES, u"%02x:%02x:%02x:%02x:%02x:%02x", PLACEHOLDER_PREFIX[0],
                PLACEHOLDER_PREFIX[1], PLACEHOLDER_PREFIX[2], PLACEHOLDER_PREFIX[3], PLACEHOLDER_PREFIX[4],
                (UINT32)(PLACEHOLDER_LAST_BASE + Slot));
}
