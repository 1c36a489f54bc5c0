// What the tests hand the reservation test driver: a table and its row count, published as a
// configuration table under CSP_TABLE_REQUEST_GUID before the driver is started. The driver
// writes the routine's result back.
#pragma once

#include <Library/EfiLib.h>

#define CSP_TABLE_REQUEST_GUID                                                                               \
  {                                                                                                          \
    0x6B1E2C4D, 0x3A5F, 0x4E21, {                                                                            \
      0x9C, 0x7D, 0x21, 0x8A, 0x44, 0x0B, 0x5E, 0x13                                                         \
    }                                                                                                        \
  }

struct CSP_TABLE_REQUEST {
  CspResourceEntry *Table;
  UINTN Count;
  EFI_HANDLE DeviceHandle;
  EFI_STATUS Result;
};
