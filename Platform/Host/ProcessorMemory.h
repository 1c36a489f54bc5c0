// The AArch64 processor's private memory: its trap stubs, its stack and guard page, the copies of
// the tables firmware sees and every loaded .efi image. One fixed mapping beside the board's
// DRAM, at the same address in the host (host code reads firmware pointers into it directly) and
// in the processor's page table. It is never the core's: not in its allocator, the GCD map or the
// UEFI memory map, so that the core hands out exactly the DRAM addresses of the host build, whose
// modules are shared objects outside DRAM. It is processor-local: the board's address space does
// not decode it, so a model or producer reaching it through the bus is an unmapped access, an
// error of the boot (nothing on the board needs it).
#pragma once

#include "HostPlatform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

class ProcessorMemory {
public:
  // Maps Range at its own addresses; throws std::runtime_error naming it when it is not whole
  // pages or the host has something there already.
  explicit ProcessorMemory(MemoryRange Range);
  ~ProcessorMemory();
  ProcessorMemory(const ProcessorMemory &) = delete;
  ProcessorMemory &operator=(const ProcessorMemory &) = delete;

  uint64_t Base() const { return Range_.Base; }
  uint64_t Size() const { return Range_.Size; }
  uint8_t *Host(uint64_t Address) const { return reinterpret_cast<uint8_t *>(Address); }
  uint64_t FreePages() const;

  // The lowest free run of Pages pages, now taken; nullopt when there is none.
  std::optional<uint64_t> Allocate(uint64_t Pages);
  // Gives back pages Allocate returned; they read as zero when taken again.
  void Free(uint64_t Address, uint64_t Pages);

  // "0x78000000-0x79FFFFFF (8192 pages, 8000 free)", for messages.
  std::string Describe() const;

private:
  MemoryRange Range_;
  std::vector<bool> Taken_; // per page
};

} // namespace host
