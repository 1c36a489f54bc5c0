// NicpatchStub: prepares real firmware for the MAC publication driver. It puts the board's
// DSDT in place of the firmware's (through the ACPI table protocol, or by pointing the FADT
// at a copy when the protocol refuses), and installs stand-ins for the board's EEPROM MAC
// service and the ACPI Support protocol.
#pragma once

#include <Uefi.h>

// The texts the stand-in EEPROM service writes into slots 1, 2, 5 and 6.
#define NICPATCH_STUB_MAC_SLOT1 "02:5a:00:00:00:01"
#define NICPATCH_STUB_MAC_SLOT2 "02:5a:00:00:00:02"
#define NICPATCH_STUB_MAC_SLOT5 "02:5a:00:00:00:05"
#define NICPATCH_STUB_MAC_SLOT6 "02:5a:00:00:00:06"

// Console lines of the DSDT replacement (followed by a status name).
#define NICPATCH_STUB_INSTALLED_LINE u"NicpatchStub: board DSDT installed with InstallAcpiTable: "
#define NICPATCH_STUB_FADT_LINE u"NicpatchStub: board DSDT linked into the FADT: "

EFI_STATUS EFIAPI NicpatchStubEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The board's DSDT as compiled by iasl at build time.
extern const UINT8 gNicpatchStubBoardDsdt[];
extern const UINTN gNicpatchStubBoardDsdtSize;
