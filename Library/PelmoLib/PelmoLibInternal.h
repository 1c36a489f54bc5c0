// Private declarations of the management-processor library: the mailbox and status-region
// layout, the message words and the waits.
#pragma once

#include <Library/PelmoLib.h>

// Physical bases, converted at the virtual-address change.
extern UINTN mPelmoMailboxBase;
extern UINTN mPelmoStatusBase;

// Mailbox channel registers (channel 0 of the mailbox block).
constexpr UINTN PELMO_MAILBOX_CHANNEL = 0;
constexpr UINTN PELMO_MAILBOX_CHANNEL_STRIDE = 0x1000;
constexpr UINTN PELMO_MAILBOX_INCOMING = 0x04;
constexpr UINTN PELMO_MAILBOX_OUTGOING_MESSAGE = 0x10;
constexpr UINTN PELMO_MAILBOX_OUTGOING_DATA = 0x14;
constexpr UINTN PELMO_MAILBOX_STATUS = 0x20;
constexpr UINT32 PELMO_STATUS_ACKNOWLEDGED = 1u << 0;
constexpr UINT32 PELMO_STATUS_INCOMING = 1u << 16;

// Status-region words.
constexpr UINTN PELMO_STATUS_LOAD_PROGRESS = 0x184;
constexpr UINTN PELMO_STATUS_LOAD_ACTIVITY = 0x364;
constexpr UINTN PELMO_STATUS_FEATURES = 0x11AC;
constexpr UINTN PELMO_STATUS_BUILD_DATE = 0x11B0;
constexpr UINTN PELMO_STATUS_FIRMWARE = 0x1360;

constexpr UINT32 PELMO_LOAD_STATE_MASK = 0x0C000000;
constexpr UINT32 PELMO_LOAD_STATE_NO_FIRMWARE = 0x04000000;
constexpr UINT32 PELMO_POLLED_LOAD_MARK = 0xA4;
constexpr UINT32 PELMO_LOAD_PROGRESS_DONE = 0x10250000;
constexpr UINT32 PELMO_LOAD_ACTIVITY_MASK = 0xFF;

// Message words.
constexpr UINT32 PELMO_MSG_I2C_HANDOVER = 0x0E000000;
constexpr UINT32 PELMO_I2C_REQUEST_ACQUIRE = 2;
constexpr UINT32 PELMO_I2C_REQUEST_RELEASE = 1;
constexpr UINT32 PELMO_MSG_QUERY_BUILD_ID = 0x0D000000;
constexpr UINT32 PELMO_BUILD_ID_ABSENT = 0xFF;
static_assert((PELMO_MSG_I2C_HANDOVER | PELMO_I2C_REQUEST_ACQUIRE) == 0x0E000002);
static_assert((PELMO_MSG_I2C_HANDOVER | PELMO_I2C_REQUEST_RELEASE) == 0x0E000001);

// File-load words: bits 31..16 0x4100, bits 15..12 the word's place (first, continuation,
// final), bits 3..0 the word number.
constexpr UINT32 PelmoLoadWord(UINT32 Place, UINT32 Number) {
  return 0x41000000u | (Place << 12) | Number;
}
constexpr UINT32 PELMO_LOAD_FIRST = 8;
constexpr UINT32 PELMO_LOAD_CONTINUATION = 2;
constexpr UINT32 PELMO_LOAD_FINAL = 4;
constexpr UINTN PELMO_LOAD_WORDS = 9;
static_assert(PelmoLoadWord(PELMO_LOAD_FIRST, 0) == 0x41008000);
static_assert(PelmoLoadWord(PELMO_LOAD_CONTINUATION, 1) == 0x41002001);
static_assert(PelmoLoadWord(PELMO_LOAD_CONTINUATION, 7) == 0x41002007);
static_assert(PelmoLoadWord(PELMO_LOAD_FINAL, 8) == 0x41004008);
constexpr UINT32 PELMO_LOAD_WHOLE_FILE = 0x12000000;
constexpr UINT32 PELMO_LOAD_RANGE = 0x11000000;
constexpr UINT64 PELMO_WHOLE_FILE_SIZE = 0xFFFFFFFF;
constexpr UINT32 PELMO_REPLY_CLASS_SHIFT = 28;
constexpr UINT32 PELMO_REPLY_CLASS_SUCCESS = 1;

// Counted waits. A spin of N stands for an empty loop of N iterations; it is taken as a
// timed wait of N nanoseconds (one iteration per nanosecond), so that its length does not
// depend on the core's speed.
constexpr UINTN PELMO_SPIN_ITERATIONS_PER_US = 1000;
VOID PelmoSpin(UINTN Iterations);
constexpr UINTN PELMO_ACK_CHECKS = 100;
constexpr UINTN PELMO_ACK_SPIN = 10000;
constexpr UINTN PELMO_REPLY_CHECKS = 10000;
constexpr UINTN PELMO_REPLY_SPIN = 10000;

// Debug level of the library's progress messages (filtered out by the module's mask).
constexpr UINTN PELMO_DEBUG_VERBOSE = 0x00400000;

UINT32 PelmoMailboxRead(UINTN Register);
VOID PelmoMailboxWrite(UINTN Register, UINT32 Value);
UINT32 PelmoStatusWord(UINTN Offset);
