// The DRAM mapping and the sanitizer's view of it.
#include "Dram.h"

#include <sys/mman.h>

#include <Uefi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define HOST_DRAM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_DRAM_ASAN 1
#endif
#endif

#ifdef HOST_DRAM_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace host {

namespace {

std::string Range(uint64_t Base, uint64_t Size) {
  char Text[64];
  std::snprintf(Text, sizeof(Text), "0x%llX-0x%llX", static_cast<unsigned long long>(Base),
                static_cast<unsigned long long>(Base + Size - 1));
  return Text;
}

} // namespace

Dram::Dram(uint64_t Base, uint64_t Size) : Base_(Base), Size_(Size), LowestPoisoned_(Base + Size) {
  if (Size == 0 || ((Base | Size) & (EFI_PAGE_SIZE - 1)) != 0 || Base + Size < Base) {
    throw std::runtime_error("DRAM " + Range(Base, Size) + " is not a whole number of pages");
  }
  // Only the pages firmware touches cost host memory; the range must be exactly where the board
  // declares it, so anything already there is an error rather than a reason to move.
  void *Memory = mmap(reinterpret_cast<void *>(Base), Size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
  if (Memory == MAP_FAILED || reinterpret_cast<uint64_t>(Memory) != Base) {
    const std::string Reason = Memory == MAP_FAILED ? std::strerror(errno) : "the host placed it elsewhere";
    if (Memory != MAP_FAILED) {
      munmap(Memory, Size);
    }
    throw std::runtime_error("cannot map the board's DRAM at " + Range(Base, Size) + ": " + Reason +
                             " (is another board alive in this process, or the range taken by the host?)");
  }
}

Dram::~Dram() {
  // The shadow outlives the mapping: the next board maps the same addresses.
  Unpoison(LowestPoisoned_, End() - LowestPoisoned_);
  munmap(At(Base_), Size_);
}

void Dram::Poison(uint64_t Address, uint64_t Bytes) {
#ifdef HOST_DRAM_ASAN
  LowestPoisoned_ = std::min(LowestPoisoned_, Address);
  ASAN_POISON_MEMORY_REGION(At(Address), Bytes);
#else
  (void)Address;
  (void)Bytes;
#endif
}

void Dram::Unpoison(uint64_t Address, uint64_t Bytes) {
#ifdef HOST_DRAM_ASAN
  ASAN_UNPOISON_MEMORY_REGION(At(Address), Bytes);
#else
  (void)Address;
  (void)Bytes;
#endif
}

void Dram::Release(uint64_t Address, uint64_t Bytes) {
  madvise(At(Address), Bytes, MADV_DONTNEED);
  Poison(Address, Bytes);
}

} // namespace host
