// The resource descriptors the driver reports: its one bus and its memory window, as ACPI
// QWORD address space descriptors, and the end tag.
#include <Library/BaseMemoryLib.h>

#include "Bridgemimic.h"

namespace {

VOID FillRange(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor, UINT8 Type, UINT64 Granularity, UINT64 Base,
               UINT64 Length) {
  ZeroMem(Descriptor, sizeof(*Descriptor));
  Descriptor->Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  Descriptor->Len = EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH;
  Descriptor->ResType = Type;
  Descriptor->AddrSpaceGranularity = Granularity;
  Descriptor->AddrRangeMin = Base;
  Descriptor->AddrRangeMax = Base + Length - 1;
  Descriptor->AddrLen = Length;
}

} // namespace

VOID PciEmFillBusDescriptor(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor, UINT64 Granularity) {
  FillRange(Descriptor, ACPI_ADDRESS_SPACE_TYPE_BUS, Granularity, PciEmPrivate.BusBase,
            PciEmPrivate.BusCount);
}

VOID PciEmFillMemDescriptor(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *Descriptor) {
  FillRange(Descriptor, ACPI_ADDRESS_SPACE_TYPE_MEM, PCIEM_MEM_GRANULARITY, PciEmPrivate.MemBase,
            PciEmPrivate.MemLength);
}

VOID PciEmFillEndTag(EFI_ACPI_END_TAG_DESCRIPTOR *End) {
  End->Desc = ACPI_END_TAG_DESCRIPTOR;
  End->Checksum = 0;
}
