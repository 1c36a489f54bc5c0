// Where the board's on-chip controllers sit in the SoC map, as the PCI enumerator places the
// BARs of the emulated functions on segment 0xFF, bus 0xFF.
#pragma once

#include <PciEnumerator.h>

namespace host {

constexpr uint32_t BOARD_PCI_SEGMENT = 0xFF;
constexpr uint8_t BOARD_PCI_BUS = 0xFF;

struct BoardPciController {
  const char *Name; // SoC map region
  uint8_t Device;
  unsigned Bar;
  uint64_t Base, Size;
};

// The AHCI controllers #2 and #3 (BAR5) and the two xHCI controllers (BAR0).
const std::vector<BoardPciController> &BoardPciControllers();
PciBarPlacements BoardPciPlacements();

} // namespace host
