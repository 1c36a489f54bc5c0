// Entry of the emulated root bridge driver: reads the platform setup variable that decides
// which optional controllers exist, then publishes the host bridge and its root bridge.
#include <Guid/PlatformSetupVariable.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include "Bridgemimic.h"

PCIEM_PRIVATE PciEmPrivate = {};

const PCIEM_DEVICE_PATH PciEmDevicePath = {
    {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, EISA_PNP_ID(0x0A03), PCIEM_BUS},
    {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}},
};
static_assert(EISA_PNP_ID(0x0A03) == 0x0A0341D0);

namespace {

// The first 100 bytes of "Setup"; a larger or missing variable leaves the buffer zero.
EFI_STATUS ReadSetupVariable() {
  UINTN Size = sizeof(PciEmSetupData);
  return gRT->GetVariable(const_cast<CHAR16 *>(PLATFORM_SETUP_VARIABLE_NAME), &gPlatformSetupVariableGuid,
                          NULL, &Size, PciEmSetupData);
}

VOID InitializePrivate() {
  ZeroMem(&PciEmPrivate, sizeof(PciEmPrivate));
  PciEmPrivate.BusBase = PCIEM_BUS;
  PciEmPrivate.BusCount = 1;
  PciEmPrivate.MemBase = PCIEM_MEM_BASE;
  PciEmPrivate.MemLength = PCIEM_MEM_LENGTH;
  PciEmPrivate.Attributes = 0;
  PciEmPrivate.ResAlloc = &PciEmResourceAllocation;
  PciEmPrivate.DevPath = const_cast<EFI_DEVICE_PATH_PROTOCOL *>(&PciEmDevicePath.AcpiNode.Header);
  PciEmPrivate.RbIo = &PciEmRootBridgeIo;
}

} // namespace

EFI_STATUS EFIAPI BridgemimicEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DEBUG((PCIEM_PRINT_LEVEL, "PciEM: GetVariable - "));
  EFI_STATUS Status = ReadSetupVariable();
  DEBUG((PCIEM_PRINT_LEVEL, "%r\n", Status));
  ASSERT_EFI_ERROR(Status);
  DEBUG((PCIEM_PRINT_LEVEL, "PciEM: AhciController#2 Enable - %d\n",
         PciEmSetupData[PLATFORM_SETUP_AHCI2_ENABLE]));
  DEBUG((PCIEM_PRINT_LEVEL, "PciEM: AhciController#3 Enable - %d\n",
         PciEmSetupData[PLATFORM_SETUP_AHCI3_ENABLE]));

  InitializePrivate();

  // The host bridge handle is known only as the root bridge's parent.
  Status = gBS->InstallMultipleProtocolInterfaces(&PciEmRootBridgeIo.ParentHandle,
                                                  &gEfiPciHostBridgeResourceAllocationProtocolGuid,
                                                  PciEmPrivate.ResAlloc, NULL);
  DEBUG((PCIEM_PRINT_LEVEL, "PciEm: InstallMultipleProtocolInterfaces(ResAlloc)=%r\n", Status));
  if (EFI_ERROR(Status)) {
    return Status;
  }

  Status = gBS->InstallMultipleProtocolInterfaces(&PciEmPrivate.RbHandle, &gEfiPciRootBridgeIoProtocolGuid,
                                                  PciEmPrivate.RbIo, &gEfiDevicePathProtocolGuid,
                                                  PciEmPrivate.DevPath, NULL);
  DEBUG((PCIEM_PRINT_LEVEL, "PciEm: InstallMultipleProtocolInterfaces(RbIo; DevPath)=%r\n", Status));
  if (EFI_ERROR(Status)) {
    // The image is unloaded on failure: nothing may keep pointing into it.
    gBS->UninstallMultipleProtocolInterfaces(PciEmRootBridgeIo.ParentHandle,
                                             &gEfiPciHostBridgeResourceAllocationProtocolGuid,
                                             PciEmPrivate.ResAlloc, NULL);
    PciEmRootBridgeIo.ParentHandle = NULL;
  }
  return Status;
}
