// Register access through the function's PCI I/O interface, the controller bring-up, the
// diagnostics on the standard-error console, the driver binding (Supported, Start, Stop, the
// display child) and the module entry.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DevicePathLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/DriverSupportedEfiVersion.h>

#include "VantorGraphics.h"

// ---- Register operations ------------------------------------------------------------------

UINT8 VantorPortRead(VANTOR_PRIVATE_DATA *Private, UINT32 Port) {
  UINT8 Value = 0;
  Private->PciIo->Mem.Read(Private->PciIo, EfiPciIoWidthUint8, VANTOR_REGISTER_BAR, Port, 1, &Value);
  return Value;
}

VOID VantorPortWrite(VANTOR_PRIVATE_DATA *Private, UINT32 Port, UINT8 Value) {
  Private->PciIo->Mem.Write(Private->PciIo, EfiPciIoWidthUint8, VANTOR_REGISTER_BAR, Port, 1, &Value);
}

UINT32 VantorMmioRead32(VANTOR_PRIVATE_DATA *Private, UINT32 Offset) {
  UINT32 Value = 0;
  Private->PciIo->Mem.Read(Private->PciIo, EfiPciIoWidthUint32, VANTOR_REGISTER_BAR, Offset, 1, &Value);
  return Value;
}

VOID VantorMmioWrite32(VANTOR_PRIVATE_DATA *Private, UINT32 Offset, UINT32 Value) {
  Private->PciIo->Mem.Write(Private->PciIo, EfiPciIoWidthUint32, VANTOR_REGISTER_BAR, Offset, 1, &Value);
}

namespace {
constexpr UINTN INDEX_READ_SETTLE_US = 10;
} // namespace

UINT8 VantorIndexRead(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index) {
  VantorPortWrite(Private, IndexPort, Index);
  gBS->Stall(INDEX_READ_SETTLE_US);
  return VantorPortRead(Private, IndexPort + 1);
}

VOID VantorIndexWrite(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index, UINT8 Value) {
  UINT16 Word = static_cast<UINT16>((Value << 8) | Index);
  Private->PciIo->Mem.Write(Private->PciIo, EfiPciIoWidthUint16, VANTOR_REGISTER_BAR, IndexPort, 1, &Word);
}

VOID VantorIndexModify(VANTOR_PRIVATE_DATA *Private, UINT32 IndexPort, UINT8 Index, UINT8 AndMask,
                       UINT8 OrBits) {
  UINT8 Old = VantorIndexRead(Private, IndexPort, Index);
  VantorPortWrite(Private, IndexPort + 1, static_cast<UINT8>((Old & AndMask) | OrBits));
}

namespace {
// Points the bus window at the 64 KiB page of Address and returns the data port's offset.
UINT32 OpenBusWindow(VANTOR_PRIVATE_DATA *Private, UINT32 Address) {
  VantorMmioWrite32(Private, VANTOR_BUS_WINDOW_BASE, Address & ~VANTOR_BUS_WINDOW_MASK);
  VantorMmioWrite32(Private, VANTOR_BUS_WINDOW_ENABLE, VANTOR_BUS_WINDOW_ON);
  return VANTOR_BUS_WINDOW_DATA | (Address & VANTOR_BUS_WINDOW_MASK);
}
} // namespace

UINT32 VantorSocRead(VANTOR_PRIVATE_DATA *Private, UINT32 Address) {
  return VantorMmioRead32(Private, OpenBusWindow(Private, Address));
}

VOID VantorSocWrite(VANTOR_PRIVATE_DATA *Private, UINT32 Address, UINT32 Value) {
  VantorMmioWrite32(Private, OpenBusWindow(Private, Address), Value);
}

// ---- Diagnostics --------------------------------------------------------------------------

namespace {
constexpr UINTN DEBUG_TEXT_CHARACTERS = 256;

VOID ErrorConsoleText(const CHAR16 *Text) {
  if (gST != NULL && gST->StdErr != NULL) {
    gST->StdErr->OutputString(gST->StdErr, const_cast<CHAR16 *>(Text));
  }
}
} // namespace

VOID VantorDebugPrint(UINTN Level, const CHAR8 *Format, ...) {
  if ((Level & VANTOR_DEBUG_LEVELS) == 0) {
    return;
  }
  CHAR16 Text[DEBUG_TEXT_CHARACTERS];
  VA_LIST Marker;
  VA_START(Marker, Format);
  UnicodeVSPrintAsciiFormat(Text, sizeof(Text), Format, Marker);
  VA_END(Marker);
  ErrorConsoleText(Text);
}

VOID VantorAssert(const CHAR8 *Unit, UINTN Line, const CHAR8 *Description) {
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "ASSERT %a(%d): %a\n", Unit, Line, Description);
  CpuDeadLoop();
}

VOID VantorAssertEfiError(const CHAR8 *Unit, UINTN Line, EFI_STATUS Status) {
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", Status);
  VantorAssert(Unit, Line, "!EFI_ERROR (Status)");
}

// ---- Bring-up -----------------------------------------------------------------------------

namespace {

constexpr UINT8 VGA_ENABLE = 0x01;
constexpr UINT8 MISC_OUTPUT_COLOUR = 0x23;
constexpr UINT8 CR_EXTENDED_FIRST = 0x81;
constexpr UINT8 CR_EXTENDED_CLEARED_LAST = 0x9E;
constexpr UINT8 CR_MODE_EXTENDED = 0xA0;
constexpr UINT8 CR_EXTENDED_CONTROL = 0xA1;
constexpr UINT8 CR_EXTENDED_CONTROL_VALUE = 0x04;
constexpr UINT8 CR_ENGINE_CONTROL = 0xA4;
constexpr UINT8 CR_ENGINE_ENABLE = 0x01;
constexpr UINT8 CR_COLOUR_MODE = 0x8C;
constexpr UINT8 CR_MISC_EXTENDED = 0x90;
constexpr UINT8 CR_DDC_RELEASED = 0xF0;
constexpr UINT8 CR_DDC_CONTROL = 0xB6;
constexpr UINT8 CR_DDC_CONTROL_BITS = 0x24;
// CRA0 upward until the end marker.
constexpr UINT8 EXTENDED_DEFAULTS[] = {0x0F, 0x04, 0x1F, 0xFF};
constexpr UINT8 EXTENDED_DEFAULTS_END = 0xFF;

constexpr UINT32 SCU_HANDSHAKE_MEMORY_READY = 0x40;
constexpr UINT32 SCU_CLOCK_STOP_ENGINE = 0x02;
constexpr UINT32 SCU_CLOCK_SELECT_BITS = 0x73;
constexpr UINT32 SCU_MISC_CONTROL_CLEAR = (1u << 16) | (1u << 17);
constexpr UINT32 MCR_CONFIGURATION_HALF_WIDTH = 1u << 6;
constexpr UINT32 MCR_CLOCK_SOURCE_14MHZ = 1u << 13;
constexpr UINT32 REFERENCE_12MHZ_KHZ = 12000;
constexpr UINT32 REFERENCE_14MHZ_KHZ = 14318;

VOID UnlockExtendedRegisters(VANTOR_PRIVATE_DATA *Private) {
  VantorCrtcWrite(Private, CR_UNLOCK, VANTOR_CRTC_UNLOCK);
}

VOID ResetExtendedRegisters(VANTOR_PRIVATE_DATA *Private) {
  UnlockExtendedRegisters(Private);
  VantorCrtcWrite(Private, CR_EXTENDED_CONTROL, CR_EXTENDED_CONTROL_VALUE);
  for (UINT32 Index = CR_EXTENDED_FIRST; Index <= CR_EXTENDED_CLEARED_LAST; Index++) {
    VantorCrtcWrite(Private, static_cast<UINT8>(Index), 0);
  }
  UINT8 Index = CR_MODE_EXTENDED;
  for (const UINT8 *Value = EXTENDED_DEFAULTS; *Value != EXTENDED_DEFAULTS_END; Value++, Index++) {
    VantorCrtcWrite(Private, Index, *Value);
  }
  VantorCrtcWrite(Private, CR_COLOUR_MODE, 0x01);
  VantorCrtcWrite(Private, CR_MISC_EXTENDED, 0x08);
  VantorCrtcWrite(Private, CR_DDC, CR_DDC_RELEASED);
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_DDC_CONTROL, 0xFF, CR_DDC_CONTROL_BITS);
}

// Waits for the BMC's "memory ready" after it has set the memory up.
EFI_STATUS WaitForBmcMemory(VANTOR_PRIVATE_DATA *Private) {
  for (UINTN Poll = 0; Poll < VANTOR_MEMORY_READY_POLLS; Poll++) {
    if ((VantorCrtcRead(Private, CR_MEMORY_STATE) & CRD0_MEMORY_READY) != 0) {
      return EFI_SUCCESS;
    }
  }
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: the BMC did not report the chip memory ready (CRD0 %02x)\n",
                   VantorCrtcRead(Private, CR_MEMORY_STATE));
  return EFI_DEVICE_ERROR;
}

EFI_STATUS EnsureMemory(VANTOR_PRIVATE_DATA *Private, BOOLEAN BmcSetUp) {
  if (BmcSetUp) {
    return WaitForBmcMemory(Private);
  }
  VantorSocWrite(Private, Scu(SCU_PROTECTION), VANTOR_SCU_KEY);
  VantorSocWrite(Private, Mcr(MCR_PROTECTION), VANTOR_MCR_KEY);
  EFI_STATUS Status = VantorInitDram(Private);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const UINT32 Handshake = VantorSocRead(Private, Scu(SCU_HANDSHAKE));
  VantorSocWrite(Private, Scu(SCU_HANDSHAKE), Handshake | SCU_HANDSHAKE_MEMORY_READY);
  return EFI_SUCCESS;
}

VOID SocModify(VANTOR_PRIVATE_DATA *Private, UINT32 Address, UINT32 AndMask, UINT32 OrBits) {
  VantorSocWrite(Private, Address, (VantorSocRead(Private, Address) & AndMask) | OrBits);
}

VOID PublishBandwidth(VANTOR_PRIVATE_DATA *Private) {
  const UINT32 Width =
      (VantorSocRead(Private, Mcr(MCR_CONFIGURATION)) & MCR_CONFIGURATION_HALF_WIDTH) ? 16 : 32;
  const UINT32 Pll = VantorSocRead(Private, Mcr(MCR_PLL_PARAMETER));
  const UINT32 Reference = (VantorSocRead(Private, Mcr(MCR_CLOCK_SOURCE)) & MCR_CLOCK_SOURCE_14MHZ)
                               ? REFERENCE_14MHZ_KHZ
                               : REFERENCE_12MHZ_KHZ;
  VantorCrtcWrite(Private, CR_BANDWIDTH, VantorBandwidthFigure(Width, VantorMemoryClock(Pll, Reference)));
}

} // namespace

EFI_STATUS VantorInitController(VANTOR_PRIVATE_DATA *Private) {
  VantorPortWrite(Private, VANTOR_PORT_VGA_ENABLE, VGA_ENABLE);
  VantorPortWrite(Private, VANTOR_PORT_MISC_OUTPUT, MISC_OUTPUT_COLOUR);
  ResetExtendedRegisters(Private);

  UnlockExtendedRegisters(Private);
  const BOOLEAN BmcSetUp = (VantorCrtcRead(Private, CR_MEMORY_STATE) & CRD0_BMC_MEMORY_SET_UP) != 0;
  EFI_STATUS Status = EnsureMemory(Private, BmcSetUp);
  if (EFI_ERROR(Status)) {
    VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: controller bring-up failed: %r\n", Status);
    return Status;
  }

  VantorSocWrite(Private, Scu(SCU_PROTECTION), VANTOR_SCU_KEY);
  SocModify(Private, Scu(SCU_CLOCK_STOP), ~SCU_CLOCK_STOP_ENGINE, 0);
  VantorIndexModify(Private, VANTOR_PORT_CRTC, CR_ENGINE_CONTROL, 0xFF, CR_ENGINE_ENABLE);
  VantorMmioWrite32(Private, VANTOR_ENGINE_MODE, VANTOR_ENGINE_REGISTER_COMMAND_MODE);
  if (!BmcSetUp) {
    VantorSocWrite(Private, Scu(SCU_PROTECTION), VANTOR_SCU_KEY);
    SocModify(Private, Scu(SCU_CLOCK_SELECT), 0xFFFFFFFF, SCU_CLOCK_SELECT_BITS);
  }
  SocModify(Private, Scu(SCU_MISC_CONTROL), ~SCU_MISC_CONTROL_CLEAR, 0);
  PublishBandwidth(Private);
  return EFI_SUCCESS;
}

// ---- Controllers this driver has started ------------------------------------------------------

// Start installs nothing on the controller's handle, and a controller started without a child
// has no interface that leads back to its record: Stop finds the record in this list, keyed by
// the controller's handle.
namespace {

struct VANTOR_BOUND_CONTROLLER {
  VANTOR_BOUND_CONTROLLER *Next;
  EFI_HANDLE Controller;
  VANTOR_PRIVATE_DATA *Private;
};

VANTOR_BOUND_CONTROLLER *gVantorBoundControllers = NULL;

EFI_STATUS RememberController(EFI_HANDLE Controller, VANTOR_PRIVATE_DATA *Private) {
  VOID *Link = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(VANTOR_BOUND_CONTROLLER), &Link);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  auto *Bound = static_cast<VANTOR_BOUND_CONTROLLER *>(Link);
  *Bound = {gVantorBoundControllers, Controller, Private};
  gVantorBoundControllers = Bound;
  return EFI_SUCCESS;
}

// The record of Controller, taken out of the list; NULL when this driver has not started it.
VANTOR_PRIVATE_DATA *FindController(EFI_HANDLE Controller, BOOLEAN Remove) {
  for (VANTOR_BOUND_CONTROLLER **Link = &gVantorBoundControllers; *Link != NULL; Link = &(*Link)->Next) {
    VANTOR_BOUND_CONTROLLER *Bound = *Link;
    if (Bound->Controller == Controller) {
      VANTOR_PRIVATE_DATA *Private = Bound->Private;
      if (Remove) {
        *Link = Bound->Next;
        gBS->FreePool(Bound);
      }
      return Private;
    }
  }
  return NULL;
}

} // namespace

// ---- Driver binding ------------------------------------------------------------------------------

namespace {

constexpr const CHAR8 *UNIT = "VantorGraphics";
constexpr UINTN VANTOR_ASSERT_LINE_GRAPHICS_OUTPUT = 317;
constexpr UINTN VANTOR_ASSERT_LINE_STOP_SIGNATURE = 461;
constexpr UINTN VANTOR_ASSERT_LINE_DRIVER_BINDING = 579;
constexpr UINTN VANTOR_ASSERT_LINE_SUPPORTED_VERSION = 592;
constexpr UINT32 VANTOR_DRIVER_VERSION = 0x10105;
constexpr UINT32 VANTOR_FIRMWARE_VERSION = 0x0002000A;

constexpr UINT16 VANTOR_VENDOR_ID = 0x1A03;
constexpr UINT16 VANTOR_DEVICE_ID = 0x2000;
constexpr UINTN PCI_HEADER_DWORDS = 16;

// _ADR of the display output: the device-ID scheme (bit 31), detectable by firmware (bit 16),
// display type VGA (bits 8-11 = 1), port 0 (bits 4-7), index 0 (bits 0-3).
constexpr UINT32 VANTOR_DISPLAY_ADR = (1u << 31) | (1u << 16) | (1u << 8);
static_assert(VANTOR_DISPLAY_ADR == 0x80010100);
constexpr ACPI_ADR_DEVICE_PATH VANTOR_DISPLAY_NODE = {
    {ACPI_DEVICE_PATH, ACPI_ADR_DP, {sizeof(ACPI_ADR_DEVICE_PATH), 0}}, VANTOR_DISPLAY_ADR};

EFI_STATUS EFIAPI VantorSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                  EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath) {
  EFI_PCI_IO_PROTOCOL *PciIo = NULL;
  EFI_STATUS Status = gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo),
                                        This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT32 Header[PCI_HEADER_DWORDS] = {};
  Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint32, 0, PCI_HEADER_DWORDS, Header);
  if (!EFI_ERROR(Status)) {
    const UINT16 Vendor = static_cast<UINT16>(Header[0]), Device = static_cast<UINT16>(Header[0] >> 16);
    Status = (Vendor == VANTOR_VENDOR_ID && Device == VANTOR_DEVICE_ID) ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }
  gBS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Controller);
  return Status;
}

VOID FreeEdidCopies(VANTOR_PRIVATE_DATA *Private) {
  if (Private->EdidActive.Edid != NULL && Private->EdidActive.Edid != Private->EdidDiscovered.Edid) {
    gBS->FreePool(Private->EdidActive.Edid);
  }
  if (Private->EdidDiscovered.Edid != NULL) {
    gBS->FreePool(Private->EdidDiscovered.Edid);
  }
  Private->EdidActive = {0, NULL};
  Private->EdidDiscovered = {0, NULL};
}

// Takes the display child down: the child's open of PCI I/O, its interfaces (the handle goes
// with the last one), the Graphics Output's records and the child's path. When the interfaces
// cannot be removed the child stays as it was.
EFI_STATUS DestroyChild(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                        VANTOR_PRIVATE_DATA *Private, BOOLEAN ChildOpened) {
  if (ChildOpened) {
    gBS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Private->Handle);
  }
  EFI_STATUS Status;
  if (Private->GraphicsOutput.Mode != NULL) {
    Status = gBS->UninstallMultipleProtocolInterfaces(
        Private->Handle, &gEfiGraphicsOutputProtocolGuid, &Private->GraphicsOutput,
        &gEfiEdidDiscoveredProtocolGuid, &Private->EdidDiscovered, &gEfiEdidActiveProtocolGuid,
        &Private->EdidActive, &gEfiDevicePathProtocolGuid, Private->ChildDevicePath, NULL);
  } else {
    Status = gBS->UninstallMultipleProtocolInterfaces(Private->Handle, &gEfiDevicePathProtocolGuid,
                                                      Private->ChildDevicePath, NULL);
  }
  if (EFI_ERROR(Status)) {
    if (ChildOpened) {
      EFI_PCI_IO_PROTOCOL *PciIo = NULL;
      gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo),
                        This->DriverBindingHandle, Private->Handle, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
    }
    return Status;
  }
  VantorGraphicsOutputDestructor(Private);
  gBS->FreePool(Private->ChildDevicePath);
  Private->ChildDevicePath = NULL;
  Private->Handle = NULL;
  return EFI_SUCCESS;
}

// Gives the controller back as Start found it: attributes, the open of PCI I/O, the record.
VOID ReleaseController(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, VANTOR_PRIVATE_DATA *Private,
                       BOOLEAN AttributesChanged) {
  if (Private->PciIo != NULL) {
    if (AttributesChanged) {
      Private->PciIo->Attributes(Private->PciIo, EfiPciIoAttributeOperationSet, Private->SavedPciAttributes,
                                 NULL);
    }
    gBS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Controller);
  }
  FreeEdidCopies(Private);
  if (Private->LineBuffer != NULL) {
    gBS->FreePool(Private->LineBuffer);
  }
  gBS->FreePool(Private);
}

// The controller's path with the display node: RemainingDevicePath's first node when one is
// given, the VGA output's _ADR node without one; NULL (and EFI_SUCCESS) for an end node.
EFI_STATUS MakeChildDevicePath(EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath,
                               EFI_DEVICE_PATH_PROTOCOL **ChildDevicePath) {
  *ChildDevicePath = NULL;
  EFI_DEVICE_PATH_PROTOCOL *ParentDevicePath = NULL;
  EFI_STATUS Status = gBS->HandleProtocol(Controller, &gEfiDevicePathProtocolGuid,
                                          reinterpret_cast<VOID **>(&ParentDevicePath));
  if (EFI_ERROR(Status) || (RemainingDevicePath != NULL && IsDevicePathEnd(RemainingDevicePath))) {
    return Status;
  }
  const VOID *Node = RemainingDevicePath != NULL ? static_cast<const VOID *>(RemainingDevicePath)
                                                 : static_cast<const VOID *>(&VANTOR_DISPLAY_NODE);
  *ChildDevicePath =
      AppendDevicePathNode(ParentDevicePath, static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Node));
  return *ChildDevicePath != NULL ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

// Publishes the display's Graphics Output and the two EDID interfaces on the child.
EFI_STATUS PublishGraphicsOutput(VANTOR_PRIVATE_DATA *Private) {
  EFI_STATUS Status = VantorGraphicsOutputConstructor(Private);
  if (EFI_ERROR(Status)) {
    VantorAssertEfiError(UNIT, VANTOR_ASSERT_LINE_GRAPHICS_OUTPUT, Status);
  }
  Status = gBS->InstallMultipleProtocolInterfaces(&Private->Handle, &gEfiGraphicsOutputProtocolGuid,
                                                  &Private->GraphicsOutput, &gEfiEdidDiscoveredProtocolGuid,
                                                  &Private->EdidDiscovered, &gEfiEdidActiveProtocolGuid,
                                                  &Private->EdidActive, NULL);
  if (EFI_ERROR(Status)) {
    VantorGraphicsOutputDestructor(Private);
  }
  return Status;
}

EFI_STATUS EFIAPI VantorStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                              EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath) {
  VOID *Record = NULL;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(VANTOR_PRIVATE_DATA), &Record))) {
    return EFI_OUT_OF_RESOURCES;
  }
  ZeroMem(Record, sizeof(VANTOR_PRIVATE_DATA));
  auto *Private = static_cast<VANTOR_PRIVATE_DATA *>(Record);
  Private->Signature = VANTOR_PRIVATE_DATA_SIGNATURE;
  Private->Handle = NULL;

  BOOLEAN AttributesChanged = FALSE;
  BOOLEAN ChildOpened = FALSE;
  EFI_PCI_IO_PROTOCOL *PciIo = NULL;
  EFI_STATUS Status = gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo),
                                        This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    gBS->FreePool(Private);
    return Status;
  }
  Private->PciIo = PciIo;
  // Remembered first: whatever Start leaves installed, Stop can find and take down.
  Status = RememberController(Controller, Private);
  if (!EFI_ERROR(Status)) {
    Status = PciIo->Attributes(PciIo, EfiPciIoAttributeOperationGet, 0, &Private->SavedPciAttributes);
  }
  if (!EFI_ERROR(Status)) {
    Status = PciIo->Attributes(PciIo, EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, NULL);
    AttributesChanged = TRUE;
  }
  if (!EFI_ERROR(Status)) {
    Status = MakeChildDevicePath(Controller, RemainingDevicePath, &Private->ChildDevicePath);
  }
  // The child exists before the mode list is built: an EDID override is looked up by it.
  if (!EFI_ERROR(Status) && Private->ChildDevicePath != NULL) {
    Status = gBS->InstallMultipleProtocolInterfaces(&Private->Handle, &gEfiDevicePathProtocolGuid,
                                                    Private->ChildDevicePath, NULL);
  }
  if (!EFI_ERROR(Status)) {
    Status = VantorInitController(Private);
  }
  if (!EFI_ERROR(Status)) {
    Status = VantorBuildModeList(Private);
  }
  if (!EFI_ERROR(Status) && Private->ChildDevicePath != NULL) {
    Status = PublishGraphicsOutput(Private);
  }
  // The child's open of PCI I/O ties the child to the controller; without a child there is
  // nothing to tie.
  if (!EFI_ERROR(Status) && Private->Handle != NULL) {
    Status =
        gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo),
                          This->DriverBindingHandle, Private->Handle, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
    ChildOpened = !EFI_ERROR(Status);
  }
  if (EFI_ERROR(Status)) {
    VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: Start failed: %r\n", Status);
    // A child whose interfaces cannot be removed stays as it is, with the path and the record
    // they point into and the controller's open; Stop takes it down later.
    if (Private->Handle != NULL && EFI_ERROR(DestroyChild(This, Controller, Private, ChildOpened))) {
      return Status;
    }
    FindController(Controller, TRUE);
    if (Private->ChildDevicePath != NULL) {
      gBS->FreePool(Private->ChildDevicePath);
    }
    ReleaseController(This, Controller, Private, AttributesChanged);
  }
  return Status;
}

EFI_STATUS EFIAPI VantorStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN NumberOfChildren,
                             EFI_HANDLE *ChildHandleBuffer) {
  VANTOR_PRIVATE_DATA *Private = FindController(Controller, FALSE);
  if (Private == NULL) {
    return EFI_UNSUPPORTED;
  }
  if (Private->Signature != VANTOR_PRIVATE_DATA_SIGNATURE) {
    VantorAssert(UNIT, VANTOR_ASSERT_LINE_STOP_SIGNATURE, "CR has Bad Signature");
  }
  // Children first (the core stops them, then the controller); a controller stopped with its
  // child still there takes the child down as well.
  for (UINTN Index = 0; Index < NumberOfChildren; Index++) {
    if (ChildHandleBuffer[Index] != Private->Handle || Private->Handle == NULL) {
      return EFI_INVALID_PARAMETER;
    }
  }
  if (Private->Handle != NULL) {
    EFI_STATUS Status = DestroyChild(This, Controller, Private, TRUE);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  if (NumberOfChildren > 0) {
    return EFI_SUCCESS;
  }
  FindController(Controller, TRUE);
  ReleaseController(This, Controller, Private, TRUE);
  return EFI_SUCCESS;
}

EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL gVantorSupportedEfiVersion = {
    sizeof(EFI_DRIVER_SUPPORTED_EFI_VERSION_PROTOCOL), 0};

} // namespace

EFI_DRIVER_BINDING_PROTOCOL gVantorDriverBinding = {VantorSupported,       VantorStart, VantorStop,
                                                    VANTOR_DRIVER_VERSION, NULL,        NULL};

// ---- Module entry -------------------------------------------------------------------------

EFI_STATUS VantorGraphicsEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status =
      EfiLibInstallDriverBindingComponentName2(ImageHandle, SystemTable, &gVantorDriverBinding, ImageHandle,
                                               &gVantorComponentName, &gVantorComponentName2);
  if (EFI_ERROR(Status)) {
    VantorAssertEfiError(UNIT, VANTOR_ASSERT_LINE_DRIVER_BINDING, Status);
  }
  gVantorSupportedEfiVersion.FirmwareVersion = VANTOR_FIRMWARE_VERSION;
  Status = gBS->InstallMultipleProtocolInterfaces(&ImageHandle, &gEfiDriverSupportedEfiVersionProtocolGuid,
                                                  &gVantorSupportedEfiVersion, NULL);
  if (EFI_ERROR(Status)) {
    VantorAssertEfiError(UNIT, VANTOR_ASSERT_LINE_SUPPORTED_VERSION, Status);
  }
  return Status;
}
