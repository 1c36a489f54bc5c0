// RAM regions, page accesses and the JIT's page table.
#include "GuestMemory.h"

#include "CpuCommon.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace cpu {

namespace {

constexpr uint64_t PageTableEntries = 1ull << (GuestMemory::AddressBits - GuestMemory::PageShift);
constexpr uint64_t PageTableBytes = PageTableEntries * sizeof(void *);

bool WholePages(uint64_t Base, uint64_t Bytes) {
  return Bytes != 0 && ((Base | Bytes) & (GuestMemory::PageBytes - 1)) == 0 && Base + Bytes > Base;
}

} // namespace

// The table spans the whole address range; only the entries of mapped RAM are ever touched, so
// the host commits only those pages of it.
GuestMemory::GuestMemory() {
  void *Table = mmap(nullptr, PageTableBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (Table == MAP_FAILED) {
    throw std::bad_alloc();
  }
  PageTable_ = static_cast<void **>(Table);
}

GuestMemory::~GuestMemory() {
  munmap(PageTable_, PageTableBytes);
}

void GuestMemory::MapRam(uint64_t Base, uint64_t Bytes, uint8_t *Host) {
  if (!WholePages(Base, Bytes) || (Base + Bytes) > (1ull << AddressBits) ||
      (reinterpret_cast<uint64_t>(Host) & (PageBytes - 1)) != 0) {
    throw std::invalid_argument("RAM " + Hex(Base) + "+" + Hex(Bytes) +
                                " is not whole pages the processor can map");
  }
  for (const Region &Other : Regions_) {
    if (Base < Other.Base + Other.Bytes && Other.Base < Base + Bytes) {
      throw std::invalid_argument("RAM " + Hex(Base) + "+" + Hex(Bytes) + " overlaps RAM at " +
                                  Hex(Other.Base));
    }
  }
  Regions_.push_back({Base, Bytes, Host, std::vector<PageAccess>(Bytes >> PageShift, PageAccess::ReadWrite)});
  for (uint64_t Offset = 0; Offset < Bytes; Offset += PageBytes) {
    PageTable_[(Base + Offset) >> PageShift] = Host + Offset;
  }
}

GuestMemory::Region &GuestMemory::WholeRegion(uint64_t Base, uint64_t Bytes) {
  for (Region &Candidate : Regions_) {
    if (WholePages(Base, Bytes) && Base >= Candidate.Base &&
        Base + Bytes <= Candidate.Base + Candidate.Bytes) {
      return Candidate;
    }
  }
  throw std::invalid_argument(Hex(Base) + "+" + Hex(Bytes) + " is not whole pages of RAM");
}

void GuestMemory::SetAccess(uint64_t Base, uint64_t Bytes, PageAccess Access) {
  Region &Ram = WholeRegion(Base, Bytes);
  for (uint64_t Address = Base; Address < Base + Bytes; Address += PageBytes) {
    Ram.Pages[(Address - Ram.Base) >> PageShift] = Access;
    PageTable_[Address >> PageShift] =
        Access == PageAccess::ReadWrite ? Ram.Host + (Address - Ram.Base) : nullptr;
  }
}

const GuestMemory::Region *GuestMemory::RegionOf(uint64_t Address) const {
  for (const Region &Candidate : Regions_) {
    if (Address >= Candidate.Base && Address - Candidate.Base < Candidate.Bytes) {
      return &Candidate;
    }
  }
  return nullptr;
}

uint8_t *GuestMemory::HostOf(uint64_t Address) const {
  const Region *Ram = RegionOf(Address);
  return Ram == nullptr ? nullptr : Ram->Host + (Address - Ram->Base);
}

std::optional<PageAccess> GuestMemory::AccessOf(uint64_t Address) const {
  const Region *Ram = RegionOf(Address);
  if (Ram == nullptr) {
    return std::nullopt;
  }
  return Ram->Pages[(Address - Ram->Base) >> PageShift];
}

bool GuestMemory::Read(uint64_t Address, void *To, uint64_t Bytes) const {
  const Region *Ram = RegionOf(Address);
  if (Ram == nullptr || Bytes > Ram->Base + Ram->Bytes - Address) {
    return false;
  }
  std::memcpy(To, Ram->Host + (Address - Ram->Base), Bytes);
  return true;
}

bool GuestMemory::Write(uint64_t Address, const void *From, uint64_t Bytes) {
  const Region *Ram = RegionOf(Address);
  if (Ram == nullptr || Bytes > Ram->Base + Ram->Bytes - Address) {
    return false;
  }
  std::memcpy(Ram->Host + (Address - Ram->Base), From, Bytes);
  return true;
}

void GuestMemory::NameRange(uint64_t Base, uint64_t Bytes, std::string Name) {
  Names_[Base] = {Bytes, std::move(Name)};
}

void GuestMemory::ForgetRange(uint64_t Base) {
  Names_.erase(Base);
}

std::string GuestMemory::Describe(uint64_t Address) const {
  auto Next = Names_.upper_bound(Address);
  if (Next != Names_.begin()) {
    const auto &[Base, Range] = *std::prev(Next);
    if (Address - Base < Range.Bytes) {
      return Range.Name + "+" + Hex(Address - Base);
    }
  }
  return Hex(Address);
}

} // namespace cpu
