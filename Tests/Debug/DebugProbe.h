// The test module DebugProbe: a driver image whose entry hands the test its own copies of the
// debug and trace functions, so that each load starts with the library caches empty.
#pragma once

#include <Uefi.h>

#define DEBUG_PROBE_PROTOCOL_GUID                                                                            \
  {                                                                                                          \
    0x5B1E3C7A, 0x9D42, 0x4F0B, {                                                                            \
      0x8E, 0x6A, 0x2C, 0x4D, 0x9F, 0x1A, 0x7B, 0x30                                                         \
    }                                                                                                        \
  }

struct DEBUG_PROBE_FUNCTIONS {
  VOID (*DebugPrint)(UINTN ErrorLevel, const CHAR8 *Format, ...);
  VOID (*DebugAssert)(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);
  VOID *(*DebugClearMemory)(VOID *Buffer, UINTN Length);
  BOOLEAN (*DebugAssertEnabled)(VOID);
  BOOLEAN (*DebugPrintEnabled)(VOID);
  BOOLEAN (*DebugCodeEnabled)(VOID);
  BOOLEAN (*DebugClearMemoryEnabled)(VOID);
  // ASSERT_EFI_ERROR (Status) as a module writes it.
  VOID (*AssertEfiError)(EFI_STATUS Status);
  EFI_STATUS (*TraceMessage)(UINTN Level, const CHAR8 *Format, ...);
  VOID (*LibAssert)(const CHAR8 *File, UINTN Line, const CHAR8 *Expression);
};

// Installed by the test; the probe's entry calls Run and returns its result.
struct DEBUG_PROBE_PROTOCOL {
  EFI_STATUS (*Run)(const DEBUG_PROBE_FUNCTIONS *Functions);
};
