// libFuzzer target for the management-processor firmware report (PelmoFormatFirmwareInfo)
// over arbitrary status words, build identifiers, MAC slot texts and buffer sizes. The input
// is: firmware status, build date, feature word and build identifier (four little-endian
// 32-bit words), one byte for the EEPROM MAC service (bit 0 present, bit 1 fails), two bytes
// of buffer size in CHAR16, then up to 360 bytes of MAC slots, which the service copies into
// the caller's table as they are (unterminated slots included). The report goes into a heap
// buffer of exactly the given size, so ASan sees any write past it; a report must end in a
// NUL inside the buffer.
#include <HostAbi.h>
#include <Library/PelmoLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/EepromMac.h>

#include "PelmoLibInternal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t WORDS = 4;
constexpr size_t HEADER = WORDS * 4 + 1 + 2;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

struct Input {
  uint32_t FirmwareStatus = 0, BuildDate = 0, Features = 0, BuildId = 0;
  bool ServicePresent = false, ServiceFails = false;
  std::vector<uint8_t> Slots;
};
Input gInput;

EFI_STATUS EFIAPI FakeGetMacAddresses(CHAR16 *Table) {
  std::memcpy(Table, gInput.Slots.data(), gInput.Slots.size());
  return gInput.ServiceFails ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EEPROM_MAC_PROTOCOL gService = {FakeGetMacAddresses};
EFI_BOOT_SERVICES gBootServices{};

EFI_STATUS EFIAPI FakeLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  if (!gInput.ServicePresent || !CompareGuidValues(*Protocol, gEepromMacProtocolGuid)) {
    return EFI_NOT_FOUND;
  }
  *Interface = &gService;
  return EFI_SUCCESS;
}

uint32_t Word(const uint8_t *Data) {
  return uint32_t(Data[0]) | uint32_t(Data[1]) << 8 | uint32_t(Data[2]) << 16 | uint32_t(Data[3]) << 24;
}

} // namespace

// A dead loop in the libraries stops the run.
extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  std::abort();
}

// The library's hardware access, served from the input at the status region's offsets (typed
// from its layout, not taken from the library).
UINT32 PelmoStatusWord(UINTN Offset) {
  switch (Offset) {
  case 0x1360:
    return gInput.FirmwareStatus;
  case 0x11B0:
    return gInput.BuildDate;
  case 0x11AC:
    return gInput.Features;
  default:
    return 0;
  }
}
UINT32 PelmoQueryBuildId(VOID) {
  return gInput.BuildId;
}
UINT32 PelmoGetLoadState(VOID) {
  return gInput.FirmwareStatus & 0x0C000000; // bits 27..26
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < HEADER) {
    return 0;
  }
  gInput = {Word(Data),
            Word(Data + 4),
            Word(Data + 8),
            Word(Data + 12),
            (Data[16] & 1) != 0,
            (Data[16] & 2) != 0,
            std::vector<uint8_t>(sizeof(MAC_STRING_TABLE), 0)};
  std::memcpy(gInput.Slots.data(), Data + HEADER, std::min(Size - HEADER, gInput.Slots.size()));
  const size_t Chars = size_t(Data[17]) | size_t(Data[18]) << 8;
  gBootServices.LocateProtocol = FakeLocateProtocol;
  gBS = &gBootServices;

  std::vector<CHAR16> Report(Chars, 0xBEEF);
  const EFI_STATUS Status =
      PelmoFormatFirmwareInfo(Chars == 0 ? nullptr : Report.data(), UINT32(Chars * sizeof(CHAR16)));
  if (Status == EFI_SUCCESS && Chars != 0) {
    Check(std::find(Report.begin(), Report.end(), 0) != Report.end());
  }
  Check(Status == EFI_SUCCESS || Status == EFI_UNSUPPORTED);
  return 0;
}
