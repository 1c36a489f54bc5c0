// PCI I/O protocol: a PCI function's configuration space, BARs and DMA (UEFI 2.x, section 14.4).
#pragma once

#include <Uefi.h>

#define EFI_PCI_IO_PROTOCOL_GUID                                                                             \
  {                                                                                                          \
    0x4CF5B200, 0x68B8, 0x4CA5, {                                                                            \
      0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiPciIoProtocolGuid;

enum EFI_PCI_IO_PROTOCOL_WIDTH : UINT32 {
  EfiPciIoWidthUint8,
  EfiPciIoWidthUint16,
  EfiPciIoWidthUint32,
  EfiPciIoWidthUint64,
  EfiPciIoWidthFifoUint8,
  EfiPciIoWidthFifoUint16,
  EfiPciIoWidthFifoUint32,
  EfiPciIoWidthFifoUint64,
  EfiPciIoWidthFillUint8,
  EfiPciIoWidthFillUint16,
  EfiPciIoWidthFillUint32,
  EfiPciIoWidthFillUint64,
  EfiPciIoWidthMaximum
};

enum EFI_PCI_IO_PROTOCOL_OPERATION : UINT32 {
  EfiPciIoOperationBusMasterRead,
  EfiPciIoOperationBusMasterWrite,
  EfiPciIoOperationBusMasterCommonBuffer,
  EfiPciIoOperationMaximum
};

enum EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION : UINT32 {
  EfiPciIoAttributeOperationGet,
  EfiPciIoAttributeOperationSet,
  EfiPciIoAttributeOperationEnable,
  EfiPciIoAttributeOperationDisable,
  EfiPciIoAttributeOperationSupported,
  EfiPciIoAttributeOperationMaximum
};

// BarIndex that passes the offset through as an absolute address.
constexpr UINT8 EFI_PCI_IO_PASS_THROUGH_BAR = 0xFF;

// Attribute bits (Attributes, GetBarAttributes).
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_ISA_MOTHERBOARD_IO = 0x0001;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_ISA_IO = 0x0002;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO = 0x0004;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY = 0x0008;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_VGA_IO = 0x0010;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_IDE_PRIMARY_IO = 0x0020;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_IDE_SECONDARY_IO = 0x0040;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE = 0x0080;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_IO = 0x0100;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_MEMORY = 0x0200;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_BUS_MASTER = 0x0400;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_MEMORY_CACHED = 0x0800;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_MEMORY_DISABLE = 0x1000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_EMBEDDED_DEVICE = 0x2000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_EMBEDDED_ROM = 0x4000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_DUAL_ADDRESS_CYCLE = 0x8000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_ISA_IO_16 = 0x10000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO_16 = 0x20000;
constexpr UINT64 EFI_PCI_IO_ATTRIBUTE_VGA_IO_16 = 0x40000;

// What a driver enables to use a function: decoding of its I/O and memory BARs and bus mastering.
constexpr UINT64 EFI_PCI_DEVICE_ENABLE =
    EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY | EFI_PCI_IO_ATTRIBUTE_BUS_MASTER;

struct EFI_PCI_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)(EFI_PCI_IO_PROTOCOL *This,
                                                            EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                                            UINT64 Offset, UINT64 Mask, UINT64 Value,
                                                            UINT64 Delay, UINT64 *Result);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_IO_MEM)(EFI_PCI_IO_PROTOCOL *This,
                                                       EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                                       UINT64 Offset, UINTN Count, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL *This,
                                                       EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                                                       UINTN Count, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_COPY_MEM)(EFI_PCI_IO_PROTOCOL *This,
                                                         EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 DestBarIndex,
                                                         UINT64 DestOffset, UINT8 SrcBarIndex,
                                                         UINT64 SrcOffset, UINTN Count);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_MAP)(EFI_PCI_IO_PROTOCOL *This,
                                                    EFI_PCI_IO_PROTOCOL_OPERATION Operation,
                                                    VOID *HostAddress, UINTN *NumberOfBytes,
                                                    EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_UNMAP)(EFI_PCI_IO_PROTOCOL *This, VOID *Mapping);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER)(EFI_PCI_IO_PROTOCOL *This,
                                                                EFI_ALLOCATE_TYPE Type,
                                                                EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                                                VOID **HostAddress, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_FREE_BUFFER)(EFI_PCI_IO_PROTOCOL *This, UINTN Pages,
                                                            VOID *HostAddress);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_FLUSH)(EFI_PCI_IO_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_GET_LOCATION)(EFI_PCI_IO_PROTOCOL *This, UINTN *SegmentNumber,
                                                             UINTN *BusNumber, UINTN *DeviceNumber,
                                                             UINTN *FunctionNumber);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL *This,
                                                           EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
                                                           UINT64 Attributes, UINT64 *Result);
// Resources receives a pool buffer of ACPI 2.0 QWORD address-space descriptors and an end tag.
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_GET_BAR_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL *This, UINT8 BarIndex,
                                                                   UINT64 *Supports, VOID **Resources);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_SET_BAR_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL *This,
                                                                   UINT64 Attributes, UINT8 BarIndex,
                                                                   UINT64 *Offset, UINT64 *Length);

struct EFI_PCI_IO_PROTOCOL_ACCESS {
  EFI_PCI_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_IO_PROTOCOL_IO_MEM Write;
};
static_assert(sizeof(EFI_PCI_IO_PROTOCOL_ACCESS) == 16);

struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
};
static_assert(sizeof(EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS) == 16);

struct EFI_PCI_IO_PROTOCOL {
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollMem;
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollIo;
  EFI_PCI_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  EFI_PCI_IO_PROTOCOL_COPY_MEM CopyMem;
  EFI_PCI_IO_PROTOCOL_MAP Map;
  EFI_PCI_IO_PROTOCOL_UNMAP Unmap;
  EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER AllocateBuffer;
  EFI_PCI_IO_PROTOCOL_FREE_BUFFER FreeBuffer;
  EFI_PCI_IO_PROTOCOL_FLUSH Flush;
  EFI_PCI_IO_PROTOCOL_GET_LOCATION GetLocation;
  EFI_PCI_IO_PROTOCOL_ATTRIBUTES Attributes;
  EFI_PCI_IO_PROTOCOL_GET_BAR_ATTRIBUTES GetBarAttributes;
  EFI_PCI_IO_PROTOCOL_SET_BAR_ATTRIBUTES SetBarAttributes;
  UINT64 RomSize;
  VOID *RomImage;
};
static_assert(OFFSET_OF(EFI_PCI_IO_PROTOCOL, Mem) == 16);
static_assert(OFFSET_OF(EFI_PCI_IO_PROTOCOL, Pci) == 48);
static_assert(OFFSET_OF(EFI_PCI_IO_PROTOCOL, CopyMem) == 64);
static_assert(OFFSET_OF(EFI_PCI_IO_PROTOCOL, SetBarAttributes) == 136);
static_assert(OFFSET_OF(EFI_PCI_IO_PROTOCOL, RomSize) == 144);
static_assert(sizeof(EFI_PCI_IO_PROTOCOL) == 160);
