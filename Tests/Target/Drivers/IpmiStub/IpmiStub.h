// IpmiStub: test driver that publishes the IPMI information protocol with a known BMC memory
// base, standing in for the platform's IPMI firmware in real-firmware tests.
#pragma once

#include <Uefi.h>

// The base the target tests expect Mgmtprobe to print: below 2^32, with letters in it.
constexpr UINT64 IPMI_STUB_BMC_MEMORY_BASE = 0x0000000089ABCDEFull;

EFI_STATUS EFIAPI IpmiStubEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
