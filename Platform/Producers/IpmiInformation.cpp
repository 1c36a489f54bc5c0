// Host producer of the IPMI information protocol.
#include "IpmiInformation.h"

#include <cstring>
#include <iomanip>
#include <sstream>

namespace host {
namespace {

constexpr UINT64 BOARD_KCS_BASE = 0x00000000000000CAull; // KCS data port; command port at +1
constexpr UINT8 BMC_SLAVE_ADDRESS = 0x20;
constexpr UINT32 BOARD_MANUFACTURER_ID = 0x0000A015;
constexpr UINT64 BMC_MEMORY_SIZE = 0x0000000004000000ull; // 64 MiB shared with the host
constexpr UINT32 SEL_BUFFER_SIZE = 0x10000;
constexpr UINT32 WATCHDOG_TIMEOUT_SECONDS = 600;

template <size_t N> void CopyText(CHAR8 (&Destination)[N], const char *Text) {
  std::strncpy(Destination, Text, N - 1);
  Destination[N - 1] = '\0';
}

OEM_IPMI_INFORMATION_RECORD MakeRecord(UINT64 BmcMemoryBase) {
  OEM_IPMI_INFORMATION_RECORD Record{};
  Record.Revision = OEM_IPMI_INFORMATION_REVISION;
  Record.InterfaceType = OEM_IPMI_INTERFACE_KCS;
  Record.IpmiVersionMajor = 2;
  Record.IpmiVersionMinor = 0;
  Record.BmcSlaveAddress = BMC_SLAVE_ADDRESS;
  Record.KcsBaseAddress = BOARD_KCS_BASE;
  Record.KcsRegisterSpacing = 1;
  Record.BmcDeviceId = 0x20;
  Record.BmcDeviceRevision = 0x01;
  Record.ManufacturerId = BOARD_MANUFACTURER_ID;
  Record.ProductId = 0x0B20;
  Record.FirmwareMajorRevision = 1;
  Record.FirmwareMinorRevision = 0x12;
  CopyText(Record.FirmwareVersion, "1.12.0-host");
  const UINT8 Mac[6] = {0x02, 0x00, 0x00, 0xB0, 0x0C, 0x01}; // locally administered
  std::memcpy(Record.BmcMacAddress, Mac, sizeof(Mac));
  Record.SelBufferBase = BmcMemoryBase + BMC_MEMORY_SIZE - SEL_BUFFER_SIZE;
  Record.SelBufferSize = SEL_BUFFER_SIZE;
  Record.WatchdogTimeoutSeconds = WATCHDOG_TIMEOUT_SECONDS;
  CopyText(Record.BoardSerialNumber, "HOSTBOARD-0001");
  Record.BmcMemoryBase = BmcMemoryBase;
  Record.BmcMemorySize = BMC_MEMORY_SIZE;
  return Record;
}

std::string AddressText(UINT64 Value) {
  std::ostringstream Text;
  Text << "0x" << std::uppercase << std::hex << std::setw(16) << std::setfill('0') << Value;
  return Text.str();
}

} // namespace

// The record lives in the board's memory, as another firmware's record would.
EFI_STATUS InstallOemIpmiInformation(Platform &P, UINT64 BmcMemoryBase) {
  VOID *Record = P.AllocateRecord(EfiBootServicesData, sizeof(OEM_IPMI_INFORMATION_RECORD));
  if (Record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  *static_cast<OEM_IPMI_INFORMATION_RECORD *>(Record) = MakeRecord(BmcMemoryBase);
  EFI_HANDLE Handle = nullptr;
  EFI_STATUS Status = P.BootServices()->InstallProtocolInterface(&Handle, &gOemIpmiInformationProtocolGuid,
                                                                 EFI_NATIVE_INTERFACE, Record);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  P.Log().Append("ipmi", "IPMI information installed, BMC memory base " + AddressText(BmcMemoryBase) + "\n",
                 P.VirtualTimeNs());
  return EFI_SUCCESS;
}

} // namespace host
