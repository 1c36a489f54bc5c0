// PCI Root Bridge I/O protocol: memory, I/O and configuration access below one root bridge
// (UEFI 2.x, section 14.2).
#pragma once

#include <Uefi.h>

#define EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GUID                                                                 \
  {                                                                                                          \
    0x2F707EBB, 0x4A1A, 0x11D4, {                                                                            \
      0x9A, 0x38, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiPciRootBridgeIoProtocolGuid;

enum EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH : UINT32 {
  EfiPciWidthUint8,
  EfiPciWidthUint16,
  EfiPciWidthUint32,
  EfiPciWidthUint64,
  EfiPciWidthFifoUint8,
  EfiPciWidthFifoUint16,
  EfiPciWidthFifoUint32,
  EfiPciWidthFifoUint64,
  EfiPciWidthFillUint8,
  EfiPciWidthFillUint16,
  EfiPciWidthFillUint32,
  EfiPciWidthFillUint64,
  EfiPciWidthMaximum
};

enum EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_OPERATION : UINT32 {
  EfiPciOperationBusMasterRead,
  EfiPciOperationBusMasterWrite,
  EfiPciOperationBusMasterCommonBuffer,
  EfiPciOperationBusMasterRead64,
  EfiPciOperationBusMasterWrite64,
  EfiPciOperationBusMasterCommonBuffer64,
  EfiPciOperationMaximum
};

// Attribute bits (GetAttributes, SetAttributes, AllocateBuffer).
constexpr UINT64 EFI_PCI_ATTRIBUTE_ISA_MOTHERBOARD_IO = 0x0001;
constexpr UINT64 EFI_PCI_ATTRIBUTE_ISA_IO = 0x0002;
constexpr UINT64 EFI_PCI_ATTRIBUTE_VGA_PALETTE_IO = 0x0004;
constexpr UINT64 EFI_PCI_ATTRIBUTE_VGA_MEMORY = 0x0008;
constexpr UINT64 EFI_PCI_ATTRIBUTE_VGA_IO = 0x0010;
constexpr UINT64 EFI_PCI_ATTRIBUTE_IDE_PRIMARY_IO = 0x0020;
constexpr UINT64 EFI_PCI_ATTRIBUTE_IDE_SECONDARY_IO = 0x0040;
constexpr UINT64 EFI_PCI_ATTRIBUTE_MEMORY_WRITE_COMBINE = 0x0080;
constexpr UINT64 EFI_PCI_ATTRIBUTE_MEMORY_CACHED = 0x0800;
constexpr UINT64 EFI_PCI_ATTRIBUTE_MEMORY_DISABLE = 0x1000;
constexpr UINT64 EFI_PCI_ATTRIBUTE_DUAL_ADDRESS_CYCLE = 0x8000;
constexpr UINT64 EFI_PCI_ATTRIBUTE_ISA_IO_16 = 0x10000;
constexpr UINT64 EFI_PCI_ATTRIBUTE_VGA_PALETTE_IO_16 = 0x20000;
constexpr UINT64 EFI_PCI_ATTRIBUTE_VGA_IO_16 = 0x40000;

// The only attributes AllocateBuffer accepts.
constexpr UINT64 EFI_PCI_ATTRIBUTE_VALID_FOR_ALLOCATE_BUFFER = EFI_PCI_ATTRIBUTE_MEMORY_WRITE_COMBINE |
                                                               EFI_PCI_ATTRIBUTE_MEMORY_CACHED |
                                                               EFI_PCI_ATTRIBUTE_DUAL_ADDRESS_CYCLE;
constexpr UINT64 EFI_PCI_ATTRIBUTE_INVALID_FOR_ALLOCATE_BUFFER = ~EFI_PCI_ATTRIBUTE_VALID_FOR_ALLOCATE_BUFFER;

// Configuration-space address as the Pci members take it: register, function, device, bus
// from the low byte up, with the extended (PCIe) register in the upper half when non-zero.
struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS {
  UINT8 Register;
  UINT8 Function;
  UINT8 Device;
  UINT8 Bus;
  UINT32 ExtendedRegister;
};
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS) == 8);
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_PCI_ADDRESS, Bus) == 3);

constexpr UINT64 EFI_PCI_ADDRESS(UINTN Bus, UINTN Device, UINTN Function, UINTN Register) {
  return (UINT64)((Bus << 24) | (Device << 16) | (Function << 8) | Register);
}
static_assert(EFI_PCI_ADDRESS(0xFF, 0x1F, 0x7, 0x10) == 0xFF1F0710);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_POLL_IO_MEM)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
    UINT64 Mask, UINT64 Value, UINT64 Delay, UINT64 *Result);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address,
    UINTN Count, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_COPY_MEM)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 DestAddress,
    UINT64 SrcAddress, UINTN Count);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_MAP)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_OPERATION Operation,
    VOID *HostAddress, UINTN *NumberOfBytes, EFI_PHYSICAL_ADDRESS *DeviceAddress, VOID **Mapping);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_UNMAP)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                                                  VOID *Mapping);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ALLOCATE_BUFFER)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
    VOID **HostAddress, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_FREE_BUFFER)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                                                        UINTN Pages, VOID *HostAddress);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_FLUSH)(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GET_ATTRIBUTES)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, UINT64 *Supports, UINT64 *Attributes);
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_SET_ATTRIBUTES)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, UINT64 Attributes, UINT64 *ResourceBase, UINT64 *ResourceLength);
// Resources receives the root bridge's ACPI 2.0 QWORD address-space descriptors and an end tag.
typedef EFI_STATUS(EFIAPI *EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_CONFIGURATION)(
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID **Resources);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_IO_MEM Write;
};
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS) == 16);

struct EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL {
  EFI_HANDLE ParentHandle;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_POLL_IO_MEM PollMem;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_POLL_IO_MEM PollIo;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ACCESS Pci;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_COPY_MEM CopyMem;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_MAP Map;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_UNMAP Unmap;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_ALLOCATE_BUFFER AllocateBuffer;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_FREE_BUFFER FreeBuffer;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_FLUSH Flush;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_GET_ATTRIBUTES GetAttributes;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_SET_ATTRIBUTES SetAttributes;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_CONFIGURATION Configuration;
  UINT32 SegmentNumber;
};
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, PollMem) == 8);
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Pci) == 56);
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, CopyMem) == 72);
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, Configuration) == 136);
static_assert(OFFSET_OF(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL, SegmentNumber) == 144);
static_assert(sizeof(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL) == 152);
