#include "VidframeTestBoard.h"

#include <BoardCheck.h>
#include <Library/UefiBootServicesTableLib.h>

#include <gtest/gtest.h>

namespace vidframe_test {

ChipBoard::ChipBoard(const Knobs &Settings, const Knobs &Faults) {
  Core_ = std::make_unique<host::Platform>();
  host::BoardOptions Options;
  Options.Settings = Settings;
  Options.Faults = Faults;
  Built_ = host::Board::Build(*Core_, Options);
  UefiBootServicesTableLibConstructor(Core_->FirmwareHandle(), Core_->SystemTable());
  Private_.Signature = VANTOR_PRIVATE_DATA_SIGNATURE;
  Private_.PciIo = PciIo();
  EXPECT_EQ(
      PciIo()->Attributes(PciIo(), EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr),
      EFI_SUCCESS);
}

ChipBoard::~ChipBoard() {
  board_test::ExpectNoUnexpectedErrors(*Built_, Expected_);
  gBS = nullptr;
  gST = nullptr;
}

void ChipBoard::Run(const std::function<void()> &Call) {
  auto Halted = Core_->Guard(Call);
  EXPECT_FALSE(Halted.has_value()) << (Halted ? Halted->Text : "");
}

EFI_STATUS ChipBoard::InitController() {
  EFI_STATUS Status = EFI_NOT_READY;
  Run([&] { Status = VantorInitController(&Private_); });
  return Status;
}

std::string ChipBoard::StdErr() const {
  return host::Utf16ToUtf8(Core_->StdErrText());
}

} // namespace vidframe_test
