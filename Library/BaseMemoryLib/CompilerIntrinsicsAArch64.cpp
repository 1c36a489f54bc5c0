// The C memory routines clang calls for aggregate copies and initialisations. They forward to
// the library's own loops; this unit and those loops are built with -fno-builtin, so the
// compiler cannot turn a loop back into a call to one of these functions.
#include <Library/BaseMemoryLib.h>

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  return CopyMem(Destination, Source, Length);
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  return CopyMem(Destination, Source, Length);
}

void *memset(void *Buffer, int Value, size_t Length) {
  return SetMem(Buffer, Length, static_cast<UINT8>(Value));
}

int memcmp(const void *A, const void *B, size_t Length) {
  INTN Difference = CompareMem(A, B, Length);
  return Difference < 0 ? -1 : (Difference > 0 ? 1 : 0);
}

} // extern "C"
