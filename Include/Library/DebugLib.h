// The EDK2 DebugLib class and its macros. Every module but the graphics driver links the
// DxeQuelDebugLib instance, which forwards to the platform's debug-output protocol.
#pragma once

#include <Uefi/UefiBaseType.h>

constexpr UINTN DEBUG_INFO = 0x00000040;
constexpr UINTN DEBUG_VERBOSE = 0x00400000;
constexpr UINTN DEBUG_ERROR = 0x80000000;

constexpr UINT8 DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED = 0x01;
constexpr UINT8 DEBUG_PROPERTY_DEBUG_PRINT_ENABLED = 0x02;
constexpr UINT8 DEBUG_PROPERTY_DEBUG_CODE_ENABLED = 0x04;
constexpr UINT8 DEBUG_PROPERTY_CLEAR_MEMORY_ENABLED = 0x08;
constexpr UINT8 DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED = 0x10;
constexpr UINT8 DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED = 0x20;

// Prints one message through the debug-output protocol when ErrorLevel passes the module's
// error-level mask; a message that finds no protocol is lost.
VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);
// Reports a failed assertion. Without the debug-output protocol it returns at once; with it,
// it reports and then stops in a breakpoint or dead loop as the property mask says.
VOID DebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);
// Fills Length bytes with the clear-memory value and returns Buffer (NULL for a NULL Buffer,
// which is also a failed assertion).
VOID *DebugClearMemory(VOID *Buffer, UINTN Length);
// Each predicate tests one bit of the property mask (DEBUG_PROPERTY_*).
BOOLEAN DebugAssertEnabled(VOID);
BOOLEAN DebugPrintEnabled(VOID);
BOOLEAN DebugCodeEnabled(VOID);
BOOLEAN DebugClearMemoryEnabled(VOID);

// __FILE_NAME__ keeps build paths out of the images and the messages.
#define DEBUG_SOURCE_NAME __FILE_NAME__

#define ASSERT(Expression)                                                                                   \
  do {                                                                                                       \
    if (DebugAssertEnabled() && !(Expression)) {                                                             \
      DebugAssert(DEBUG_SOURCE_NAME, __LINE__, #Expression);                                                 \
    }                                                                                                        \
  } while (FALSE)

#define DEBUG(Expression)                                                                                    \
  do {                                                                                                       \
    if (DebugPrintEnabled()) {                                                                               \
      DebugPrint Expression;                                                                                 \
    }                                                                                                        \
  } while (FALSE)

#define ASSERT_EFI_ERROR(StatusParameter)                                                                    \
  do {                                                                                                       \
    if (DebugAssertEnabled() && EFI_ERROR(StatusParameter)) {                                                \
      DEBUG((DEBUG_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", StatusParameter));                           \
      DebugAssert(DEBUG_SOURCE_NAME, __LINE__, "!EFI_ERROR (" #StatusParameter ")");                         \
    }                                                                                                        \
  } while (FALSE)

#define DEBUG_CODE_BEGIN()                                                                                   \
  do {                                                                                                       \
    if (DebugCodeEnabled()) {
#define DEBUG_CODE_END()                                                                                     \
  }                                                                                                          \
  }                                                                                                          \
  while (FALSE)

#define DEBUG_CLEAR_MEMORY(Address, Length)                                                                  \
  do {                                                                                                       \
    if (DebugClearMemoryEnabled()) {                                                                         \
      DebugClearMemory(Address, Length);                                                                     \
    }                                                                                                        \
  } while (FALSE)
