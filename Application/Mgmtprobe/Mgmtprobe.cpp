// Mgmtprobe entry: looks up the IPMI information protocol and prints its BMC memory base.
#include "Mgmtprobe.h"

#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/OemIpmiInformation.h>

// The tool reports on the console only; its own status is always success, whether or not
// the protocol was found.
EFI_STATUS EFIAPI MgmtprobeMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  Print(u"Get BMC base memory tool initial. \n");

  OEM_IPMI_INFORMATION_PROTOCOL *IpmiInformation = NULL;
  EFI_STATUS Status = gBS->LocateProtocol(&gOemIpmiInformationProtocolGuid, NULL,
                                          reinterpret_cast<VOID **>(&IpmiInformation));
  // A producer may install the GUID with a NULL interface; there is no record to read then.
  if (EFI_ERROR(Status) || IpmiInformation == NULL) {
    Print(u"Locate Oem Ipmi Information Protocol error. \n");
    return EFI_SUCCESS;
  }

  Print(u"BMC_memory = %016lX\n", IpmiInformation->BmcMemoryBase);
  return EFI_SUCCESS;
}
