// Private declarations of the emulated PCI root bridge: the on-chip AHCI and xHCI controllers,
// plain MMIO blocks, appear to the platform's PCI bus driver as single-function devices on
// segment 0xFF, bus 0xFF, behind one root bridge with fixed resources.
#pragma once

#include <Guid/PlatformSetupVariable.h>
#include <IndustryStandard/Acpi.h>
#include <IndustryStandard/Pci.h>
#include <Protocol/DevicePath.h>
#include <Protocol/PciHostBridgeResourceAllocation.h>
#include <Protocol/PciRootBridgeIo.h>
#include <Uefi.h>

// Print level of the driver's own messages: every bit set, so no mask filters them out.
constexpr UINTN PCIEM_PRINT_LEVEL = ~static_cast<UINTN>(0);

// The root bridge: bus and segment, and the memory window that holds the controllers' BARs.
constexpr UINT8 PCIEM_BUS = 0xFF;
constexpr UINT32 PCIEM_SEGMENT = 0xFF;
constexpr UINT64 PCIEM_MEM_BASE = 0x19000000;
constexpr UINT64 PCIEM_MEM_LENGTH = 0x1C00000;
static_assert(PCIEM_MEM_BASE + PCIEM_MEM_LENGTH - 1 == 0x1ABFFFFF);

// Configuration space of one emulated device: a type-0 header and nothing beyond it.
constexpr UINTN PCIEM_IMAGE_SIZE = sizeof(PCI_TYPE00);
constexpr UINT8 PCIEM_LAST_REGISTER = 0x3E;
constexpr UINTN PCIEM_SETUP_SIZE = PLATFORM_SETUP_VARIABLE_SIZE;

// Devices 2..5 carry an image; PCIEM_FIRST_DEVICE is the device of image 0.
constexpr UINTN PCIEM_FIRST_DEVICE = 2;
constexpr UINTN PCIEM_DEVICE_COUNT = 4;
// A device whose presence does not depend on the setup variable.
constexpr UINTN PCIEM_ALWAYS_PRESENT = ~static_cast<UINTN>(0);

// What makes each device what it is: identity, class, and the one BAR a caller may program.
struct PCIEM_DEVICE {
  UINTN SetupByte; // byte of PciEmSetupData that enables it, or PCIEM_ALWAYS_PRESENT
  UINT16 VendorId;
  UINT16 DeviceId;
  UINT16 Command;
  UINT8 BaseClass, SubClass, ProgIf;
  UINT8 BarOffset;
  UINT32 InitialBar;
  UINT32 FixedAddress; // the only value a write to the BAR stores
};

// One device's configuration header as bytes, least significant byte first.
struct PCIEM_IMAGE {
  UINT8 Bytes[PCIEM_IMAGE_SIZE];
};

extern const PCIEM_DEVICE PciEmDevices[PCIEM_DEVICE_COUNT];
extern PCIEM_IMAGE PciEmConfigImage[PCIEM_DEVICE_COUNT];
extern UINT8 PciEmSetupData[PCIEM_SETUP_SIZE];

// The driver's one record.
struct PCIEM_PRIVATE {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *RbIo;
  EFI_HANDLE RbHandle;
  EFI_DEVICE_PATH_PROTOCOL *DevPath;
  UINT8 BusBase;
  UINT8 BusCount;
  UINT64 MemBase;
  UINT64 MemLength;
  UINT64 Attributes;
  EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL *ResAlloc;
  BOOLEAN ResourcesSubmitted; // recorded by SubmitResources
};
extern PCIEM_PRIVATE PciEmPrivate;

extern EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL PciEmRootBridgeIo;
extern EFI_PCI_HOST_BRIDGE_RESOURCE_ALLOCATION_PROTOCOL PciEmResourceAllocation;

// The root bridge's device path: ACPI(PNP0A03, 0xFF) and the end node.
#pragma pack(push, 1)
struct PCIEM_DEVICE_PATH {
  ACPI_HID_DEVICE_PATH AcpiNode;
  EFI_DEVICE_PATH_PROTOCOL End;
};
#pragma pack(pop)
static_assert(sizeof(PCIEM_DEVICE_PATH) == 16);
extern const PCIEM_DEVICE_PATH PciEmDevicePath;

// Resource descriptor lists the driver hands out: the bus range, optionally the memory window,
// and the end tag.
#pragma pack(push, 1)
struct PCIEM_BUS_RESOURCES {
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Bus;
  EFI_ACPI_END_TAG_DESCRIPTOR End;
};
struct PCIEM_RESOURCES {
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Bus;
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Mem;
  EFI_ACPI_END_TAG_DESCRIPTOR End;
};
#pragma pack(pop)
static_assert(sizeof(PCIEM_BUS_RESOURCES) == 48);
static_assert(sizeof(PCIEM_RESOURCES) == 94 && OFFSET_OF(PCIEM_RESOURCES, Mem) == 46 &&
              OFFSET_OF(PCIEM_RESOURCES, End) == 92);

// Granularity of the bus descriptor as Configuration and StartBusEnumeration report it.
constexpr UINT64 PCIEM_BUS_GRANULARITY_CONFIGURATION = 1;
constexpr UINT64 PCIEM_BUS_GRANULARITY_ENUMERATION = 0;
constexpr UINT64 PCIEM_MEM_GRANULARITY = 32;

VOID PciEmFillBusDescriptor(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor, UINT64 Granularity);
VOID PciEmFillMemDescriptor(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor);
VOID PciEmFillEndTag(EFI_ACPI_END_TAG_DESCRIPTOR *End);

// Configuration access to the emulated devices (Pci.Read with Write FALSE, Pci.Write with TRUE).
EFI_STATUS EFIAPI PciEmConfigAccess(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                    VOID *Buffer, BOOLEAN Write);

// Root Bridge I/O members.
EFI_STATUS EFIAPI PciEmPollMem(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINT64 Mask,
                               UINT64 Value, UINT64 Delay, UINT64 *Result);
EFI_STATUS EFIAPI PciEmMemRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                               VOID *Buffer);
EFI_STATUS EFIAPI PciEmMemWrite(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                VOID *Buffer);
EFI_STATUS EFIAPI PciEmCopyMem(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 DestAddress,
                               UINT64 SrcAddress, UINTN Count);

// The driver's entry routine.
EFI_STATUS EFIAPI BridgemimicEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
