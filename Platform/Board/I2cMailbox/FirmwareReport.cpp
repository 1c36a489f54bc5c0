// The management processor's firmware report at the end of the dispatch, as the platform's
// boot screen shows it: the report application runs on the board's models.
#include "Board.h"
#include "I2cMailbox.h"

#include <GcdMap.h>

namespace host {

namespace {

constexpr char kReportApplication[] = "Pelmoreport";

// The report reads the mailbox and the status region: on the board only once the platform has
// claimed them in the memory-space map (Regionhold does), as any reader of those blocks must.
bool Claimed(Platform &Core, const char *Name) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
  return Core.Gcd().GetMemorySpaceDescriptor(Board::Region(Name).Base, &Descriptor) == EFI_SUCCESS &&
         Descriptor.GcdMemoryType != EfiGcdMemoryTypeNonExistent;
}

void BoardLine(Platform &Core, const std::string &Text) {
  Core.Log().Append("board", Text + "\n", Core.VirtualTimeNs());
}

} // namespace

void LogManagementFirmwareReport(Board &B) {
  if (!B.HasModel("mailbox")) {
    return;
  }
  Platform &Core = B.Core();
  if (!Claimed(Core, "mailbox") || !Claimed(Core, "pelmo-status")) {
    BoardLine(Core, "no management-processor firmware report: its blocks are not in the memory-space map");
    return;
  }
  EFI_HANDLE Image = nullptr;
  if (const EFI_STATUS Status = Core.LoadModule(kReportApplication, &Image); EFI_ERROR(Status)) {
    BoardLine(Core, std::string("no management-processor firmware report: ") + kReportApplication + ": " +
                        StatusName(Status));
    return;
  }
  // The application prints the report on the console, which the board log shows.
  BoardLine(Core, "management-processor firmware report:");
  const ImageResult Result = Core.StartImage(Image);
  if (EFI_ERROR(Result.Status) || Result.Halted) {
    BoardLine(Core, "no usable management-processor firmware (" +
                        StatusName(Result.Halted ? EFI_NOT_STARTED : Result.Status) + ")");
  }
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
