// Host producer of the platform IPMI firmware's information protocol: the record the IPMI
// stack publishes once it has talked to the BMC, with the BMC shared-memory base at byte
// offset 120, where consumers read it.
#pragma once

#include <HostPlatform.h>
#include <Protocol/OemIpmiInformation.h>

namespace host {

constexpr UINT32 OEM_IPMI_INFORMATION_REVISION = 0x00010002;
constexpr UINT8 OEM_IPMI_INTERFACE_KCS = 1;

// The producer's whole record. Only BmcMemoryBase is part of the contract with consumers.
struct OEM_IPMI_INFORMATION_RECORD {
  UINT32 Revision;
  UINT8 InterfaceType; // system interface the IPMI stack uses (KCS)
  UINT8 IpmiVersionMajor;
  UINT8 IpmiVersionMinor;
  UINT8 BmcSlaveAddress;
  UINT64 KcsBaseAddress; // data register; the status/command register follows
  UINT32 KcsRegisterSpacing;
  UINT8 BmcDeviceId;
  UINT8 BmcDeviceRevision;
  UINT16 Reserved1;
  UINT32 ManufacturerId; // IANA enterprise number, 20 bits
  UINT16 ProductId;
  UINT8 FirmwareMajorRevision;
  UINT8 FirmwareMinorRevision;
  CHAR8 FirmwareVersion[32]; // NUL-terminated text
  UINT8 BmcMacAddress[6];
  UINT16 Reserved2;
  UINT64 SelBufferBase;
  UINT32 SelBufferSize;
  UINT32 WatchdogTimeoutSeconds;
  CHAR8 BoardSerialNumber[32]; // NUL-terminated text
  UINT64 BmcMemoryBase;
  UINT64 BmcMemorySize;
};
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_RECORD, KcsBaseAddress) == 8);
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_RECORD, FirmwareVersion) == 32);
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_RECORD, SelBufferBase) == 72);
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_RECORD, BoardSerialNumber) == 88);
static_assert(OFFSET_OF(OEM_IPMI_INFORMATION_RECORD, BmcMemoryBase) ==
              OEM_IPMI_INFORMATION_BMC_MEMORY_BASE_OFFSET);
static_assert(sizeof(OEM_IPMI_INFORMATION_RECORD) == 136);

// Installs the protocol on a new handle of P with BmcMemoryBase as the reported base. Each call
// gets its own record, which stays valid for the rest of the process.
EFI_STATUS InstallOemIpmiInformation(Platform &P, UINT64 BmcMemoryBase);

} // namespace host
