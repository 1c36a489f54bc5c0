// GcdReadback: prints the GCD memory space descriptor covering each chipset MMIO range, for
// the QEMU tests. The DXE services come from the system configuration table.
//
// Console lines, one per range (hexadecimal without 0x):
//   "GCD <base>: desc=<descriptor base>-<descriptor end> type=<n> caps=<v> attrs=<v> owner=<o>"
//   o: "none", the owner image's file name ("\Regionhold.efi"), or "image" when it has none.
//   "GCD: no DXE services" when the table is missing.
#include <Library/DxeServicesTableLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Protocol/DevicePath.h>
#include <Protocol/LoadedImage.h>

namespace {

constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;
constexpr UINT64 RANGE_BASES[] = {0x1C025000, 0x10510000, 0x17000000, 0x1C020000, 0x1C021000, 0x10540000};

// The file name in the image's device path, or NULL.
const CHAR16 *ImageFileName(EFI_HANDLE Image) {
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = NULL;
  if (EFI_ERROR(
          gBS->HandleProtocol(Image, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&Loaded))) ||
      Loaded == NULL) {
    return NULL;
  }
  for (const EFI_DEVICE_PATH_PROTOCOL *Node = Loaded->FilePath;
       Node != NULL && Node->Type != END_DEVICE_PATH_TYPE;) {
    const UINTN Length = Node->Length[0] | (Node->Length[1] << 8);
    if (Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_FILEPATH_DP) {
      return reinterpret_cast<const CHAR16 *>(Node + 1);
    }
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return NULL;
    }
    Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(reinterpret_cast<const UINT8 *>(Node) + Length);
  }
  return NULL;
}

VOID PrintRange(UINT64 Base) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor = {};
  EFI_STATUS Status = gDS->GetMemorySpaceDescriptor(Base, &Descriptor);
  if (EFI_ERROR(Status)) {
    Print(u"GCD %lX: %r\n", Base, Status);
    return;
  }
  Print(u"GCD %lX: desc=%lX-%lX type=%d caps=%lX attrs=%lX owner=", Base, Descriptor.BaseAddress,
        Descriptor.BaseAddress + Descriptor.Length, (INT32)Descriptor.GcdMemoryType, Descriptor.Capabilities,
        Descriptor.Attributes);
  if (Descriptor.ImageHandle == NULL) {
    Print(u"none\n");
    return;
  }
  const CHAR16 *Name = ImageFileName(Descriptor.ImageHandle);
  Print(u"%s\n", Name != NULL ? Name : u"image");
}

} // namespace

EFI_STATUS EFIAPI GcdReadbackEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (gDS == NULL) {
    Print(u"GCD: no DXE services\n");
    return EFI_SUCCESS;
  }
  for (UINT64 Base : RANGE_BASES) {
    PrintRange(Base);
  }
  return EFI_SUCCESS;
}
