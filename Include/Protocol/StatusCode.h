// Status Code Runtime protocol (PI 1.x, volume 2): the sink of progress, error and debug codes.
#pragma once

#include <Pi/PiStatusCode.h>

#define EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID                                                                \
  {                                                                                                          \
    0xD2B2B828, 0x0826, 0x48A7, {                                                                            \
      0xB3, 0xDF, 0x98, 0x3C, 0x00, 0x60, 0x24, 0xF0                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiStatusCodeRuntimeProtocolGuid;

typedef EFI_STATUS(EFIAPI *EFI_REPORT_STATUS_CODE)(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                                   UINT32 Instance, EFI_GUID *CallerId,
                                                   EFI_STATUS_CODE_DATA *Data);

struct EFI_STATUS_CODE_RUNTIME_PROTOCOL {
  EFI_REPORT_STATUS_CODE ReportStatusCode;
};
static_assert(sizeof(EFI_STATUS_CODE_RUNTIME_PROTOCOL) == 8);
