// The board's on-chip AHCI and xHCI controllers in the SoC map.
#include "PciPlacements.h"

namespace host {

constexpr uint64_t MIB = 1024 * 1024;

const std::vector<BoardPciController> &BoardPciControllers() {
  static const std::vector<BoardPciController> Controllers = {
      {2, 5, 0x1A400000},
      {3, 5, 0x1A800000},
      {4, 0, 0x19000000},
      {5, 0, 0x19800000},
  };
  return Controllers;
}

const std::vector<BoardPciBlock> &BoardPciBlocks() {
  static const std::vector<BoardPciBlock> Blocks = {
      {"usb", 0x19000000, 16 * MIB},
      {"sata", 0x1A400000, 8 * MIB},
  };
  return Blocks;
}

PciBarPlacements BoardPciPlacements() {
  PciBarPlacements Placements;
  for (const BoardPciController &Controller : BoardPciControllers()) {
    Placements[{BOARD_PCI_SEGMENT, BOARD_PCI_BUS, Controller.Device, 0, Controller.Bar}] = Controller.Base;
  }
  return Placements;
}

} // namespace host
