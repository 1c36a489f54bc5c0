// Byte-wise comparison and GUID helpers.
#include "MemoryCore.h"

INTN CompareMem(const VOID *DestinationBuffer, const VOID *SourceBuffer, UINTN Length) {
  const UINT8 *A = static_cast<const UINT8 *>(DestinationBuffer);
  const UINT8 *B = static_cast<const UINT8 *>(SourceBuffer);
  for (UINTN Index = 0; Index < Length; Index++) {
    if (A[Index] != B[Index]) {
      return static_cast<INTN>(A[Index]) - static_cast<INTN>(B[Index]);
    }
  }
  return 0;
}

BOOLEAN CompareGuid(const EFI_GUID *Guid1, const EFI_GUID *Guid2) {
  return CompareMem(Guid1, Guid2, sizeof(EFI_GUID)) == 0 ? TRUE : FALSE;
}

EFI_GUID *CopyGuid(EFI_GUID *DestinationGuid, const EFI_GUID *SourceGuid) {
  CopyMem(DestinationGuid, SourceGuid, sizeof(EFI_GUID));
  return DestinationGuid;
}
