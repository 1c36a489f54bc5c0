// MMIO on the host: every access goes to the emulated physical address space.
#include <HostAbi.h>
#include <Library/IoLib.h>

namespace {

template <typename T> T Read(UINTN Address) {
  return static_cast<T>(HostAbiMmioRead(Address, sizeof(T)));
}

template <typename T> T Write(UINTN Address, T Value) {
  HostAbiMmioWrite(Address, sizeof(T), Value);
  return Value;
}

} // namespace

VOID MemoryFence(VOID) {
  HostAbiMemoryFence();
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
