// Private declarations of the L3 cache sizing driver. At the hand-over to the OS it turns off
// interrupts, caches and MMU, sizes the SoC's shared L3 cache from the efuse, a build-time
// limit and the controller's own size, and reports the size on the console UART.
#pragma once

#include <Uefi.h>

// The efuse register: bits 8 to 11 each enable 2 MB of L3 when clear.
constexpr UINTN L3C_EFUSE_REGISTER = 0x1054A000;
constexpr UINT32 L3C_EFUSE_SIZE_SHIFT = 8;
constexpr UINT32 L3C_EFUSE_SIZE_BITS = 4;
constexpr UINT32 L3C_EFUSE_MB_PER_BIT = 2;
// Build-time L3 limit in MB ("L3cSizeConfig").
constexpr UINT32 L3C_SIZE_CONFIG = 8;

// Control block A: +0x04 bit 16 is set once the block-B sequence has run.
constexpr UINTN L3C_CONTROL_A_BASE = 0x7E000000;
constexpr UINTN L3C_CONTROL_A_STATE = L3C_CONTROL_A_BASE + 0x04;
constexpr UINT32 L3C_CONTROL_A_BLOCK_B_DONE = 1u << 16;

// Control block B.
constexpr UINTN L3C_CONTROL_B_BASE = 0x7E200000;
constexpr UINTN L3C_CONTROL_B_ENABLE = L3C_CONTROL_B_BASE + 0x08;
constexpr UINT32 L3C_CONTROL_B_ENABLE_BITS = (1u << 16) | (1u << 18);
constexpr UINTN L3C_CONTROL_B_GATE = L3C_CONTROL_B_BASE + 0x300;
constexpr UINT32 L3C_CONTROL_B_GATE_BIT = 1u << 0;
constexpr UINTN L3C_CONTROL_B_RESET = L3C_CONTROL_B_BASE + 0x308;
constexpr UINT32 L3C_CONTROL_B_RESET_BIT11 = 1u << 11;
constexpr UINT32 L3C_CONTROL_B_RESET_BIT15 = 1u << 15;
static_assert(L3C_CONTROL_B_ENABLE_BITS == 0x50000);

// The L3 cache controller.
constexpr UINTN L3C_BASE = 0x7E600000;
constexpr UINTN L3C_CONFIGURATION = L3C_BASE + 0x00;
constexpr UINTN L3C_MASK = L3C_BASE + 0x08;
constexpr UINTN L3C_COMMAND = L3C_BASE + 0x10;
constexpr UINTN L3C_RANGE_LOW = L3C_BASE + 0x18;
constexpr UINTN L3C_RANGE_HIGH = L3C_BASE + 0x1C;
constexpr UINT32 L3C_MASK_ALL = 0xFFFF;
// Configuration: read, bits 29..24 hold the hardware size in MB; written, the size from
// bit 18 and the enable bit 31; bit 16 is set last on production silicon.
constexpr UINT32 L3C_HW_SIZE_SHIFT = 24;
constexpr UINT32 L3C_HW_SIZE_MASK = 0x3F;
constexpr UINT32 L3C_CONFIG_SIZE_SHIFT = 18;
constexpr UINT32 L3C_CONFIG_ENABLE = 1u << 31;
constexpr UINT32 L3C_CONFIG_BIT16 = 1u << 16;
// Command: the resize operation with (4 x size - 1) from bit 8; bit 31 reads busy.
constexpr UINT32 L3C_COMMAND_RESIZE = 0x12000000;
constexpr UINT32 L3C_COMMAND_COUNT_SHIFT = 8;
constexpr UINT32 L3C_COMMAND_BUSY = 1u << 31;
// The wait for the busy bit: one read every microsecond, at most this many reads (at least
// 0.1 s, far beyond what a resize takes). When it runs out the L3 counts as not configured.
constexpr UINT32 L3C_BUSY_POLL_LIMIT = 100000;
constexpr UINTN L3C_BUSY_POLL_INTERVAL_US = 1;

constexpr UINT32 L3cConfigurationWord(UINT32 SizeMb) {
  return (SizeMb << L3C_CONFIG_SIZE_SHIFT) | L3C_CONFIG_ENABLE;
}
constexpr UINT32 L3cCommandWord(UINT32 SizeMb) {
  return L3C_COMMAND_RESIZE | ((4 * SizeMb - 1) << L3C_COMMAND_COUNT_SHIFT);
}
static_assert(L3cConfigurationWord(8) == 0x80200000 && L3cCommandWord(8) == 0x12001F00);
static_assert(L3cConfigurationWord(6) == 0x80180000 && L3cCommandWord(6) == 0x12001700);

// Processor identification: MIDR variant (bits 23..20) and revision (bits 3..0).
constexpr UINTN L3C_MIDR_VARIANT_SHIFT = 20;
constexpr UINTN L3C_MIDR_VARIANT_MASK = 0xF;
constexpr UINTN L3C_MIDR_REVISION_MASK = 0xF;
constexpr UINTN L3C_REVIDR_EARLY_MASK = 0x7;

// The console UART: 8-bit transmit register and the line-status register, whose bit 5 says
// the transmitter takes a byte. Each byte waits at most L3C_UART_READY_POLLS reads.
constexpr UINTN L3C_UART_BASE = 0x1C020000;
constexpr UINTN L3C_UART_TRANSMIT = L3C_UART_BASE + 0x00;
constexpr UINTN L3C_UART_LINE_STATUS = L3C_UART_BASE + 0x14;
constexpr UINT8 L3C_UART_TRANSMIT_READY = 1u << 5;
constexpr UINT32 L3C_UART_READY_POLLS = 0x50000;
constexpr UINTN L3C_REPORT_BUFFER_SIZE = 100;

EFI_STATUS EFIAPI SlabsizeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID EFIAPI L3cExitBootServicesNotify(EFI_EVENT Event, VOID *Context);

// The L3 size the efuse allows, in MB (0, 2, 4, 6 or 8).
UINT32 L3cGetEfuseSize(VOID);
BOOLEAN L3cIsEarlySilicon(VOID);
// Sizes the L3 and reports the size on the console UART.
VOID L3cConfigure(VOID);

// Writes the text to the console UART byte by byte; the rest of the text is dropped when the
// transmitter does not become ready in time.
VOID L3cSerialWrite(const CHAR8 *Text);
