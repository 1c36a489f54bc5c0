// Table-driven GCD reservation: adds a caller's memory and I/O ranges to the GCD maps,
// claims the ones nobody owns yet, and sets the attributes the table asks for. Every step is
// traced; texts without a line end run on into the next trace.
#include <Guid/DxeServices.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EfiLib.h>

namespace {

// Found in the configuration table on first use; kept for the life of the image.
EFI_DXE_SERVICES *mDxeServices = nullptr;

constexpr const CHAR8 *SOURCE_NAME = "EfiLib";
constexpr const CHAR8 *FATAL_EXPRESSION = "!EFI_ERROR(Status)";

constexpr UINT64 PAGE_MASK = 0xFFF;
// Cache types (UC, WC, WT, WB) and write protection, dropped by the attribute retry.
constexpr UINT64 CACHE_AND_WP_ATTRIBUTES =
    EFI_MEMORY_UC | EFI_MEMORY_WC | EFI_MEMORY_WT | EFI_MEMORY_WB | EFI_MEMORY_WP;
static_assert(CACHE_AND_WP_ATTRIBUTES == 0x100F);

// What the row loop gathers for the uncached and attribute passes.
struct MemoryRowSummary {
  UINTN MemRows = 0;
  UINTN UcRows = 0;
  UINT64 Top = 0;
  UINT64 Bottom = ~(UINT64)0;

  bool AllUncached() const { return MemRows != 0 && MemRows == UcRows; }
};

// Reports the failed step and stops for good (the dead loop returns only to a debugger).
VOID FatalAssert(UINTN Line) {
  LibAssert(SOURCE_NAME, Line, FATAL_EXPRESSION);
}

bool IsIoRow(const CspResourceEntry &Row) {
  return Row.Attributes == CSP_RESOURCE_IO_ROW;
}

EFI_STATUS FindDxeServices() {
  if (mDxeServices != nullptr) {
    return EFI_SUCCESS;
  }
  if (gLibSystemTable == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN Index = 0; Index < gLibSystemTable->NumberOfTableEntries; Index++) {
    EFI_CONFIGURATION_TABLE &Entry = gLibSystemTable->ConfigurationTable[Index];
    if (CompareGuid(&Entry.VendorGuid, &gEfiDxeServicesTableGuid)) {
      mDxeServices = static_cast<EFI_DXE_SERVICES *>(Entry.VendorTable);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_AVAILABLE_YET;
}

// Adds the row's range; the outcome is traced only.
EFI_STATUS AddRow(const CspResourceEntry &Row, MemoryRowSummary &Summary) {
  EFI_STATUS Status;
  if (IsIoRow(Row)) {
    Status = mDxeServices->AddIoSpace((EFI_GCD_IO_TYPE)Row.Type, Row.Base, Row.Length);
    TraceMessage(TRACE_ALWAYS, "GCD: AddI/O");
  } else {
    Summary.MemRows++;
    if ((Row.Attributes & EFI_MEMORY_UC) != 0) {
      Summary.UcRows++;
    }
    Summary.Top = Row.Base + Row.Length > Summary.Top ? Row.Base + Row.Length : Summary.Top;
    Summary.Bottom = Row.Base < Summary.Bottom ? Row.Base : Summary.Bottom;
    Status = mDxeServices->AddMemorySpace((EFI_GCD_MEMORY_TYPE)Row.Type, Row.Base, Row.Length,
                                          CSP_RESOURCE_CAPABILITIES);
    TraceMessage(TRACE_ALWAYS, "GCD: AddMem");
  }
  return Status;
}

// The GCD type and owner of the descriptor covering the row's base. A failed query leaves
// them zero: no owner, and the non-existent type.
VOID QueryRowOwner(const CspResourceEntry &Row, UINTN *GcdType, EFI_HANDLE *Owner) {
  if (IsIoRow(Row)) {
    EFI_GCD_IO_SPACE_DESCRIPTOR Descriptor = {};
    mDxeServices->GetIoSpaceDescriptor(Row.Base, &Descriptor);
    *GcdType = Descriptor.GcdIoType;
    *Owner = Descriptor.ImageHandle;
  } else {
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor = {};
    mDxeServices->GetMemorySpaceDescriptor(Row.Base, &Descriptor);
    *GcdType = Descriptor.GcdMemoryType;
    *Owner = Descriptor.ImageHandle;
  }
}

EFI_STATUS AllocateRow(CspResourceEntry &Row, EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle) {
  EFI_STATUS Status;
  if (IsIoRow(Row)) {
    Status = mDxeServices->AllocateIoSpace(EfiGcdAllocateAddress, (EFI_GCD_IO_TYPE)Row.Type, 0, Row.Length,
                                           &Row.Base, ImageHandle, DeviceHandle);
    TraceMessage(TRACE_ALWAYS, "GCD: AllocI/O");
  } else {
    Status = mDxeServices->AllocateMemorySpace(EfiGcdAllocateAddress, (EFI_GCD_MEMORY_TYPE)Row.Type, 0,
                                               Row.Length, &Row.Base, ImageHandle, DeviceHandle);
    TraceMessage(TRACE_ALWAYS, "GCD: AllocMem");
  }
  return Status;
}

// Adds one row and claims it unless another image owns it already. Returns the last status
// of the row: the allocation's, or the add's when the range is owned.
EFI_STATUS ReserveRow(CspResourceEntry &Row, UINTN Index, EFI_HANDLE ImageHandle, EFI_HANDLE DeviceHandle,
                      MemoryRowSummary &Summary) {
  EFI_STATUS Status = AddRow(Row, Summary);
  TraceMessage(TRACE_ALWAYS, "Space   B=%lX, L=%X, i=%d, S=%r\n", Row.Base, (UINT32)Row.Length, (INT32)Index,
               Status);

  UINTN GcdType = 0;
  EFI_HANDLE Owner = nullptr;
  QueryRowOwner(Row, &GcdType, &Owner);
  if (Owner != nullptr) {
    return Status;
  }
  // The map already says what the range is: claim it as that.
  if (GcdType != Row.Type) {
    Row.Type = GcdType;
  }
  Status = AllocateRow(Row, ImageHandle, DeviceHandle);
  TraceMessage(TRACE_ALWAYS, "Space B=%lX, L=%X, i=%d, S=%r\n", Row.Base, (UINT32)Row.Length, (INT32)Index,
               Status);
  if (EFI_ERROR(Status)) {
    FatalAssert(__LINE__);
  }
  return Status;
}

// Makes every descriptor from the lowest row (aligned down to a page) to the highest end
// uncached, gaps between the rows included. Returns the last status.
EFI_STATUS UncachedPass(MemoryRowSummary &Summary) {
  UINT64 Bottom = Summary.Bottom & ~PAGE_MASK;
  const UINT64 Top = Summary.Top;
  TraceMessage(TRACE_ALWAYS, "GCD: SpaceAttr (UC ALL) B=%lX; L=%lX; \n", Bottom, Top - Bottom);

  EFI_STATUS Status = EFI_SUCCESS;
  for (UINT64 Address = Bottom;;) {
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor = {};
    Status = mDxeServices->GetMemorySpaceDescriptor(Address, &Descriptor);
    if (EFI_ERROR(Status)) {
      FatalAssert(__LINE__);
      return Status;
    }
    UINT64 End = Descriptor.BaseAddress + Descriptor.Length;
    End = End < Top ? End : Top;
    const UINT64 Size = End - Address;
    const UINT64 Attributes = Descriptor.Attributes | EFI_MEMORY_UC;
    if ((Descriptor.Attributes & EFI_MEMORY_UC) != 0) {
      TraceMessage(TRACE_ALWAYS, "GCD:(UC ALL) skipping");
    } else {
      Status = mDxeServices->SetMemorySpaceAttributes(Address, Size, Attributes);
      TraceMessage(TRACE_ALWAYS, "GCD:(UC ALL) setting ");
    }
    TraceMessage(TRACE_ALWAYS, " B=%lX, L=%lX, A=%lX; S=%r\n", Address, Size, Attributes, Status);
    // A descriptor ending at or below the address would never move the walk on.
    if (End >= Top || End <= Address) {
      return Status;
    }
    Address = End;
  }
}

// Sets each memory row's attributes, retrying a failure once without cache types and write
// protection. The first failure is kept: a later row's success must not hide it.
EFI_STATUS AttributePass(const CspResourceEntry *Table, UINTN Count, const MemoryRowSummary &Summary,
                         EFI_STATUS Status) {
  EFI_STATUS FirstFailure = EFI_SUCCESS;
  for (UINTN Index = 0; Index < Count; Index++) {
    const CspResourceEntry &Row = Table[Index];
    if (IsIoRow(Row)) {
      continue;
    }
    Status = mDxeServices->SetMemorySpaceAttributes(Row.Base, Row.Length, Row.Attributes);
    TraceMessage(TRACE_ALWAYS, "GCD: SpaceAttr A=%lX B=%lX, L=%X, i=%X, S=%r\n", Row.Attributes, Row.Base,
                 (UINT32)Row.Length, (UINT32)Index, Status);
    if (EFI_ERROR(Status)) {
      UINT64 Reduced = Row.Attributes & ~CACHE_AND_WP_ATTRIBUTES;
      if (Summary.AllUncached()) {
        Reduced |= EFI_MEMORY_UC;
      }
      Status = mDxeServices->SetMemorySpaceAttributes(Row.Base, Row.Length, Reduced);
    }
    if (EFI_ERROR(Status) && !EFI_ERROR(FirstFailure)) {
      FirstFailure = Status;
    }
  }
  return EFI_ERROR(FirstFailure) ? FirstFailure : Status;
}

} // namespace

EFI_STATUS LibAllocCspResource(CspResourceEntry *Table, UINTN Count, EFI_HANDLE ImageHandle,
                               EFI_HANDLE DeviceHandle) {
  EFI_STATUS Status = FindDxeServices();
  if (EFI_ERROR(Status)) {
    TraceMessage(TRACE_ALWAYS, "Dxe Services Table could not be found! Status = %r", Status);
    FatalAssert(__LINE__);
    return Status;
  }
  // Rows without a table would be read from address 0.
  if (Table == nullptr && Count != 0) {
    return EFI_INVALID_PARAMETER;
  }

  MemoryRowSummary Summary;
  for (UINTN Index = 0; Index < Count; Index++) {
    Status = ReserveRow(Table[Index], Index, ImageHandle, DeviceHandle, Summary);
  }
  if (Summary.AllUncached()) {
    Status = UncachedPass(Summary);
  }
  if (Summary.MemRows != 0) {
    Status = AttributePass(Table, Count, Summary, Status);
  }
  return Status;
}
