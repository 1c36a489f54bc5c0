// The management processor's firmware report at the end of the dispatch, as the platform's
// boot screen shows it: the firmware library's formatter runs on the board's models.
#include "Board.h"
#include "I2cMailbox.h"

#include <GcdMap.h>
#include <HostText.h>

#include <Library/PelmoLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

namespace host {

namespace {

constexpr UINT32 kReportChars = 512;

// The report reads the mailbox and the status region: on the board only once the platform has
// claimed them in the memory-space map (Regionhold does), as any reader of those blocks must.
bool Claimed(Platform &Core, const char *Name) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
  return Core.Gcd().GetMemorySpaceDescriptor(Board::Region(Name).Base, &Descriptor) == EFI_SUCCESS &&
         Descriptor.GcdMemoryType != EfiGcdMemoryTypeNonExistent;
}

} // namespace

void LogManagementFirmwareReport(Board &B) {
  if (!B.HasModel("mailbox")) {
    return;
  }
  Platform &Core = B.Core();
  if (!Claimed(Core, "mailbox") || !Claimed(Core, "pelmo-status")) {
    Core.Log().Append("board",
                      "no management-processor firmware report: its blocks are not in the memory-space map\n",
                      Core.VirtualTimeNs());
    return;
  }
  UefiBootServicesTableLibConstructor(Core.FirmwareHandle(), Core.SystemTable());
  UefiRuntimeServicesTableLibConstructor(Core.FirmwareHandle(), Core.SystemTable());
  CHAR16 Report[kReportChars] = {};
  EFI_STATUS Status = EFI_NOT_STARTED;
  Core.Guard([&] { Status = PelmoFormatFirmwareInfo(Report, sizeof(Report)); });
  std::string Text = EFI_ERROR(Status)
                         ? "no usable management-processor firmware (" + StatusName(Status) + ")"
                         : Utf16ToUtf8(std::u16string(Report));
  std::string Lines;
  for (char Character : Text) {
    if (Character != '\r') {
      Lines += Character == '\t' ? std::string("  ") : std::string(1, Character);
    }
  }
  Core.Log().Append("board", "management-processor firmware report:\n" + Lines + "\n", Core.VirtualTimeNs());
}

} // namespace host

namespace host {

void LogI2cBusyPolls(Board &B) {
  for (const char *Name : {"i2c0", "i2c1"}) {
    if (B.HasModel(Name)) {
      const unsigned Polls = B.Model<I2cController>(Name).BusyStatusReads();
      B.Core().Log().Append("board",
                            std::string(Name) + ": " + std::to_string(Polls) +
                                " status polls found the bus active (idle waits the bus activity caused)\n",
                            B.Core().VirtualTimeNs());
    }
  }
}

} // namespace host
