// Pelmoreport entry: formats the firmware report with the management-processor library and
// writes it to ConOut.
#include "Pelmoreport.h"

#include <Library/DxeServicesTableLib.h>
#include <Library/PelmoLib.h>
#include <Library/UefiBootServicesTableLib.h>

namespace {

// The longest report (the full version line, the feature lines and nine MAC slots) fits.
constexpr UINT32 REPORT_CHARS = 512;
// A text console has no tab stops: each tab of the report becomes this many spaces.
constexpr UINTN TAB_SPACES = 2;

// Report with every tab expanded, in Text (at most Capacity characters with its NUL).
VOID ExpandTabs(const CHAR16 *Report, CHAR16 *Text, UINTN Capacity) {
  UINTN Length = 0;
  for (; *Report != u'\0'; Report++) {
    const UINTN Width = *Report == u'\t' ? TAB_SPACES : 1;
    if (Length + Width >= Capacity) {
      break;
    }
    for (UINTN Space = 0; Space < Width; Space++) {
      Text[Length++] = *Report == u'\t' ? u' ' : *Report;
    }
  }
  Text[Length] = u'\0';
}

// Whether the platform has declared the block at Base in the memory-space map: only then may
// it be read.
BOOLEAN Declared(UINTN Base) {
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor;
  return !EFI_ERROR(gDS->GetMemorySpaceDescriptor(Base, &Descriptor)) &&
         Descriptor.GcdMemoryType != EfiGcdMemoryTypeNonExistent;
}

VOID Show(const CHAR16 *Text) {
  if (gST->ConOut != NULL) {
    gST->ConOut->OutputString(gST->ConOut, const_cast<CHAR16 *>(Text));
  }
}

} // namespace

// Returns the library's status: without usable management-processor firmware there is no
// report, nothing is printed and the caller learns why from the status. Without the blocks in
// the memory-space map it reads nothing and returns EFI_NOT_READY.
EFI_STATUS EFIAPI PelmoreportMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (!Declared(PelmoMailboxBlockBase()) || !Declared(PelmoStatusBlockBase())) {
    Show(u"no management-processor firmware report: its blocks are not in the memory-space map\r\n");
    return EFI_NOT_READY;
  }
  CHAR16 Report[REPORT_CHARS] = {};
  const EFI_STATUS Status = PelmoFormatFirmwareInfo(Report, sizeof(Report));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  CHAR16 Text[REPORT_CHARS * TAB_SPACES] = {};
  ExpandTabs(Report, Text, REPORT_CHARS * TAB_SPACES);
  Show(Text);
  return EFI_SUCCESS;
}
