// Where the board's on-chip controllers sit in the SoC map, as the PCI enumerator places the
// BARs of the emulated functions on segment 0xFF, bus 0xFF.
#pragma once

#include <PciEnumerator.h>

namespace host {

constexpr uint32_t BOARD_PCI_SEGMENT = 0xFF;
constexpr uint8_t BOARD_PCI_BUS = 0xFF;

struct BoardPciController {
  uint8_t Device;
  unsigned Bar;
  uint64_t Base;
};

// The AHCI controllers #2 and #3 (BAR5) and the two xHCI controllers (BAR0).
const std::vector<BoardPciController> &BoardPciControllers();
// Their blocks in the SoC map: "usb" (both xHCI controllers) and "sata" (both AHCI controllers).
struct BoardPciBlock {
  const char *Name;
  uint64_t Base, Size;
};
const std::vector<BoardPciBlock> &BoardPciBlocks();
PciBarPlacements BoardPciPlacements();

} // namespace host
