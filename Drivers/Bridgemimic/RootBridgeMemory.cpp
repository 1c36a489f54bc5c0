// Memory members of the root bridge: CPU address equals PCI address, so accesses go straight
// to the physical address space, one access of the element's width per element.
#include <Library/BaseMemoryLib.h>
#include <Library/IoLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Bridgemimic.h"

namespace {

constexpr UINTN WIDTH_FORM_MASK = 0xC;
constexpr UINTN WIDTH_FORM_FIFO = 0x4;
constexpr UINTN WIDTH_FORM_FILL = 0x8;

constexpr UINTN ElementSize(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) {
  return static_cast<UINTN>(1) << (Width & 3);
}
static_assert(ElementSize(EfiPciWidthFillUint64) == 8 && ElementSize(EfiPciWidthFifoUint16) == 2);

VOID ReadElement(UINT64 Address, UINTN Size, UINT8 *Element) {
  UINT64 Value = 0;
  switch (Size) {
  case 1:
    Value = MmioRead8(static_cast<UINTN>(Address));
    break;
  case 2:
    Value = MmioRead16(static_cast<UINTN>(Address));
    break;
  case 4:
    Value = MmioRead32(static_cast<UINTN>(Address));
    break;
  default:
    Value = MmioRead64(static_cast<UINTN>(Address));
    break;
  }
  CopyMem(Element, &Value, Size);
}

VOID WriteElement(UINT64 Address, UINTN Size, const UINT8 *Element) {
  UINT64 Value = 0;
  CopyMem(&Value, Element, Size);
  switch (Size) {
  case 1:
    MmioWrite8(static_cast<UINTN>(Address), static_cast<UINT8>(Value));
    break;
  case 2:
    MmioWrite16(static_cast<UINTN>(Address), static_cast<UINT16>(Value));
    break;
  case 4:
    MmioWrite32(static_cast<UINTN>(Address), static_cast<UINT32>(Value));
    break;
  default:
    MmioWrite64(static_cast<UINTN>(Address), Value);
    break;
  }
}

// True when Count elements of Size bytes from Address stay below the top of the address
// space (the last byte below 2^64 - 1), computed without overflow.
BOOLEAN RangeFits(UINT64 Address, UINT64 Count, UINT64 Size) {
  if (Count > ~static_cast<UINT64>(0) / Size) {
    return FALSE;
  }
  return Address < ~(Count * Size) ? TRUE : FALSE;
}

EFI_STATUS MemAccess(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count, VOID *Buffer,
                     BOOLEAN Write) {
  if (Buffer == NULL || Width >= EfiPciWidthMaximum) {
    return EFI_INVALID_PARAMETER;
  }
  const UINTN Size = ElementSize(Width);
  const UINTN Form = Width & WIDTH_FORM_MASK;
  const BOOLEAN AddressAdvances = Form != WIDTH_FORM_FIFO ? TRUE : FALSE;
  const BOOLEAN BufferAdvances = Form != WIDTH_FORM_FILL ? TRUE : FALSE;
  if (AddressAdvances && !RangeFits(Address, Count, Size)) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *Element = static_cast<UINT8 *>(Buffer);
  for (UINTN Done = 0; Done < Count; Done++) {
    if (Write) {
      WriteElement(Address, Size, Element);
    } else {
      ReadElement(Address, Size, Element);
    }
    if (AddressAdvances) {
      Address += Size;
    }
    if (BufferAdvances) {
      Element += Size;
    }
  }
  return EFI_SUCCESS;
}

BOOLEAN Matches(const UINT64 *Result, UINT64 Mask, UINT64 Value) {
  return (*Result & Mask) == Value ? TRUE : FALSE;
}

} // namespace

EFI_STATUS EFIAPI PciEmMemRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                               VOID *Buffer) {
  return MemAccess(Width, Address, Count, Buffer, FALSE);
}

EFI_STATUS EFIAPI PciEmMemWrite(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                VOID *Buffer) {
  return MemAccess(Width, Address, Count, Buffer, TRUE);
}

// Reads until the masked value equals Value or Delay (in 100 ns units) has passed on a timer.
EFI_STATUS EFIAPI PciEmPollMem(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINT64 Mask,
                               UINT64 Value, UINT64 Delay, UINT64 *Result) {
  if (Result == NULL || Width > EfiPciWidthUint64) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = PciEmMemRead(This, Width, Address, 1, Result);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Matches(Result, Mask, Value)) {
    return EFI_SUCCESS;
  }
  if (Delay == 0) {
    return EFI_TIMEOUT;
  }

  EFI_EVENT PciEmTimerEvent = NULL;
  if (EFI_ERROR(gBS->CreateEvent(EVT_TIMER, TPL_CALLBACK, NULL, NULL, &PciEmTimerEvent))) {
    return EFI_NOT_AVAILABLE_YET;
  }
  if (EFI_ERROR(gBS->SetTimer(PciEmTimerEvent, TimerRelative, Delay))) {
    gBS->CloseEvent(PciEmTimerEvent);
    return EFI_NOT_AVAILABLE_YET;
  }
  Status = EFI_TIMEOUT;
  while (gBS->CheckEvent(PciEmTimerEvent) == EFI_NOT_READY) {
    const EFI_STATUS ReadStatus = PciEmMemRead(This, Width, Address, 1, Result);
    if (EFI_ERROR(ReadStatus)) {
      Status = ReadStatus;
      break;
    }
    if (Matches(Result, Mask, Value)) {
      Status = EFI_SUCCESS;
      break;
    }
  }
  gBS->CloseEvent(PciEmTimerEvent);
  return Status;
}

// Copies Count elements, backwards when the destination overlaps the end of the source.
EFI_STATUS EFIAPI PciEmCopyMem(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                               EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 DestAddress,
                               UINT64 SrcAddress, UINTN Count) {
  // A copy moves whole elements: FIFO and fill widths have no meaning here.
  if (Width > EfiPciWidthUint64) {
    return EFI_INVALID_PARAMETER;
  }
  if (DestAddress == SrcAddress || Count == 0) {
    return EFI_SUCCESS;
  }
  const UINT64 Stride = static_cast<UINT64>(1) << Width;
  // Both ranges must lie below the top of the address space.
  if (!RangeFits(SrcAddress, Count, Stride) || !RangeFits(DestAddress, Count, Stride)) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT64 Span = Count * Stride;
  const BOOLEAN Backwards = DestAddress > SrcAddress && DestAddress - SrcAddress < Span ? TRUE : FALSE;
  if (Backwards) {
    SrcAddress += Span - Stride;
    DestAddress += Span - Stride;
  }
  for (UINTN Done = 0; Done < Count; Done++) {
    UINT64 Element = 0;
    EFI_STATUS Status = PciEmMemRead(This, Width, SrcAddress, 1, &Element);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Status = PciEmMemWrite(This, Width, DestAddress, 1, &Element);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    SrcAddress = Backwards ? SrcAddress - Stride : SrcAddress + Stride;
    DestAddress = Backwards ? DestAddress - Stride : DestAddress + Stride;
  }
  return EFI_SUCCESS;
}
