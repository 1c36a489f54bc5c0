// Build-time configuration and private helpers of the DebugLib instance.
#pragma once

#include <Library/DebugLib.h>
#include <Protocol/DebugOutput.h>
#include <Uefi.h>

// Only DEBUG_ERROR messages pass DebugPrint.
constexpr UINTN PcdDebugPrintErrorLevel = 0x80000000;
// Assertions, printing, debug code and clear-memory enabled; a failed assertion dead-loops.
constexpr UINT8 PcdDebugPropertyMask = 0x2F;
// Fill byte of DebugClearMemory.
constexpr UINT8 PcdDebugClearMemoryValue = 0xAF;

static_assert((PcdDebugPropertyMask & DEBUG_PROPERTY_DEBUG_ASSERT_ENABLED) != 0);
static_assert((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_DEADLOOP_ENABLED) != 0);
static_assert((PcdDebugPropertyMask & DEBUG_PROPERTY_ASSERT_BREAKPOINT_ENABLED) == 0);
static_assert((PcdDebugPrintErrorLevel & DEBUG_INFO) == 0, "DEBUG_INFO is filtered out");
static_assert((PcdDebugPrintErrorLevel & DEBUG_ERROR) != 0, "DEBUG_ERROR is shown");

// The debug-output protocol, looked up until the first success and cached from then on.
// Returns NULL when it is not installed, or when the caller runs above TPL_NOTIFY and no
// lookup has succeeded yet (LocateProtocol may not be called there).
DEBUG_OUTPUT_PROTOCOL *GetDebugOutputProtocol(VOID);
