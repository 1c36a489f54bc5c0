// Fills: bytes, 16- and 32-bit patterns, zero. Length always counts bytes; SetMem16/32 fill
// whole elements only (a trailing partial element is left alone).
#include "MemoryCore.h"

using namespace BaseMemoryInternal;

VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value) {
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  if (WordAligned(Buffer, Buffer, Length)) {
    constexpr UINT64 ByteSpread = 0x0101010101010101ULL;
    AliasedUint64 *Words = reinterpret_cast<AliasedUint64 *>(Buffer);
    for (UINTN Index = 0; Index < Length / WordSize; Index++) {
      Words[Index] = Value * ByteSpread;
    }
    return Buffer;
  }
  for (UINTN Index = 0; Index < Length; Index++) {
    Bytes[Index] = Value;
  }
  return Buffer;
}

VOID *SetMem16(VOID *Buffer, UINTN Length, UINT16 Value) {
  typedef UINT16 __attribute__((may_alias)) AliasedUint16;
  AliasedUint16 *Elements = static_cast<AliasedUint16 *>(Buffer);
  for (UINTN Index = 0; Index < Length / sizeof(UINT16); Index++) {
    Elements[Index] = Value;
  }
  return Buffer;
}

VOID *SetMem32(VOID *Buffer, UINTN Length, UINT32 Value) {
  typedef UINT32 __attribute__((may_alias)) AliasedUint32;
  AliasedUint32 *Elements = static_cast<AliasedUint32 *>(Buffer);
  for (UINTN Index = 0; Index < Length / sizeof(UINT32); Index++) {
    Elements[Index] = Value;
  }
  return Buffer;
}

VOID *ZeroMem(VOID *Buffer, UINTN Length) {
  return SetMem(Buffer, Length, 0);
}
