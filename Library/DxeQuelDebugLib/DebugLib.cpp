// DebugLib instance that forwards messages and failed assertions to the debug-output protocol.
#include "DxeQuelDebugLibInternal.h"

#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>

namespace {

// DebugClearMemory reports a NULL buffer under this line number, whatever line the check is
// on in this file, so that the report stays the same from one build to the next.
constexpr UINTN CLEAR_MEMORY_NULL_BUFFER_LINE = 146;
constexpr const CHAR8 *CLEAR_MEMORY_NULL_BUFFER_TEXT = "Buffer != ((void *) 0)";

constexpr BOOLEAN PropertyEnabled(UINT8 Property) {
  return (PcdDebugPropertyMask & Property) != 0 ? TRUE : FALSE;
}

} // namespace

VOID DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  // The lookup comes first: even a message the mask filters out may cause one.
  DEBUG_OUTPUT_PROTOCOL *DebugOutput = GetDebugOutputProtocol();
  if (DebugOutput == nullptr) {
    return;
  }
  if ((ErrorLevel & PcdDebugPrintErrorLevel) == 0) {
    return;
  }
  VA_LIST Marker;
  VA_START(Marker, Format);
  DebugOutput->Print(ErrorLevel, Format, Marker);
  VA_END(Marker);
}

VOID DebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  DEBUG_OUTPUT_PROTOCOL *DebugOutput = GetDebugOutputProtocol();
  if (DebugOutput == nullptr) {
    // Nobody to tell: execution goes on past the failed assertion.
    return;
  }
  DebugOutput->Assert(FileName, LineNumber, Description);
  if (PropertyEnabled(DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED)) {
    CpuBreakpoint();
  } else if (PropertyEnabled(DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED)) {
    CpuDeadLoop();
  }
}

VOID *DebugClearMemory(VOID *Buffer, UINTN Length) {
  if (Buffer == nullptr) {
    if (DebugAssertEnabled()) {
      DebugAssert(DEBUG_SOURCE_NAME, CLEAR_MEMORY_NULL_BUFFER_LINE, CLEAR_MEMORY_NULL_BUFFER_TEXT);
    }
    // The assertion returns when no debug-output protocol is installed; never fill address 0.
    return nullptr;
  }
  return SetMem(Buffer, Length, PcdDebugClearMemoryValue);
}

BOOLEAN DebugAssertEnabled(VOID) {
  return PropertyEnabled(DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED);
}

BOOLEAN DebugPrintEnabled(VOID) {
  return PropertyEnabled(DEBUG_PROPERTY_DEBUG_PRINT_ENABLED);
}

BOOLEAN DebugCodeEnabled(VOID) {
  return PropertyEnabled(DEBUG_PROPERTY_DEBUG_CODE_ENABLED);
}

BOOLEAN DebugClearMemoryEnabled(VOID) {
  return PropertyEnabled(DEBUG_PROPERTY_CLEAR_MEMORY_ENABLED);
}
