// ACPI table layouts (RSDP, common description header, RSDT, XSDT, FADT in its 1.0b and
// 2.0-and-later forms), the resource descriptors the PCI root bridge hands out, and the AML
// encodings that the AML object search recognises. Every layout here is fixed by ACPI, so
// each offset that code relies on is checked at compile time.
#pragma once

#include <Base.h>

#pragma pack(push, 1)

// Signatures.
constexpr UINT64 EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER_SIGNATURE =
    SIGNATURE_64('R', 'S', 'D', ' ', 'P', 'T', 'R', ' ');
constexpr UINT32 EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_TABLE_SIGNATURE = SIGNATURE_32('R', 'S', 'D', 'T');
constexpr UINT32 EFI_ACPI_EXTENDED_SYSTEM_DESCRIPTION_TABLE_SIGNATURE = SIGNATURE_32('X', 'S', 'D', 'T');
constexpr UINT32 EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE = SIGNATURE_32('F', 'A', 'C', 'P');
constexpr UINT32 EFI_ACPI_DIFFERENTIATED_SYSTEM_DESCRIPTION_TABLE_SIGNATURE =
    SIGNATURE_32('D', 'S', 'D', 'T');

// Root System Description Pointer, ACPI 1.0 form (20 bytes, checksum over all of it).
struct EFI_ACPI_1_0_ROOT_SYSTEM_DESCRIPTION_POINTER {
  UINT64 Signature;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT8 Reserved; // revision: 0 for ACPI 1.0
  UINT32 RsdtAddress;
};
static_assert(sizeof(EFI_ACPI_1_0_ROOT_SYSTEM_DESCRIPTION_POINTER) == 20);
static_assert(OFFSET_OF(EFI_ACPI_1_0_ROOT_SYSTEM_DESCRIPTION_POINTER, Checksum) == 8);
static_assert(OFFSET_OF(EFI_ACPI_1_0_ROOT_SYSTEM_DESCRIPTION_POINTER, RsdtAddress) == 16);

// Root System Description Pointer, ACPI 2.0 and later (36 bytes; the first 20 carry the
// 1.0 checksum, all 36 the extended checksum).
struct EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER {
  UINT64 Signature;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT8 Revision; // 2 for ACPI 2.0 and later
  UINT32 RsdtAddress;
  UINT32 Length;
  UINT64 XsdtAddress;
  UINT8 ExtendedChecksum;
  UINT8 Reserved[3];
};
static_assert(sizeof(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER) == 36);
static_assert(OFFSET_OF(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER, Revision) == 15);
static_assert(OFFSET_OF(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER, Length) == 20);
static_assert(OFFSET_OF(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER, XsdtAddress) == 24);
static_assert(OFFSET_OF(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER, ExtendedChecksum) == 32);

constexpr UINTN EFI_ACPI_1_0_RSDP_CHECKSUM_LENGTH = sizeof(EFI_ACPI_1_0_ROOT_SYSTEM_DESCRIPTION_POINTER);
constexpr UINT8 EFI_ACPI_2_0_RSDP_REVISION = 2;

// The header every description table but the RSDP and FACS starts with.
struct EFI_ACPI_DESCRIPTION_HEADER {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT64 OemTableId;
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};
static_assert(sizeof(EFI_ACPI_DESCRIPTION_HEADER) == 36);
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length) == 4);
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Revision) == 8);
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum) == 9);
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, OemTableId) == 16);
static_assert(OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, CreatorRevision) == 32);

// RSDT and XSDT: the header followed by 32-bit or 64-bit table addresses. The entries start
// at byte 36, so XSDT entries are not naturally aligned; copy them bytewise.
constexpr UINTN EFI_ACPI_RSDT_ENTRY_SIZE = sizeof(UINT32);
constexpr UINTN EFI_ACPI_XSDT_ENTRY_SIZE = sizeof(UINT64);
constexpr UINTN EFI_ACPI_SDT_ENTRIES_OFFSET = sizeof(EFI_ACPI_DESCRIPTION_HEADER);

// Generic Address Structure (ACPI 2.0 and later).
struct EFI_ACPI_GENERIC_ADDRESS_STRUCTURE {
  UINT8 AddressSpaceId;
  UINT8 RegisterBitWidth;
  UINT8 RegisterBitOffset;
  UINT8 AccessSize;
  UINT64 Address;
};
static_assert(sizeof(EFI_ACPI_GENERIC_ADDRESS_STRUCTURE) == 12);

// FADT as ACPI 1.0b lays it out (116 bytes, revision 1): the DSDT address is 32-bit.
struct EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE {
  EFI_ACPI_DESCRIPTION_HEADER Header;
  UINT32 FirmwareCtrl;
  UINT32 Dsdt;
  UINT8 IntModel;
  UINT8 Reserved1;
  UINT16 SciInt;
  UINT32 SmiCmd;
  UINT8 AcpiEnable;
  UINT8 AcpiDisable;
  UINT8 S4BiosReq;
  UINT8 Reserved2;
  UINT32 Pm1aEvtBlk;
  UINT32 Pm1bEvtBlk;
  UINT32 Pm1aCntBlk;
  UINT32 Pm1bCntBlk;
  UINT32 Pm2CntBlk;
  UINT32 PmTmrBlk;
  UINT32 Gpe0Blk;
  UINT32 Gpe1Blk;
  UINT8 Pm1EvtLen;
  UINT8 Pm1CntLen;
  UINT8 Pm2CntLen;
  UINT8 PmTmLen;
  UINT8 Gpe0BlkLen;
  UINT8 Gpe1BlkLen;
  UINT8 Gpe1Base;
  UINT8 Reserved3;
  UINT16 PLvl2Lat;
  UINT16 PLvl3Lat;
  UINT16 FlushSize;
  UINT16 FlushStride;
  UINT8 DutyOffset;
  UINT8 DutyWidth;
  UINT8 DayAlrm;
  UINT8 MonAlrm;
  UINT8 Century;
  UINT8 Reserved4[3];
  UINT32 Flags;
};
static_assert(sizeof(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE) == 116);
static_assert(OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, FirmwareCtrl) == 36);
static_assert(OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, Dsdt) == 40);
static_assert(OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, Gpe1Base) == 94);
static_assert(OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, Century) == 108);
static_assert(OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, Flags) == 112);

constexpr UINT8 EFI_ACPI_1_0_FADT_REVISION = 1;

// FADT of ACPI 2.0 and later, in the 6.x length (276 bytes). The 64-bit DSDT address X_Dsdt
// is at byte 140; the 32-bit Dsdt at byte 40 is kept from the 1.0b layout.
struct EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE {
  EFI_ACPI_DESCRIPTION_HEADER Header;
  UINT32 FirmwareCtrl;
  UINT32 Dsdt;
  UINT8 Reserved0;
  UINT8 PreferredPmProfile;
  UINT16 SciInt;
  UINT32 SmiCmd;
  UINT8 AcpiEnable;
  UINT8 AcpiDisable;
  UINT8 S4BiosReq;
  UINT8 PstateCnt;
  UINT32 Pm1aEvtBlk;
  UINT32 Pm1bEvtBlk;
  UINT32 Pm1aCntBlk;
  UINT32 Pm1bCntBlk;
  UINT32 Pm2CntBlk;
  UINT32 PmTmrBlk;
  UINT32 Gpe0Blk;
  UINT32 Gpe1Blk;
  UINT8 Pm1EvtLen;
  UINT8 Pm1CntLen;
  UINT8 Pm2CntLen;
  UINT8 PmTmrLen;
  UINT8 Gpe0BlkLen;
  UINT8 Gpe1BlkLen;
  UINT8 Gpe1Base;
  UINT8 CstCnt;
  UINT16 PLvl2Lat;
  UINT16 PLvl3Lat;
  UINT16 FlushSize;
  UINT16 FlushStride;
  UINT8 DutyOffset;
  UINT8 DutyWidth;
  UINT8 DayAlrm;
  UINT8 MonAlrm;
  UINT8 Century;
  UINT16 IaPcBootArch;
  UINT8 Reserved1;
  UINT32 Flags;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE ResetReg;
  UINT8 ResetValue;
  UINT16 ArmBootArch;
  UINT8 MinorVersion;
  UINT64 XFirmwareCtrl;
  UINT64 XDsdt;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1aEvtBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1bEvtBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1aCntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm1bCntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPm2CntBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XPmTmrBlk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XGpe0Blk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE XGpe1Blk;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE SleepControlReg;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE SleepStatusReg;
  UINT64 HypervisorVendorIdentity;
};
static_assert(sizeof(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE) == 276);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, Dsdt) == 40);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, IaPcBootArch) == 109);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, Flags) == 112);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, ResetReg) == 116);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, ArmBootArch) == 129);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, MinorVersion) == 131);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, XFirmwareCtrl) == 132);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt) == 140);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, SleepStatusReg) == 256);
static_assert(OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, HypervisorVendorIdentity) == 268);

// Where the DSDT addresses sit in either FADT layout; the DSDT locator reads them bytewise.
constexpr UINTN EFI_ACPI_FADT_DSDT_OFFSET = 40;
constexpr UINTN EFI_ACPI_FADT_X_DSDT_OFFSET = 140;
static_assert(EFI_ACPI_FADT_DSDT_OFFSET == OFFSET_OF(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE, Dsdt));
static_assert(EFI_ACPI_FADT_X_DSDT_OFFSET == OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt));

constexpr UINT8 EFI_ACPI_6_3_FADT_REVISION = 6;
constexpr UINT8 EFI_ACPI_6_3_FADT_MINOR_REVISION = 3;
constexpr UINT32 EFI_ACPI_FADT_HW_REDUCED_ACPI = 1u << 20;
constexpr UINT32 EFI_ACPI_FADT_LOW_POWER_S0_IDLE_CAPABLE = 1u << 21;
constexpr UINT16 EFI_ACPI_ARM_PSCI_COMPLIANT = 0x0001;
constexpr UINT8 EFI_ACPI_PM_PROFILE_ENTERPRISE_SERVER = 4;

// Resource descriptors: QWORD address space descriptor and end tag.
constexpr UINT8 ACPI_ADDRESS_SPACE_DESCRIPTOR = 0x8A;
constexpr UINT8 ACPI_END_TAG_DESCRIPTOR = 0x79;
constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_MEM = 0x00;
constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_IO = 0x01;
constexpr UINT8 ACPI_ADDRESS_SPACE_TYPE_BUS = 0x02;
// Type-specific flags of a memory range: prefetchable.
constexpr UINT8 EFI_ACPI_MEMORY_RESOURCE_SPECIFIC_FLAG_CACHEABLE_PREFETCHABLE = 0x06;

struct EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR {
  UINT8 Desc;
  UINT16 Len;
  UINT8 ResType;
  UINT8 GenFlag;
  UINT8 SpecificFlag;
  UINT64 AddrSpaceGranularity;
  UINT64 AddrRangeMin;
  UINT64 AddrRangeMax;
  UINT64 AddrTranslationOffset;
  UINT64 AddrLen;
};
static_assert(sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) == 46);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, Len) == 1);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, ResType) == 3);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrSpaceGranularity) == 6);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrRangeMin) == 14);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrRangeMax) == 22);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrTranslationOffset) == 30);
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrLen) == 38);
// The Len field counts the bytes after the 3-byte large-resource header.
constexpr UINT16 EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) - 3;
static_assert(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH == 0x2B);

struct EFI_ACPI_END_TAG_DESCRIPTOR {
  UINT8 Desc;
  UINT8 Checksum;
};
static_assert(sizeof(EFI_ACPI_END_TAG_DESCRIPTOR) == 2);

#pragma pack(pop)

// AML encodings used by the object search.
constexpr UINT8 AML_NAME_OP = 0x08;
constexpr UINT8 AML_SCOPE_OP = 0x10;
constexpr UINT8 AML_METHOD_OP = 0x14;
constexpr UINT8 AML_STRING_PREFIX = 0x0D;
constexpr UINT8 AML_DUAL_NAME_PREFIX = 0x2E;
constexpr UINT8 AML_MULTI_NAME_PREFIX = 0x2F;
constexpr UINT8 AML_EXT_OP = 0x5B; // prefix of the extended opcodes below
constexpr UINT8 AML_EXT_REGION_OP = 0x80;
constexpr UINT8 AML_EXT_DEVICE_OP = 0x82;
constexpr UINT8 AML_EXT_PROCESSOR_OP = 0x83;
constexpr UINT8 AML_EXT_POWER_RES_OP = 0x84;
constexpr UINT8 AML_EXT_THERMAL_ZONE_OP = 0x85;
constexpr UINT8 AML_ROOT_CHAR = 0x5C;          // "\"
constexpr UINT8 AML_PARENT_PREFIX_CHAR = 0x5E; // "^"
constexpr UINTN AML_NAME_SEG_SIZE = 4;

// PkgLength: the top two bits of the lead byte count the bytes that follow (0-3).
constexpr UINT8 AML_PKG_LENGTH_FOLLOWING_SHIFT = 6;
constexpr UINT8 AML_PKG_LENGTH_SHORT_MASK = 0x3F; // lead byte alone
constexpr UINT8 AML_PKG_LENGTH_LEAD_MASK = 0x0F;  // lead byte with following bytes
constexpr UINTN AML_PKG_LENGTH_MAX = 0x0FFFFFFF;  // 28 bits
