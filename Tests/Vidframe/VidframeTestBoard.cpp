#include "VidframeTestBoard.h"

#include <Library/UefiBootServicesTableLib.h>

#include <gtest/gtest.h>

namespace vidframe_test {

ChipBoard::ChipBoard(host::vga::VgaChipConfig Config) {
  Core_ = std::make_unique<host::Platform>();
  Chip_ = std::make_shared<host::vga::VgaChip>(std::move(Config));
  Chip_->AttachTo(*Core_);
  Producer_ = std::make_unique<host::PciIoProducer>(*Core_, Chip_, host::PciLocation{0, 0, 1, 0});
  EXPECT_EQ(Producer_->Install(), EFI_SUCCESS);
  UefiBootServicesTableLibConstructor(Core_->FirmwareHandle(), Core_->SystemTable());
  Private_.Signature = VANTOR_PRIVATE_DATA_SIGNATURE;
  Private_.PciIo = PciIo();
  EXPECT_EQ(
      PciIo()->Attributes(PciIo(), EfiPciIoAttributeOperationEnable, EFI_PCI_IO_ATTRIBUTE_MEMORY, nullptr),
      EFI_SUCCESS);
}

ChipBoard::~ChipBoard() {
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
