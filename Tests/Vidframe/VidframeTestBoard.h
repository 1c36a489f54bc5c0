// A test board for Vidframe's chip code: the board built from options (its VGA chip with the
// PCI I/O the bus driver installs), memory decoding enabled as the driver's Start does, and a
// record that the firmware's own units work on, linked into the test. At the end the board
// must have recorded no error the test did not expect.
#pragma once

#include <Board.h>
#include <HostPlatform.h>
#include <PciIo.h>
#include <Vga/VgaChip.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VantorGraphics.h"

namespace vidframe_test {

using Knobs = std::map<std::string, std::string>;

class ChipBoard {
public:
  explicit ChipBoard(const Knobs &Settings = {}, const Knobs &Faults = {});
  ~ChipBoard();

  host::Platform &Core() { return *Core_; }
  host::Board &Built() { return *Built_; }
  host::vga::VgaChip &Chip() { return Built_->Model<host::vga::VgaChip>("vga"); }
  host::PciIoProducer &Producer() { return *Built_->Producer<host::PciIoProducer>("vga-pci-io"); }
  EFI_PCI_IO_PROTOCOL *PciIo() { return Producer().Interface(); }
  VANTOR_PRIVATE_DATA *Private() { return &Private_; }
  // Board errors containing one of these texts are part of what the test provokes.
  void ExpectErrors(std::vector<std::string> Texts) { Expected_ = std::move(Texts); }

  // Runs firmware code the way the core runs a protocol member; fails the test on a halt.
  void Run(const std::function<void()> &Call);
  EFI_STATUS InitController();
  std::string StdErr() const;

private:
  std::unique_ptr<host::Platform> Core_;
  std::unique_ptr<host::Board> Built_;
  VANTOR_PRIVATE_DATA Private_{};
  std::vector<std::string> Expected_;
};

} // namespace vidframe_test
