// The board's DRAM as the core holds it: one host mapping at exactly the board's addresses, so
// that the physical address of firmware memory is the host address of its bytes. Under the
// address sanitizer the core marks what firmware may not touch (pool redzones, freed memory)
// through the sanitizer's manual poisoning; in plain builds that marking does nothing.
#pragma once

#include <cstdint>

namespace host {

class Dram {
public:
  // Maps [Base, Base + Size) at those addresses; throws std::runtime_error naming the range
  // when it is not page-aligned or the host has something there already.
  Dram(uint64_t Base, uint64_t Size);
  ~Dram();
  Dram(const Dram &) = delete;
  Dram &operator=(const Dram &) = delete;

  uint64_t Base() const { return Base_; }
  uint64_t End() const { return Base_ + Size_; }
  bool Contains(uint64_t Address, uint64_t Bytes) const {
    return Address >= Base_ && Address <= End() && Bytes <= End() - Address;
  }
  void *At(uint64_t Address) const { return reinterpret_cast<void *>(Address); }

  // Firmware may (Unpoison) or may not (Poison) touch these bytes from now on.
  void Poison(uint64_t Address, uint64_t Bytes);
  void Unpoison(uint64_t Address, uint64_t Bytes);
  // Freed pages: poisoned, and their host memory given back (they read as zero until reused).
  void Release(uint64_t Address, uint64_t Bytes);

private:
  uint64_t Base_;
  uint64_t Size_;
  uint64_t LowestPoisoned_; // what the sanitizer's shadow must be cleared from at the end
};

} // namespace host
