// The platform's PCI bus enumerator on the host board: a consumer of the PCI host bridge
// resource allocation and root bridge I/O protocols that drives them the way a UEFI PCI bus
// driver does. For every host bridge it runs the allocation phases, walks the root bridges,
// sets their bus numbers, scans every device and function of their buses through Pci.Read,
// sizes each BAR (all ones, read back, restore), submits the resources, programs the BARs it
// is given and lists what it found in the style of the UEFI shell's `pci` command. It frees
// every buffer a protocol member hands out.
#pragma once

#include <HostPlatform.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace host {

struct PciBar {
  unsigned Index = 0;    // BAR number, 0..5
  uint64_t Address = 0;  // as read after programming
  uint64_t Size = 0;     // from the sizing read-back
  bool Memory64 = false; // a 64-bit memory BAR (it takes two registers)
  bool Io = false;       // an I/O BAR
  bool Prefetchable = false;
};

struct PciFunctionEntry {
  uint32_t Segment = 0;
  uint8_t Bus = 0, Device = 0, Function = 0;
  uint16_t VendorId = 0, DeviceId = 0, Command = 0;
  uint8_t BaseClass = 0, SubClass = 0, ProgIf = 0, HeaderType = 0;
  std::vector<PciBar> Bars;
};

// Where a BAR of a function is placed when the host bridge proposes no addresses: the fixed
// MMIO address of the block behind it, from the board's SoC map.
using PciBarKey = std::tuple<uint32_t, uint8_t, uint8_t, uint8_t, unsigned>; // segment, bus, dev, func, BAR
using PciBarPlacements = std::map<PciBarKey, uint64_t>;

struct PciEnumeration {
  std::vector<PciFunctionEntry> Functions;
  std::vector<std::string> Problems; // protocol misbehaviour and BARs that did not take their address
  unsigned HostBridges = 0;
  unsigned RootBridges = 0;
};

// Enumerates every host bridge of P, or only HostBridge when it is given; the listing and the
// problems go to the board log.
PciEnumeration EnumeratePci(Platform &P, const PciBarPlacements &Placements = {},
                            EFI_HANDLE HostBridge = nullptr);

// The listing of the functions, one block per function as the shell's `pci` prints it, with
// a line per BAR.
std::string PciListing(const std::vector<PciFunctionEntry> &Functions);

} // namespace host
