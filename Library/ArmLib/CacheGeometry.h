// Geometry of one cache level from CCSIDR_EL1, and the set/way operand of the DC CISW walk.
// CCSIDR_EL1 has two layouts: the 32-bit one, and the 64-bit one of processors that
// implement FEAT_CCIDX (ID_AA64MMFR2_EL1.CCIDX != 0), with wider way and set fields.
#pragma once

#include <Uefi/UefiBaseType.h>

namespace ArmCache {

// ID_AA64MMFR2_EL1.CCIDX, bits [23:20].
constexpr UINT64 Mmfr2CcidxShift = 20;
constexpr UINT64 Mmfr2CcidxMask = 0xF;

// CCSIDR_EL1.LineSize, bits [2:0] in both layouts: log2(bytes per line) - 4.
constexpr UINT64 LineSizeMask = 7;
constexpr UINT64 LineSizeBias = 4;
constexpr UINT64 WaysShift = 3;
// 32-bit layout: Associativity - 1 in [12:3], NumSets - 1 in [27:13].
constexpr UINT64 WaysMask = 0x3FF;
constexpr UINT64 SetsShift = 13;
constexpr UINT64 SetsMask = 0x7FFF;
// 64-bit layout: Associativity - 1 in [23:3], NumSets - 1 in [55:32].
constexpr UINT64 WideWaysMask = 0x1FFFFF;
constexpr UINT64 WideSetsShift = 32;
constexpr UINT64 WideSetsMask = 0xFFFFFF;

struct Geometry {
  UINT64 LineShift; // log2 of the line size in bytes
  UINT64 Ways;
  UINT64 Sets;
};

constexpr bool HasWideCcsidr(UINT64 Mmfr2) {
  return ((Mmfr2 >> Mmfr2CcidxShift) & Mmfr2CcidxMask) != 0;
}

constexpr Geometry Decode(UINT64 Ccsidr, bool Wide) {
  Geometry Result{(Ccsidr & LineSizeMask) + LineSizeBias, 0, 0};
  if (Wide) {
    Result.Ways = ((Ccsidr >> WaysShift) & WideWaysMask) + 1;
    Result.Sets = ((Ccsidr >> WideSetsShift) & WideSetsMask) + 1;
  } else {
    Result.Ways = ((Ccsidr >> WaysShift) & WaysMask) + 1;
    Result.Sets = ((Ccsidr >> SetsShift) & SetsMask) + 1;
  }
  return Result;
}

// The way number sits in the top bits of the 32-bit set/way field: its shift is
// 32 - log2(ways), rounded up; a direct-mapped cache has no way bits.
constexpr UINT32 WayShift(UINT64 Ways) {
  return Ways > 1 ? static_cast<UINT32>(__builtin_clz(static_cast<UINT32>(Ways - 1))) : 0;
}

// DC CISW operand: way, set and level (0-based, in bits [3:1]).
constexpr UINT64 SetWayOperand(const Geometry &Cache, UINT32 Level, UINT64 Way, UINT64 Set) {
  return (Way << WayShift(Cache.Ways)) | (Set << Cache.LineShift) | (static_cast<UINT64>(Level) << 1);
}

// A 64-byte-line, 16-way, 2048-set cache in both layouts; way 15 of set 2047 at level 2.
static_assert(Decode((2047ull << 13) | (15ull << 3) | 2, false).Sets == 2048);
static_assert(Decode((2047ull << 32) | (15ull << 3) | 2, true).Sets == 2048);
static_assert(Decode((2047ull << 32) | (15ull << 3) | 2, true).Ways == 16);
static_assert(SetWayOperand(Decode((2047ull << 13) | (15ull << 3) | 2, false), 2, 15, 2047) ==
              ((15ull << 28) | (2047ull << 6) | (2u << 1)));
static_assert(WayShift(1) == 0 && WayShift(4) == 30 && WayShift(5) == 29);

} // namespace ArmCache
