// IpmiStub entry: installs the IPMI information protocol on a new handle.
#include "IpmiStub.h"

#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/OemIpmiInformation.h>

namespace {

// The driver stays resident, so the record can live in the image.
OEM_IPMI_INFORMATION_PROTOCOL mIpmiInformation = {{}, IPMI_STUB_BMC_MEMORY_BASE};

} // namespace

EFI_STATUS EFIAPI IpmiStubEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_HANDLE Handle = NULL;
  return gBS->InstallProtocolInterface(&Handle, &gOemIpmiInformationProtocolGuid, EFI_NATIVE_INTERFACE,
                                       &mIpmiInformation);
}
