// Configuration space of the emulated devices: a fixed type-0 header per device, presence of
// the optional AHCI controllers from the setup variable, and a write filter under which the
// only register a caller can change is the controller's memory BAR, and only to the
// controller's own MMIO address. Everything else reads as an empty slot does: all ones.
#include <Guid/PlatformSetupVariable.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>

#include "Bridgemimic.h"

namespace {

// The memory BARs the controllers decode through: BAR5 (AHCI) and BAR0 (xHCI).
constexpr UINT8 AHCI_BAR = PCI_BASE_ADDRESSREG_OFFSET + 5 * sizeof(UINT32);
constexpr UINT8 XHCI_BAR = PCI_BASE_ADDRESSREG_OFFSET;
static_assert(AHCI_BAR == 0x24 && XHCI_BAR == 0x10);
constexpr UINT16 AHCI_COMMAND =
    EFI_PCI_COMMAND_IO_SPACE | EFI_PCI_COMMAND_MEMORY_SPACE | EFI_PCI_COMMAND_BUS_MASTER;
constexpr UINT16 XHCI_COMMAND = EFI_PCI_COMMAND_MEMORY_SPACE | EFI_PCI_COMMAND_BUS_MASTER;
static_assert(AHCI_COMMAND == 0x0007 && XHCI_COMMAND == 0x0006);
// What a 4 MiB, 32-bit, non-prefetchable memory BAR reads after all ones were written to it.
constexpr UINT32 AHCI_BAR_SIZED = 0xFFC00000;

} // namespace

constexpr PCIEM_DEVICE PciEmDevices[PCIEM_DEVICE_COUNT] = {
    // AHCI #2 and #3: a 4 MiB BAR5 that reads as sized until its address is written.
    {PLATFORM_SETUP_AHCI2_ENABLE, 0xA078, 0x5501, AHCI_COMMAND, PCI_CLASS_MASS_STORAGE,
     PCI_CLASS_MASS_STORAGE_SATADPA, PCI_IF_MASS_STORAGE_AHCI, AHCI_BAR, AHCI_BAR_SIZED, 0x1A400000},
    {PLATFORM_SETUP_AHCI3_ENABLE, 0xA078, 0x5502, AHCI_COMMAND, PCI_CLASS_MASS_STORAGE,
     PCI_CLASS_MASS_STORAGE_SATADPA, PCI_IF_MASS_STORAGE_AHCI, AHCI_BAR, AHCI_BAR_SIZED, 0x1A800000},
    // xHCI: BAR0 holds the controller's address from the start.
    {PCIEM_ALWAYS_PRESENT, 0x10E8, 0x3530, XHCI_COMMAND, PCI_CLASS_SERIAL, PCI_CLASS_SERIAL_USB, PCI_IF_XHCI,
     XHCI_BAR, 0x19000000, 0x19000000},
    {PCIEM_ALWAYS_PRESENT, 0x10E8, 0x3531, XHCI_COMMAND, PCI_CLASS_SERIAL, PCI_CLASS_SERIAL_USB, PCI_IF_XHCI,
     XHCI_BAR, 0x19800000, 0x19800000},
};

namespace {

constexpr void Put(PCIEM_IMAGE &Image, UINTN Offset, UINT64 Value, UINTN Size) {
  for (UINTN Index = 0; Index < Size; Index++) {
    Image.Bytes[Offset + Index] = static_cast<UINT8>(Value >> (8 * Index));
  }
}

// The power-on header of one device, least significant byte first.
constexpr PCIEM_IMAGE MakeImage(const PCIEM_DEVICE &Device) {
  PCIEM_IMAGE Image{};
  Put(Image, PCI_VENDOR_ID_OFFSET, Device.VendorId, 2);
  Put(Image, PCI_DEVICE_ID_OFFSET, Device.DeviceId, 2);
  Put(Image, PCI_COMMAND_OFFSET, Device.Command, 2);
  Put(Image, PCI_CLASSCODE_OFFSET + PCI_CLASSCODE_PROGRAMMING_INTERFACE, Device.ProgIf, 1);
  Put(Image, PCI_CLASSCODE_OFFSET + PCI_CLASSCODE_SUB_CLASS, Device.SubClass, 1);
  Put(Image, PCI_CLASSCODE_OFFSET + PCI_CLASSCODE_BASE_CLASS, Device.BaseClass, 1);
  Put(Image, Device.BarOffset, Device.InitialBar, 4);
  return Image;
}

constexpr PCIEM_IMAGE Ahci2Image = MakeImage(PciEmDevices[0]);
constexpr PCIEM_IMAGE Xhci4Image = MakeImage(PciEmDevices[2]);
static_assert(Ahci2Image.Bytes[0] == 0x78 && Ahci2Image.Bytes[1] == 0xA0 && Ahci2Image.Bytes[2] == 0x01 &&
              Ahci2Image.Bytes[3] == 0x55 && Ahci2Image.Bytes[4] == 0x07 && Ahci2Image.Bytes[9] == 0x01 &&
              Ahci2Image.Bytes[10] == 0x06 && Ahci2Image.Bytes[11] == 0x01 &&
              Ahci2Image.Bytes[0x26] == 0xC0 && Ahci2Image.Bytes[0x27] == 0xFF);
static_assert(Xhci4Image.Bytes[0] == 0xE8 && Xhci4Image.Bytes[3] == 0x35 && Xhci4Image.Bytes[4] == 0x06 &&
              Xhci4Image.Bytes[9] == 0x30 && Xhci4Image.Bytes[11] == 0x0C && Xhci4Image.Bytes[0x13] == 0x19);

constexpr UINT8 IMAGE_ALL_ONES = 0xFF;

// The fields of a configuration address.
struct PCIEM_ADDRESS {
  UINT8 Register;
  UINT8 Function;
  UINT8 Device;
  UINT8 Bus;
  UINT32 ExtendedRegister;
};

constexpr PCIEM_ADDRESS Decode(UINT64 Address) {
  return {static_cast<UINT8>(Address), static_cast<UINT8>(Address >> 8), static_cast<UINT8>(Address >> 16),
          static_cast<UINT8>(Address >> 24), static_cast<UINT32>(Address >> 32)};
}
static_assert(Decode(EFI_PCI_ADDRESS(0xFF, 4, 0, 0x10)).Device == 4);

constexpr BOOLEAN DesignatesADevice(const PCIEM_ADDRESS &Address) {
  return Address.Bus == PCIEM_BUS && Address.Function == 0 && Address.ExtendedRegister == 0 &&
         Address.Register <= PCIEM_LAST_REGISTER;
}

// The image index of Device; Present tells whether the device answers.
UINTN SelectDevice(UINTN Device, BOOLEAN *Present) {
  *Present = FALSE;
  if (Device < PCIEM_FIRST_DEVICE || Device >= PCIEM_FIRST_DEVICE + PCIEM_DEVICE_COUNT) {
    return 0;
  }
  const UINTN Index = Device - PCIEM_FIRST_DEVICE;
  const UINTN SetupByte = PciEmDevices[Index].SetupByte;
  *Present = SetupByte == PCIEM_ALWAYS_PRESENT || PciEmSetupData[SetupByte] != 0 ? TRUE : FALSE;
  return Index;
}

// A write is stored only as the device's fixed BAR address, 32 bits wide, at its BAR.
VOID FilterWrite(UINTN Index, UINTN Position, EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                 const UINT8 *Element) {
  const PCIEM_DEVICE &Device = PciEmDevices[Index];
  if (Width != EfiPciWidthUint32 || Position != Device.BarOffset) {
    return;
  }
  UINT32 Value = 0;
  CopyMem(&Value, Element, sizeof(Value));
  if (Value == Device.FixedAddress) {
    CopyMem(&PciEmConfigImage[Index].Bytes[Position], &Value, sizeof(Value));
  }
}

} // namespace

PCIEM_IMAGE PciEmConfigImage[PCIEM_DEVICE_COUNT] = {MakeImage(PciEmDevices[0]), MakeImage(PciEmDevices[1]),
                                                    MakeImage(PciEmDevices[2]), MakeImage(PciEmDevices[3])};
UINT8 PciEmSetupData[PCIEM_SETUP_SIZE] = {};

EFI_STATUS EFIAPI PciEmConfigAccess(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                    VOID *Buffer, BOOLEAN Write) {
  const PCIEM_ADDRESS Decoded = Decode(Address);
  BOOLEAN Present = FALSE;
  UINTN Index = 0;
  if (DesignatesADevice(Decoded)) {
    DEBUG((DEBUG_INFO, "PciEM: Dev#0x%X;", Decoded.Device));
    DEBUG((DEBUG_INFO, " Reg=0x%X; Write=%d\n", Decoded.Register, Write ? 1 : 0));
    Index = SelectDevice(Decoded.Device, &Present);
  }

  UINTN ElementSize = static_cast<UINTN>(1) << (Width & 3);
  if (ElementSize == sizeof(UINT64)) {
    // Served as two 32-bit halves in address order.
    ElementSize = sizeof(UINT32);
    Count *= 2;
  }
  if (Width >= EfiPciWidthMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  if (Count != 0 && Buffer == NULL) {
    return EFI_INVALID_PARAMETER;
  }

  UINT8 *Element = static_cast<UINT8 *>(Buffer);
  const BOOLEAN BufferAdvances = Width <= EfiPciWidthFifoUint64 ? TRUE : FALSE;
  const BOOLEAN PositionAdvances = (Width & EfiPciWidthFifoUint8) == 0 ? TRUE : FALSE;
  UINTN Position = Decoded.Register;
  for (UINTN Done = 0; Done < Count; Done++) {
    // An element that does not lie wholly inside the header reads as beyond it.
    if (Present && (Position >= PCIEM_IMAGE_SIZE || PCIEM_IMAGE_SIZE - Position < ElementSize)) {
      Present = FALSE;
    }
    if (!Write) {
      if (Present) {
        CopyMem(Element, &PciEmConfigImage[Index].Bytes[Position], ElementSize);
      } else {
        SetMem(Element, ElementSize, IMAGE_ALL_ONES);
      }
    } else if (Present) {
      FilterWrite(Index, Position, Width, Element);
    }
    if (BufferAdvances) {
      Element += ElementSize;
    }
    if (PositionAdvances) {
      Position += ElementSize;
    }
  }
  return EFI_SUCCESS;
}
