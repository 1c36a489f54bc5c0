// Word access helpers for the memory routines: aliasing-safe 64-bit loads and stores used
// when both buffers and the length are 8-byte aligned.
#pragma once

#include <Library/BaseMemoryLib.h>

namespace BaseMemoryInternal {

typedef UINT64 __attribute__((may_alias)) AliasedUint64;
constexpr UINTN WordSize = sizeof(UINT64);
constexpr UINTN WordMask = WordSize - 1;

inline bool WordAligned(UINTN Value) {
  return (Value & WordMask) == 0;
}

inline bool WordAligned(const VOID *A, const VOID *B, UINTN Length) {
  return WordAligned(reinterpret_cast<UINTN>(A) | reinterpret_cast<UINTN>(B) | Length);
}

} // namespace BaseMemoryInternal
