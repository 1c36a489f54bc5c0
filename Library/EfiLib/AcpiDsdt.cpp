// DSDT locator: finds the DSDT through the FADTs that the ACPI System Description Table
// protocol enumerates, and caches the address of each FADT generation for the life of the
// module image.
#include <IndustryStandard/Acpi.h>
#include <Library/EfiLib.h>
#include <Protocol/AcpiSystemDescriptionTable.h>

namespace {

// DSDT addresses found so far: from the ACPI 1.0b FADT (32-bit Dsdt) and from an ACPI
// 2.0-or-later FADT (64-bit X_Dsdt). 0 means not found yet; never cleared.
UINT64 mRsdtDsdt = 0;
UINT64 mXsdtDsdt = 0;

constexpr UINT32 VERSION_MASK_NONE = EFI_ACPI_TABLE_VERSION_NONE;
constexpr UINT32 VERSION_MASK_1_0B = EFI_ACPI_TABLE_VERSION_1_0B;
constexpr UINT32 VERSION_MASK_X = EFI_ACPI_TABLE_VERSION_X;
// Every table version bit after 1.0b: firmware that reports its FADT as ACPI 5.0 or later
// (bit 0x20 and up) still carries the 64-bit X_Dsdt of the 2.0 layout.
constexpr UINT32 VERSION_MASK_2_0_AND_LATER = ~(EFI_ACPI_TABLE_VERSION_NONE | EFI_ACPI_TABLE_VERSION_1_0B);

// Reads a little-endian field of Size bytes at Offset, if the table is long enough.
BOOLEAN ReadTableField(const EFI_ACPI_SDT_HEADER *Table, UINTN Offset, UINTN Size, UINT64 *Value) {
  if (Table->Length < Offset + Size) {
    return FALSE;
  }
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Table) + Offset;
  UINT64 Result = 0;
  for (UINTN Index = Size; Index > 0; Index--) {
    Result = (Result << 8) | Bytes[Index - 1];
  }
  *Value = Result;
  return TRUE;
}

VOID CacheFadtDsdt(const EFI_ACPI_SDT_HEADER *Fadt, EFI_ACPI_TABLE_VERSION TableVersion, EFI_STATUS Status) {
  UINT64 Address;
  if (TableVersion == EFI_ACPI_TABLE_VERSION_1_0B &&
      ReadTableField(Fadt, EFI_ACPI_FADT_DSDT_OFFSET, sizeof(UINT32), &Address)) {
    mRsdtDsdt = Address;
    TraceMessage(TRACE_ALWAYS, "AcpiResLib: LibGetDsdt(): Found v1.0b   RSDT->DSDT @ 0x%lX; -> %r \n",
                 mRsdtDsdt, Status);
  }
  if ((TableVersion & VERSION_MASK_2_0_AND_LATER) != 0 &&
      ReadTableField(Fadt, EFI_ACPI_FADT_X_DSDT_OFFSET, sizeof(UINT64), &Address)) {
    mXsdtDsdt = Address;
    TraceMessage(TRACE_ALWAYS, "AcpiResLib: LibGetDsdt(): Found v2.0&UP XSDT->DSDT @ 0x%lX; -> %r \n",
                 mXsdtDsdt, Status);
  }
}

// Walks the installed tables until both FADT generations are cached or the list ends, and
// returns the status that ended the walk. The tables handed out are the installed ones
// themselves, so they are only read, never freed.
EFI_STATUS SearchFadts(EFI_ACPI_SDT_PROTOCOL *Sdt) {
  for (UINTN Index = 0;; Index++) {
    EFI_ACPI_SDT_HEADER *Table = NULL;
    EFI_ACPI_TABLE_VERSION TableVersion = 0;
    UINTN TableKey = 0;
    EFI_STATUS Status = Sdt->GetAcpiTable(Index, &Table, &TableVersion, &TableKey);
    if (EFI_ERROR(Status)) {
      TraceMessage(TRACE_ALWAYS, "Can't find FADT table -> %r search %d Tables\n", Status, (UINT32)Index);
      return Status;
    }
    if (Table != NULL && Table->Signature == EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE) {
      CacheFadtDsdt(Table, TableVersion, Status);
    }
    if (mRsdtDsdt != 0 && mXsdtDsdt != 0) {
      return Status;
    }
  }
}

} // namespace

EFI_STATUS LibGetDsdt(UINT64 *Dsdt, UINT32 Version) {
  if (Dsdt == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (mRsdtDsdt == 0 || mXsdtDsdt == 0) {
    if (gLibBootServices == NULL) {
      return EFI_NOT_AVAILABLE_YET;
    }
    EFI_ACPI_SDT_PROTOCOL *Sdt = NULL;
    Status =
        gLibBootServices->LocateProtocol(&gEfiAcpiSdtProtocolGuid, NULL, reinterpret_cast<VOID **>(&Sdt));
    // An instance installed without an interface cannot be asked for tables either.
    if (!EFI_ERROR(Status) && (Sdt == NULL || Sdt->GetAcpiTable == NULL)) {
      Status = EFI_NOT_FOUND;
    }
    if (EFI_ERROR(Status)) {
      TraceMessage(TRACE_ALWAYS, "AcpiResLib: LibGetDsdt(): LocateProtocol(ACPISupport) returned %r \n",
                   Status);
      return EFI_NOT_AVAILABLE_YET;
    }
    Status = SearchFadts(Sdt);
  }

  if (mXsdtDsdt != 0 && (Version & (VERSION_MASK_X | VERSION_MASK_NONE)) != 0) {
    *Dsdt = mXsdtDsdt;
  } else if (mRsdtDsdt != 0 && (Version & (VERSION_MASK_1_0B | VERSION_MASK_NONE)) != 0) {
    *Dsdt = mRsdtDsdt;
  } else {
    // A walk that ended with both FADTs cached succeeded, yet found none the mask asks for.
    return EFI_ERROR(Status) ? Status : EFI_NOT_FOUND;
  }
  return EFI_SUCCESS;
}
