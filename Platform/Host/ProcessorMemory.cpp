// The processor's private mapping and its page allocator (first fit from the bottom, so that
// the same loads give the same addresses on every run).
#include "ProcessorMemory.h"

#include <sys/mman.h>

#include <Uefi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace host {

namespace {

std::string Span(MemoryRange Range) {
  char Text[64];
  std::snprintf(Text, sizeof(Text), "0x%llX-0x%llX", static_cast<unsigned long long>(Range.Base),
                static_cast<unsigned long long>(Range.Base + Range.Size - 1));
  return Text;
}

} // namespace

ProcessorMemory::ProcessorMemory(MemoryRange Range) : Range_(Range), Taken_(Range.Size / EFI_PAGE_SIZE) {
  if (Range.Size == 0 || ((Range.Base | Range.Size) & (EFI_PAGE_SIZE - 1)) != 0 ||
      Range.Base + Range.Size < Range.Base) {
    throw std::runtime_error("the processor's memory " + Span(Range) + " is not a whole number of pages");
  }
  void *Memory = mmap(Host(Range.Base), Range.Size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
  if (Memory == MAP_FAILED || reinterpret_cast<uint64_t>(Memory) != Range.Base) {
    const std::string Reason = Memory == MAP_FAILED ? std::strerror(errno) : "the host placed it elsewhere";
    if (Memory != MAP_FAILED) {
      munmap(Memory, Range.Size);
    }
    throw std::runtime_error("cannot map the processor's memory at " + Span(Range) + ": " + Reason);
  }
}

ProcessorMemory::~ProcessorMemory() {
  munmap(Host(Range_.Base), Range_.Size);
}

uint64_t ProcessorMemory::FreePages() const {
  return static_cast<uint64_t>(std::count(Taken_.begin(), Taken_.end(), false));
}

std::optional<uint64_t> ProcessorMemory::Allocate(uint64_t Pages) {
  uint64_t Run = 0;
  for (uint64_t Page = 0; Page < Taken_.size() && Pages != 0; Page++) {
    Run = Taken_[Page] ? 0 : Run + 1;
    if (Run == Pages) {
      const uint64_t First = Page + 1 - Pages;
      std::fill(Taken_.begin() + First, Taken_.begin() + Page + 1, true);
      return Range_.Base + EFI_PAGES_TO_SIZE(First);
    }
  }
  return std::nullopt;
}

void ProcessorMemory::Free(uint64_t Address, uint64_t Pages) {
  const uint64_t First = (Address - Range_.Base) / EFI_PAGE_SIZE;
  if (Address < Range_.Base || First + Pages > Taken_.size()) {
    throw std::logic_error("pages at " + Span({Address, EFI_PAGES_TO_SIZE(Pages)}) +
                           " are not the processor's memory");
  }
  madvise(Host(Address), EFI_PAGES_TO_SIZE(Pages), MADV_DONTNEED);
  std::fill(Taken_.begin() + First, Taken_.begin() + First + Pages, false);
}

std::string ProcessorMemory::Describe() const {
  return Span(Range_) + " (" + std::to_string(Taken_.size()) + " pages, " + std::to_string(FreePages()) +
         " free)";
}

} // namespace host
