// The core's memory services: pool and pages from the board's DRAM, accounted per image, the
// injected allocation failures, the memory errors and the memory map. Host-only; part of the core.
#pragma once

#include "CoreReport.h"
#include "Dram.h"
#include "GcdMap.h"

#include <Uefi.h>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace host {

// A pool buffer: carved from a pool chunk, its block holds a poisoned redzone, the buffer, the
// canary and padding.
struct PoolBlock {
  uint64_t Base = 0; // the block's start in DRAM: the buffer sits a redzone (and maybe 8 bytes) above it
  uint64_t Bytes = 0;
  size_t Size = 0;
  EFI_MEMORY_TYPE Type = EfiBootServicesData;
  EFI_HANDLE Owner = nullptr;
  uint64_t Chunk = 0; // base of the chunk it was carved from
};

// Pages of one pool type that pool buffers are carved from, front to back; freed when the last
// buffer in it is freed and another chunk has taken over.
struct PoolChunk {
  uint64_t Base = 0;
  uint64_t Bytes = 0;
  uint64_t Used = 0;
  uint64_t LiveBlocks = 0;
  EFI_MEMORY_TYPE Type = EfiBootServicesData;
};

// What an allocated page range holds: pages firmware asked for, pool chunks, the core's tables.
enum class PageUse : uint8_t { Pages, Pool, Tables };

struct PageRange {
  uint64_t Base = 0;
  uint64_t Pages = 0;
  EFI_MEMORY_TYPE Type = EfiBootServicesData;
  EFI_HANDLE Owner = nullptr;
  PageUse Use = PageUse::Pages;
};

// An image's name and what it holds; the core's record of every image by handle.
struct ImageStats {
  std::string Name;
  uint64_t PoolBytes = 0;
  uint64_t Pages = 0;
  uint64_t FreePoolCalls = 0;
};

class CoreMemory {
public:
  CoreMemory(Dram &Ram, const GcdMap &Gcd, CoreReport &Report) : Ram_(Ram), Gcd_(Gcd), Report_(Report) {}
  CoreMemory(const CoreMemory &) = delete;
  CoreMemory &operator=(const CoreMemory &) = delete;

  static void FillServices(EFI_BOOT_SERVICES &Services);

  // FromFirmware: the call came from an image's code, so it counts for allocation-failure injection.
  EFI_STATUS AllocatePool(EFI_HANDLE Owner, EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer,
                          bool FromFirmware = false);
  EFI_STATUS FreePool(EFI_HANDLE Caller, VOID *Buffer);
  EFI_STATUS AllocatePages(EFI_HANDLE Owner, EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                           EFI_PHYSICAL_ADDRESS *Memory, bool FromFirmware = false);
  EFI_STATUS FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  // A pool buffer of no image's (the core's own records); nullptr when DRAM is full.
  VOID *CarvePool(EFI_MEMORY_TYPE Type, size_t Size, EFI_HANDLE Owner);
  // Whether Buffer is a live pool buffer; and hands it to another owner's account.
  bool IsPoolBuffer(const VOID *Buffer) const;
  void TransferPool(VOID *Buffer, EFI_HANDLE NewOwner);
  // The bytes from Address to the end of the pool buffer or page range it lies in, at most
  // Limit; 0 outside allocated memory.
  size_t AllocatedSpan(const void *Address, size_t Limit) const;
  void TakePages(const PageRange &Range); // fresh (0xAF) and accessible

  // Allocation-failure injection (Platform::FailAllocation): firmware allocations counted so far.
  void FailAllocation(uint64_t Nth, const std::string &Image);
  uint64_t FirmwareAllocations() const { return FirmwareAllocationCount_; }

  void MemoryError(const std::string &Text);
  const std::vector<std::string> &MemoryErrors() const { return MemoryErrors_; }
  void ReportLeaks(EFI_HANDLE Image, const std::string &When);
  void ReleaseAll(); // the end of the boot: DRAM goes with the platform, so only the records are dropped

  // The exit-boot-services notifications run: the memory map the OS loader holds must not change.
  void SetMapFrozen(bool Frozen) { MapFrozen_ = Frozen; }
  bool MapFrozen() const { return MapFrozen_; }
  void CheckMapChangeAllowed(const char *Service);
  std::vector<EFI_MEMORY_DESCRIPTOR> MemoryMap() const; // as GetMemoryMap reports it
  uint64_t MapKey() const { return MapKey_; }
  void MapChanged() { MapKey_++; }

  // The stats of an image (created empty on first use), or nullptr when it has none.
  ImageStats &StatsOf(EFI_HANDLE Image) { return Stats_[Image]; }
  const ImageStats *FindStats(EFI_HANDLE Image) const;

private:
  bool InjectedAllocationFailure(EFI_HANDLE Owner, const char *Service, uint64_t Bytes);
  // Free DRAM for Pages pages below MaxAddress (inclusive), highest first; false when none.
  bool FindFreePages(uint64_t Pages, uint64_t MaxAddress, uint64_t &Address) const;
  bool PagesFree(uint64_t Address, uint64_t Pages) const;
  void ReturnPages(uint64_t Base, uint64_t Pages);
  PoolChunk *ChunkFor(EFI_MEMORY_TYPE Type, uint64_t Bytes);
  void FreePoolBlock(const PoolBlock &Block);
  void AddFreeMemory(const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Range,
                     std::vector<EFI_MEMORY_DESCRIPTOR> &Map) const;
  std::string NameOf(EFI_HANDLE Image) const; // "core" for none

  Dram &Ram_;
  const GcdMap &Gcd_;
  CoreReport &Report_;
  std::unordered_map<void *, PoolBlock> Pool_;
  std::map<uint64_t, PoolChunk> PoolChunks_;  // by base
  std::map<UINT32, uint64_t> OpenPoolChunks_; // by pool type: the chunk new buffers come from
  uint64_t PoolCount_ = 0;                    // every other buffer is 8 but not 16-byte aligned
  std::unordered_set<void *> FreedPool_;
  std::map<uint64_t, PageRange> PageRanges_; // by base
  uint64_t MapKey_ = 1;
  bool MapFrozen_ = false;
  std::map<EFI_HANDLE, ImageStats> Stats_;
  std::vector<std::string> MemoryErrors_;
  uint64_t FailAllocationAt_ = 0;   // 0: none fails
  std::string FailAllocationImage_; // empty: every image's allocations count
  uint64_t FirmwareAllocationCount_ = 0;
};

} // namespace host
