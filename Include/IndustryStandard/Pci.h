// PCI configuration-space layout: the common header, the type-0 (device) and type-1
// (PCI-to-PCI bridge) header regions, register offsets and the bits drivers use
// (PCI Local Bus 3.0, chapter 6; PCI-to-PCI Bridge 1.2, chapter 3).
#pragma once

#include <Base.h>

#pragma pack(push, 1)
// The first 16 bytes, the same for every header type.
struct PCI_DEVICE_INDEPENDENT_REGION {
  UINT16 VendorId;
  UINT16 DeviceId;
  UINT16 Command;
  UINT16 Status;
  UINT8 RevisionID;
  UINT8 ClassCode[3]; // programming interface, sub-class, base class
  UINT8 CacheLineSize;
  UINT8 LatencyTimer;
  UINT8 HeaderType;
  UINT8 BIST;
};
static_assert(sizeof(PCI_DEVICE_INDEPENDENT_REGION) == 16);
static_assert(OFFSET_OF(PCI_DEVICE_INDEPENDENT_REGION, Command) == 0x04);
static_assert(OFFSET_OF(PCI_DEVICE_INDEPENDENT_REGION, ClassCode) == 0x09);
static_assert(OFFSET_OF(PCI_DEVICE_INDEPENDENT_REGION, HeaderType) == 0x0E);

// Bytes 0x10-0x3F of a type-0 header.
struct PCI_DEVICE_HEADER_TYPE_REGION {
  UINT32 Bar[6];
  UINT32 CISPtr;
  UINT16 SubsystemVendorID;
  UINT16 SubsystemID;
  UINT32 ExpansionRomBar;
  UINT8 CapabilityPtr;
  UINT8 Reserved1[3];
  UINT32 Reserved2;
  UINT8 InterruptLine;
  UINT8 InterruptPin;
  UINT8 MinGnt;
  UINT8 MaxLat;
};
static_assert(sizeof(PCI_DEVICE_HEADER_TYPE_REGION) == 48);

struct PCI_TYPE00 {
  PCI_DEVICE_INDEPENDENT_REGION Hdr;
  PCI_DEVICE_HEADER_TYPE_REGION Device;
};
static_assert(sizeof(PCI_TYPE00) == 64);
static_assert(OFFSET_OF(PCI_TYPE00, Device.Bar) == 0x10);
static_assert(OFFSET_OF(PCI_TYPE00, Device.CISPtr) == 0x28);
static_assert(OFFSET_OF(PCI_TYPE00, Device.SubsystemVendorID) == 0x2C);
static_assert(OFFSET_OF(PCI_TYPE00, Device.ExpansionRomBar) == 0x30);
static_assert(OFFSET_OF(PCI_TYPE00, Device.CapabilityPtr) == 0x34);
static_assert(OFFSET_OF(PCI_TYPE00, Device.InterruptLine) == 0x3C);
static_assert(OFFSET_OF(PCI_TYPE00, Device.MaxLat) == 0x3F);

// Bytes 0x10-0x3F of a type-1 (bridge) header.
struct PCI_BRIDGE_CONTROL_REGISTER {
  UINT32 Bar[2];
  UINT8 PrimaryBus;
  UINT8 SecondaryBus;
  UINT8 SubordinateBus;
  UINT8 SecondaryLatencyTimer;
  UINT8 IoBase;
  UINT8 IoLimit;
  UINT16 SecondaryStatus;
  UINT16 MemoryBase;
  UINT16 MemoryLimit;
  UINT16 PrefetchableMemoryBase;
  UINT16 PrefetchableMemoryLimit;
  UINT32 PrefetchableBaseUpper32;
  UINT32 PrefetchableLimitUpper32;
  UINT16 IoBaseUpper16;
  UINT16 IoLimitUpper16;
  UINT8 CapabilityPtr;
  UINT8 Reserved[3];
  UINT32 ExpansionRomBAR;
  UINT8 InterruptLine;
  UINT8 InterruptPin;
  UINT16 BridgeControl;
};
static_assert(sizeof(PCI_BRIDGE_CONTROL_REGISTER) == 48);

struct PCI_TYPE01 {
  PCI_DEVICE_INDEPENDENT_REGION Hdr;
  PCI_BRIDGE_CONTROL_REGISTER Bridge;
};
static_assert(sizeof(PCI_TYPE01) == 64);
static_assert(OFFSET_OF(PCI_TYPE01, Bridge.PrimaryBus) == 0x18);
static_assert(OFFSET_OF(PCI_TYPE01, Bridge.ExpansionRomBAR) == 0x38);
static_assert(OFFSET_OF(PCI_TYPE01, Bridge.BridgeControl) == 0x3E);
#pragma pack(pop)

// Register offsets of the common and type-0 headers.
constexpr UINT32 PCI_VENDOR_ID_OFFSET = 0x00;
constexpr UINT32 PCI_DEVICE_ID_OFFSET = 0x02;
constexpr UINT32 PCI_COMMAND_OFFSET = 0x04;
constexpr UINT32 PCI_PRIMARY_STATUS_OFFSET = 0x06;
constexpr UINT32 PCI_REVISION_ID_OFFSET = 0x08;
constexpr UINT32 PCI_CLASSCODE_OFFSET = 0x09;
constexpr UINT32 PCI_CACHELINE_SIZE_OFFSET = 0x0C;
constexpr UINT32 PCI_LATENCY_TIMER_OFFSET = 0x0D;
constexpr UINT32 PCI_HEADER_TYPE_OFFSET = 0x0E;
constexpr UINT32 PCI_BIST_OFFSET = 0x0F;
constexpr UINT32 PCI_BASE_ADDRESSREG_OFFSET = 0x10;
constexpr UINT32 PCI_CARDBUS_CIS_OFFSET = 0x28;
constexpr UINT32 PCI_SUBSYSTEM_VENDOR_ID_OFFSET = 0x2C;
constexpr UINT32 PCI_SUBSYSTEM_ID_OFFSET = 0x2E;
constexpr UINT32 PCI_EXPANSION_ROM_BASE = 0x30;
constexpr UINT32 PCI_CAPBILITY_POINTER_OFFSET = 0x34;
constexpr UINT32 PCI_INT_LINE_OFFSET = 0x3C;
constexpr UINT32 PCI_INT_PIN_OFFSET = 0x3D;
constexpr UINT32 PCI_MAXGNT_OFFSET = 0x3E;
constexpr UINT32 PCI_MAXLAT_OFFSET = 0x3F;
static_assert(PCI_MAXLAT_OFFSET == OFFSET_OF(PCI_TYPE00, Device.MaxLat));

constexpr UINT32 PCI_MAX_BAR = 6;
constexpr UINT32 PCI_MAX_BUS = 255;
constexpr UINT32 PCI_MAX_DEVICE = 31;
constexpr UINT32 PCI_MAX_FUNC = 7;
constexpr UINT32 PCI_CONFIGURATION_SPACE_SIZE = 0x100;
constexpr UINT32 PCI_EXPRESS_CONFIGURATION_SPACE_SIZE = 0x1000;

// Command register bits.
constexpr UINT16 EFI_PCI_COMMAND_IO_SPACE = 0x0001;
constexpr UINT16 EFI_PCI_COMMAND_MEMORY_SPACE = 0x0002;
constexpr UINT16 EFI_PCI_COMMAND_BUS_MASTER = 0x0004;
constexpr UINT16 EFI_PCI_COMMAND_SPECIAL_CYCLE = 0x0008;
constexpr UINT16 EFI_PCI_COMMAND_MEMORY_WRITE_AND_INVALIDATE = 0x0010;
constexpr UINT16 EFI_PCI_COMMAND_VGA_PALETTE_SNOOP = 0x0020;
constexpr UINT16 EFI_PCI_COMMAND_PARITY_ERROR_RESPOND = 0x0040;
constexpr UINT16 EFI_PCI_COMMAND_STEPPING_CONTROL = 0x0080;
constexpr UINT16 EFI_PCI_COMMAND_SERR = 0x0100;
constexpr UINT16 EFI_PCI_COMMAND_FAST_BACK_TO_BACK = 0x0200;
constexpr UINT16 EFI_PCI_COMMAND_INTERRUPT_DISABLE = 0x0400;

// Status register bits.
constexpr UINT16 EFI_PCI_STATUS_CAPABILITY = 0x0010;

// Header type byte.
constexpr UINT8 HEADER_TYPE_DEVICE = 0x00;
constexpr UINT8 HEADER_TYPE_PCI_TO_PCI_BRIDGE = 0x01;
constexpr UINT8 HEADER_TYPE_CARDBUS_BRIDGE = 0x02;
constexpr UINT8 HEADER_TYPE_MULTI_FUNCTION = 0x80;
constexpr UINT8 HEADER_LAYOUT_CODE = 0x7F;

// Base address register low bits.
constexpr UINT32 PCI_BAR_IO_SPACE = 0x00000001;
constexpr UINT32 PCI_BAR_MEM_TYPE_MASK = 0x00000006;
constexpr UINT32 PCI_BAR_MEM_TYPE_32 = 0x00000000;
constexpr UINT32 PCI_BAR_MEM_TYPE_64 = 0x00000004;
constexpr UINT32 PCI_BAR_MEM_PREFETCHABLE = 0x00000008;
constexpr UINT32 PCI_BAR_MEM_ADDRESS_MASK = 0xFFFFFFF0;
constexpr UINT32 PCI_BAR_IO_ADDRESS_MASK = 0xFFFFFFFC;

// Class codes the board's functions carry (base class, sub-class, programming interface).
constexpr UINT8 PCI_CLASS_MASS_STORAGE = 0x01;
constexpr UINT8 PCI_CLASS_MASS_STORAGE_SATADPA = 0x06;
constexpr UINT8 PCI_IF_MASS_STORAGE_AHCI = 0x01;
constexpr UINT8 PCI_CLASS_DISPLAY = 0x03;
constexpr UINT8 PCI_CLASS_DISPLAY_VGA = 0x00;
constexpr UINT8 PCI_IF_VGA_VGA = 0x00;
constexpr UINT8 PCI_CLASS_DISPLAY_OTHER = 0x80;
constexpr UINT8 PCI_CLASS_BRIDGE = 0x06;
constexpr UINT8 PCI_CLASS_BRIDGE_HOST = 0x00;
constexpr UINT8 PCI_CLASS_BRIDGE_P2P = 0x04;
constexpr UINT8 PCI_CLASS_SERIAL = 0x0C;
constexpr UINT8 PCI_CLASS_SERIAL_USB = 0x03;
constexpr UINT8 PCI_IF_XHCI = 0x30;

// Index of each part of PCI_DEVICE_INDEPENDENT_REGION.ClassCode.
constexpr UINTN PCI_CLASSCODE_PROGRAMMING_INTERFACE = 0;
constexpr UINTN PCI_CLASSCODE_SUB_CLASS = 1;
constexpr UINTN PCI_CLASSCODE_BASE_CLASS = 2;

// Offset-based configuration address as ECAM lays it out (bus, device, function, register).
constexpr UINT64 PCI_ECAM_ADDRESS(UINT64 Bus, UINT64 Device, UINT64 Function, UINT64 Offset) {
  return (Bus << 20) | (Device << 15) | (Function << 12) | Offset;
}
static_assert(PCI_ECAM_ADDRESS(1, 2, 3, 0x10) == 0x113010);
