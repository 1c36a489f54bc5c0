// The platform IPMI firmware's information protocol. Its producer owns the record; consumers
// here rely only on the BMC shared-memory base at byte offset 120 and treat the bytes before
// it as opaque.
#pragma once

#include <Uefi.h>

#define OEM_IPMI_INFORMATION_PROTOCOL_GUID                                                                   \
  {                                                                                                          \
    0x01F93333, 0x2ADE, 0x4BD0, {                                                                            \
      0xB4, 0x9A, 0xEB, 0xF4, 0x55, 0x10, 0x64, 0xD8                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gOemIpmiInformationProtocolGuid;

constexpr UINTN OEM_IPMI_INFORMATION_BMC_MEMORY_BASE_OFFSET = 120;

// The consumer's view of the interface.
struct OEM_IPMI_INFORMATION_PROTOCOL {
  UINT8 ProducerData[OEM_IPMI_INFORMATION_BMC_MEMORY_BASE_OFFSET]; // not interpreted
  UINT64 BmcMemoryBase;
};
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_PROTOCOL, BmcMemoryBase) ==
              OEM_IPMI_INFORMATION_BMC_MEMORY_BASE_OFFSET);
static_assert(sizeof(OEM_IPMI_INFORMATION_PROTOCOL) == 128);
