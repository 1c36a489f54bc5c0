// A test board for Vidframe's chip code: the emulated core, the VGA chip model on its BARs and
// the PCI I/O producer, with memory decoding enabled as the driver's Start does, and a record
// that the firmware's own units work on, linked into the test.
#pragma once

#include <HostPlatform.h>
#include <PciIo.h>
#include <VgaChip.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "VantorGraphics.h"

namespace vidframe_test {

class ChipBoard {
public:
  explicit ChipBoard(host::vga::VgaChipConfig Config = host::vga::VgaChipConfig::Default());
  ~ChipBoard();

  host::Platform &Core() { return *Core_; }
  host::vga::VgaChip &Chip() { return *Chip_; }
  host::PciIoProducer &Producer() { return *Producer_; }
  EFI_PCI_IO_PROTOCOL *PciIo() { return Producer_->Interface(); }
  VANTOR_PRIVATE_DATA *Private() { return &Private_; }

  // Runs firmware code the way the core runs a protocol member; fails the test on a halt.
  void Run(const std::function<void()> &Call);
  EFI_STATUS InitController();
  std::string StdErr() const;

private:
  std::unique_ptr<host::Platform> Core_;
  std::shared_ptr<host::vga::VgaChip> Chip_;
  std::unique_ptr<host::PciIoProducer> Producer_;
  VANTOR_PRIVATE_DATA Private_{};
};

} // namespace vidframe_test
