// The processor's view of RAM: the regions the board maps, the access each page allows, the page
// table the JIT reads and writes through at memory speed, and names for address ranges (images)
// so that faults say where they happened.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cpu {

// How the processor may use a page of RAM.
enum class PageAccess : uint8_t {
  ReadWrite,   // data: no execution
  ReadExecute, // code: writes are faults
  Guard,       // under a stack: any access is a stack overflow
};

class GuestMemory {
public:
  static constexpr unsigned PageShift = 12;
  static constexpr uint64_t PageBytes = 1ull << PageShift;
  // Addresses the page table covers; RAM must lie below. Above it every access is the board's.
  static constexpr unsigned AddressBits = 36;

  GuestMemory();
  ~GuestMemory();
  GuestMemory(const GuestMemory &) = delete;
  GuestMemory &operator=(const GuestMemory &) = delete;

  // The JIT's page table: the host address of each ReadWrite page of RAM, null elsewhere (code
  // and guard pages too, so that every access to them reaches the processor's checks).
  void **PageTable() const { return PageTable_; }

  // Throws std::invalid_argument when the range is not whole pages below AddressBits, or overlaps.
  void MapRam(uint64_t Base, uint64_t Bytes, uint8_t *Host);
  // Throws std::invalid_argument when the range is not whole pages of mapped RAM.
  void SetAccess(uint64_t Base, uint64_t Bytes, PageAccess Access);

  // The host bytes of a RAM address, or nullptr outside RAM.
  uint8_t *HostOf(uint64_t Address) const;
  std::optional<PageAccess> AccessOf(uint64_t Address) const;
  bool IsExecutable(uint64_t Address) const { return AccessOf(Address) == PageAccess::ReadExecute; }
  // Copies RAM bytes; false when any is outside RAM.
  bool Read(uint64_t Address, void *To, uint64_t Bytes) const;
  bool Write(uint64_t Address, const void *From, uint64_t Bytes);

  void NameRange(uint64_t Base, uint64_t Bytes, std::string Name);
  void ForgetRange(uint64_t Base);
  // "Name+0xOFFSET" inside a named range, "0xADDRESS" elsewhere.
  std::string Describe(uint64_t Address) const;

private:
  struct Region {
    uint64_t Base;
    uint64_t Bytes;
    uint8_t *Host;
    std::vector<PageAccess> Pages;
  };
  struct Named {
    uint64_t Bytes;
    std::string Name;
  };
  const Region *RegionOf(uint64_t Address) const;
  Region &WholeRegion(uint64_t Base, uint64_t Bytes);

  void **PageTable_;
  std::vector<Region> Regions_;
  std::map<uint64_t, Named> Names_;
};

} // namespace cpu
