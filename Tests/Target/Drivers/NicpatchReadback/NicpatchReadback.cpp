// NicpatchReadback: prints, on the console, what the MAC publication driver left behind in
// real firmware: the local-mac-address value of every SoC Ethernet port in the DSDT the FADT
// points at, whether that table's checksum holds, and the driver's variables.
//
// Console lines:
//   "FADT table version: 0x<bits>"                   (EFI_ACPI_TABLE_VERSION of the FADT)
//   "DSDT checksum: valid" | "DSDT checksum: INVALID" | "DSDT: not found"
//   "ETH<u> local-mac-address: <17 characters>"      (u = 0..8, ports found in the table)
//   "Switch: C=<n> P=<n> T=<text>"                   (n: the byte, or "-" when missing)
//   "MAC<s>: <text>" | "MAC<s>: -"                   (s = 0..8)
#include <Guid/NicpatchVariables.h>
#include <IndustryStandard/Acpi.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <Protocol/AcpiSystemDescriptionTable.h>

namespace {

constexpr CHAR8 MAC_KEY[] = "local-mac-address";
constexpr UINTN MAC_KEY_LENGTH = sizeof(MAC_KEY) - 1;
constexpr UINTN MAC_VALUE_OFFSET = MAC_KEY_LENGTH + 2;
constexpr UINTN MAC_TEXT_LENGTH = 17;
constexpr UINTN PORT_COUNT = 9;
constexpr UINTN TEXT_CHARS = 20;

const UINT8 *Find(const UINT8 *Data, UINTN Length, const CHAR8 *Pattern, UINTN PatternLength) {
  for (UINTN Start = 0; Start + PatternLength <= Length; Start++) {
    UINTN Matched = 0;
    while (Matched < PatternLength && Data[Start + Matched] == (UINT8)Pattern[Matched]) {
      Matched++;
    }
    if (Matched == PatternLength) {
      return Data + Start;
    }
  }
  return NULL;
}

const UINT8 *FindDsdt() {
  EFI_ACPI_SDT_PROTOCOL *Sdt = NULL;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiAcpiSdtProtocolGuid, NULL, reinterpret_cast<VOID **>(&Sdt)))) {
    return NULL;
  }
  for (UINTN Index = 0;; Index++) {
    EFI_ACPI_SDT_HEADER *Table = NULL;
    EFI_ACPI_TABLE_VERSION Version = 0;
    UINTN Key = 0;
    if (EFI_ERROR(Sdt->GetAcpiTable(Index, &Table, &Version, &Key))) {
      return NULL;
    }
    if (Table->Signature != EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE) {
      continue;
    }
    Print(u"FADT table version: 0x%x\n", Version);
    const auto *Fadt = reinterpret_cast<const EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *>(Table);
    UINT64 Address = Fadt->Dsdt;
    if (Fadt->Header.Length >= OFFSET_OF(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE, XDsdt) + sizeof(UINT64) &&
        Fadt->XDsdt != 0) {
      Address = Fadt->XDsdt;
    }
    return reinterpret_cast<const UINT8 *>((UINTN)Address);
  }
}

VOID PrintPorts(const UINT8 *Dsdt) {
  const UINT32 Length = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Dsdt)->Length;
  UINT8 Sum = 0;
  for (UINT32 Index = 0; Index < Length; Index++) {
    Sum = (UINT8)(Sum + Dsdt[Index]);
  }
  Print(u"DSDT checksum: %a\n", Sum == 0 ? "valid" : "INVALID");
  for (UINTN Unit = 0; Unit < PORT_COUNT; Unit++) {
    CHAR8 Path[] = "_SB_ETH0";
    Path[7] = (CHAR8)('0' + Unit);
    const UINT8 *Device = Find(Dsdt, Length, Path, sizeof(Path) - 1);
    if (Device == NULL) {
      continue;
    }
    const UINTN Rest = Length - (UINTN)(Device - Dsdt);
    const UINT8 *Key = Find(Device, Rest, MAC_KEY, MAC_KEY_LENGTH);
    if (Key == NULL || (UINTN)(Dsdt + Length - Key) < MAC_VALUE_OFFSET + MAC_TEXT_LENGTH) {
      continue;
    }
    CHAR8 Value[MAC_TEXT_LENGTH + 1] = {};
    for (UINTN Index = 0; Index < MAC_TEXT_LENGTH; Index++) {
      Value[Index] = (CHAR8)Key[MAC_VALUE_OFFSET + Index];
    }
    Print(u"ETH%d local-mac-address: %a\n", (INT32)Unit, Value);
  }
}

VOID PrintByte(const CHAR16 *Label, CHAR16 *Name) {
  UINT8 Value = 0;
  UINTN Size = sizeof(Value);
  if (EFI_ERROR(gRT->GetVariable(Name, &gNicpatchSwitchGuid, NULL, &Size, &Value))) {
    Print(u"%s=- ", Label);
  } else {
    Print(u"%s=%d ", Label, (INT32)Value);
  }
}

VOID PrintText(const CHAR16 *Label, CHAR16 *Name, const CHAR16 *Separator) {
  CHAR16 Value[TEXT_CHARS + 1] = {};
  UINTN Size = TEXT_CHARS * sizeof(CHAR16);
  if (EFI_ERROR(gRT->GetVariable(Name, &gNicpatchMacVariableGuid, NULL, &Size, Value))) {
    Print(u"%s%s-\n", Label, Separator);
  } else {
    Print(u"%s%s%s\n", Label, Separator, Value);
  }
}

VOID PrintVariables() {
  CHAR16 Comparand[] = NICPATCH_SWITCH_COMPARAND_VARIABLE_NAME;
  CHAR16 Setup[] = NICPATCH_SETUP_SWITCH_VARIABLE_NAME;
  CHAR16 Text[] = NICPATCH_SWITCH_VARIABLE_NAME;
  Print(u"Switch: ");
  PrintByte(u"C", Comparand);
  PrintByte(u"P", Setup);
  PrintText(u"T", Text, u"=");
  for (UINTN Slot = 0; Slot < PORT_COUNT; Slot++) {
    CHAR16 Name[] = u"MAC0";
    Name[3] = (CHAR16)(u'0' + Slot);
    PrintText(Name, Name, u": ");
  }
}

} // namespace

EFI_STATUS EFIAPI NicpatchReadbackEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  const UINT8 *Dsdt = FindDsdt();
  if (Dsdt == NULL) {
    Print(u"DSDT: not found\n");
  } else {
    PrintPorts(Dsdt);
  }
  PrintVariables();
  return EFI_SUCCESS;
}
