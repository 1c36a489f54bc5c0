// GUID definitions: ACPI tables in the configuration table and the ACPI protocols.
#include <Guid/Acpi.h>
#include <Protocol/AcpiSupport.h>
#include <Protocol/AcpiSystemDescriptionTable.h>

EFI_GUID gEfiAcpiTableGuid = ACPI_TABLE_GUID;
EFI_GUID gEfiAcpi20TableGuid = EFI_ACPI_TABLE_GUID;
EFI_GUID gEfiAcpiSupportProtocolGuid = EFI_ACPI_SUPPORT_PROTOCOL_GUID;
EFI_GUID gEfiAcpiSdtProtocolGuid = EFI_ACPI_SDT_PROTOCOL_GUID;
