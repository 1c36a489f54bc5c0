// MMIO on AArch64: volatile accesses bracketed by full-system barriers, so device accesses
// are neither reordered with each other nor with the memory accesses around them.
#include <Library/IoLib.h>

namespace {

template <typename T> T Read(UINTN Address) {
  MemoryFence();
  T Value = *reinterpret_cast<volatile T *>(Address);
  MemoryFence();
  return Value;
}

template <typename T> T Write(UINTN Address, T Value) {
  MemoryFence();
  *reinterpret_cast<volatile T *>(Address) = Value;
  MemoryFence();
  return Value;
}

} // namespace

VOID MemoryFence(VOID) {
  __asm__ volatile("dmb sy" ::: "memory");
}

UINT8 MmioRead8(UINTN Address) {
  return Read<UINT8>(Address);
}
UINT16 MmioRead16(UINTN Address) {
  return Read<UINT16>(Address);
}
UINT32 MmioRead32(UINTN Address) {
  return Read<UINT32>(Address);
}
UINT64 MmioRead64(UINTN Address) {
  return Read<UINT64>(Address);
}
UINT8 MmioWrite8(UINTN Address, UINT8 Value) {
  return Write(Address, Value);
}
UINT16 MmioWrite16(UINTN Address, UINT16 Value) {
  return Write(Address, Value);
}
UINT32 MmioWrite32(UINTN Address, UINT32 Value) {
  return Write(Address, Value);
}
UINT64 MmioWrite64(UINTN Address, UINT64 Value) {
  return Write(Address, Value);
}
