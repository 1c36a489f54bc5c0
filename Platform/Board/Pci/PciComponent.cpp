// The board's on-chip AHCI and xHCI controllers as the emulated PCI root bridge presents them:
// their blocks in the SoC map, the platform setup variable that enables the optional AHCI
// controllers (created on the first boot), and the platform's PCI bus driver that enumerates
// the root bridge when the boot manager connects it.
#include "Board.h"
#include "PciBusDriver.h"
#include "PciPlacements.h"
#include "PlatformSetup.h"

#include <deque>

namespace host {
namespace {

// Drivers stay installed for the life of their board's protocols, hence the deque.
std::deque<PciBusDriver> gBusDrivers;

std::vector<SocRegion> Regions() {
  std::vector<SocRegion> Rows;
  for (const BoardPciBlock &Block : BoardPciBlocks()) {
    Rows.push_back({Block.Name, Block.Base, Block.Size, EfiGcdMemoryTypeMemoryMappedIo, false});
  }
  return Rows;
}

void PciInstall(Board &B) {
  if (!B.Fault("setup-missing") && EnsurePlatformSetup(B.Core().Variables())) {
    B.Core().Log().Append("board", "created the variable Setup (100 zero bytes)\n", B.Core().VirtualTimeNs());
  }
  B.Provide("pci-bus", &gBusDrivers.emplace_back(B.Core(), BoardPciPlacements()));
}

} // namespace

BoardComponent PciComponent() {
  return {
      "pci",
      Regions(),
      {},
      {{"setup-missing", "", "the platform setup variable \"Setup\" is neither there nor created"}},
      PciInstall,
      nullptr,
  };
}

} // namespace host
