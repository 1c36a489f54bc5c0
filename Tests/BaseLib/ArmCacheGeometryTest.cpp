// The set/way walk's arithmetic: every line of a level is named exactly once, whichever
// CCSIDR_EL1 layout the processor has.
#include "CacheGeometry.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct Level {
  UINT64 LineBytesLog2;
  UINT64 Ways;
  UINT64 Sets;
};

UINT64 Narrow(const Level &L) {
  return ((L.Sets - 1) << ArmCache::SetsShift) | ((L.Ways - 1) << ArmCache::WaysShift) |
         (L.LineBytesLog2 - ArmCache::LineSizeBias);
}

UINT64 Wide(const Level &L) {
  return ((L.Sets - 1) << ArmCache::WideSetsShift) | ((L.Ways - 1) << ArmCache::WaysShift) |
         (L.LineBytesLog2 - ArmCache::LineSizeBias);
}

// The operands a walk over the decoded geometry issues, as a set.
std::set<UINT64> Walk(UINT64 Ccsidr, bool WideLayout, UINT32 LevelIndex) {
  const ArmCache::Geometry Cache = ArmCache::Decode(Ccsidr, WideLayout);
  std::set<UINT64> Operands;
  for (UINT64 Way = 0; Way < Cache.Ways; Way++) {
    for (UINT64 Set = 0; Set < Cache.Sets; Set++) {
      Operands.insert(ArmCache::SetWayOperand(Cache, LevelIndex, Way, Set));
    }
  }
  return Operands;
}

TEST(ArmCacheGeometry, BothLayoutsNameEveryLineOnce) {
  // A large last-level cache: 64-byte lines, 16 ways, 4096 sets (4 MiB).
  const Level L3{6, 16, 4096};
  const UINT64 Mmfr2WithCcidx = 1ull << ArmCache::Mmfr2CcidxShift;
  ASSERT_TRUE(ArmCache::HasWideCcsidr(Mmfr2WithCcidx));
  ASSERT_FALSE(ArmCache::HasWideCcsidr(0));

  for (bool WideLayout : {false, true}) {
    const UINT64 Ccsidr = WideLayout ? Wide(L3) : Narrow(L3);
    const ArmCache::Geometry Cache = ArmCache::Decode(Ccsidr, WideLayout);
    EXPECT_EQ(Cache.LineShift, 6u);
    EXPECT_EQ(Cache.Ways, 16u);
    EXPECT_EQ(Cache.Sets, 4096u);
    std::set<UINT64> Operands = Walk(Ccsidr, WideLayout, 2);
    EXPECT_EQ(Operands.size(), L3.Ways * L3.Sets);
    // Way in the top bits, set above the line offset, level in [3:1], all inside 32 bits.
    EXPECT_EQ(*Operands.rbegin(), (15ull << 28) | (4095ull << 6) | (2u << 1));
    EXPECT_EQ(*Operands.begin(), 2u << 1);
  }
}

TEST(ArmCacheGeometry, OddWayCountsRoundTheWayFieldUp) {
  // Three ways need two way bits; a direct-mapped cache needs none.
  EXPECT_EQ(Walk(Narrow({6, 3, 128}), false, 0).size(), 3u * 128u);
  EXPECT_EQ(*Walk(Narrow({6, 3, 128}), false, 0).rbegin(), (2ull << 30) | (127ull << 6));
  EXPECT_EQ(Walk(Wide({7, 1, 64}), true, 1).size(), 64u);
}

} // namespace
