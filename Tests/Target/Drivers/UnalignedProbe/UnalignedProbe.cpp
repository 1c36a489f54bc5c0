// UnalignedProbe: reads a 32-bit field at an odd offset. Compiled with unaligned accesses
// allowed, the read is one 32-bit load from an odd address, which faults with the MMU off; the
// image checks must reject the image.
#include <Uefi.h>

namespace {

#pragma pack(1)
struct PACKED_RECORD {
  UINT8 Tag;
  UINT32 Value;
};
#pragma pack()

volatile PACKED_RECORD mRecord = {1, 7};

} // namespace

EFI_STATUS EFIAPI UnalignedProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return mRecord.Value == 7 ? EFI_SUCCESS : EFI_LOAD_ERROR;
}
