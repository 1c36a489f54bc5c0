// libFuzzer target for the MAC publication's DSDT walk (PatchDsdtMacs) on arbitrary AML. The
// input is the AML body: the harness puts a DSDT header in front of it whose Length is the
// header plus the input, in a buffer of exactly that size, and serves the table through a
// 2.0 FADT of a hand-made ACPI System Description Table protocol. ASan reports any access
// outside the table; after the walk, every changed byte must lie in a MAC value that now holds
// the text of a table slot, and a patched table must sum to zero.
#include <HostAbi.h>
#include <IndustryStandard/Acpi.h>
#include <Library/EfiLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/AcpiSupport.h>
#include <Protocol/AcpiSystemDescriptionTable.h>
#include <Protocol/StatusCode.h>

#include "Nicpatch.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t HEADER_SIZE = sizeof(EFI_ACPI_DESCRIPTION_HEADER);
constexpr size_t CHECKSUM_OFFSET = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum);
constexpr size_t FADT_SIZE = 276;
constexpr UINT8 DSDT_REVISION = 2;
constexpr UINT8 FADT_REVISION = 6;
constexpr UINT8 AML_STRING_PREFIX = 0x0D;
constexpr size_t MAX_AML = 1 << 20;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

// The fake firmware the walk runs against; its tables point at the current input's DSDT.
struct FakeFirmware {
  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_ACPI_SDT_PROTOCOL Sdt{};
  EFI_STATUS_CODE_RUNTIME_PROTOCOL StatusCode{};
  alignas(8) UINT8 Fadt[FADT_SIZE]{};
  UINT8 AcpiSupport = 0; // only its address is handed out
};
FakeFirmware gFirmware;

EFI_STATUS EFIAPI FakeLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  if (CompareGuidValues(*Protocol, gEfiAcpiSupportProtocolGuid)) {
    *Interface = &gFirmware.AcpiSupport;
  } else if (CompareGuidValues(*Protocol, gEfiAcpiSdtProtocolGuid)) {
    *Interface = &gFirmware.Sdt;
  } else if (CompareGuidValues(*Protocol, gEfiStatusCodeRuntimeProtocolGuid)) {
    *Interface = &gFirmware.StatusCode;
  } else {
    return EFI_NOT_FOUND;
  }
  return EFI_SUCCESS;
}

// One 2.0 FADT and nothing else: without a 1.0b FADT the locator searches again on every
// call, so each input's DSDT address is picked up.
EFI_STATUS EFIAPI FakeGetAcpiTable(UINTN Index, EFI_ACPI_SDT_HEADER **Table, EFI_ACPI_TABLE_VERSION *Version,
                                   UINTN *TableKey) {
  if (Index != 0) {
    return EFI_NOT_FOUND;
  }
  *Table = reinterpret_cast<EFI_ACPI_SDT_HEADER *>(gFirmware.Fadt);
  *Version = EFI_ACPI_TABLE_VERSION_2_0;
  *TableKey = 1;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI DiscardStatusCode(EFI_STATUS_CODE_TYPE, EFI_STATUS_CODE_VALUE, UINT32, EFI_GUID *,
                                    EFI_STATUS_CODE_DATA *) {
  return EFI_SUCCESS;
}

void PutU32(UINT8 *Out, UINT32 Value) {
  for (int Byte = 0; Byte < 4; Byte++) {
    Out[Byte] = static_cast<UINT8>(Value >> (8 * Byte));
  }
}

void SetUpFirmware() {
  gFirmware.BootServices.LocateProtocol = FakeLocateProtocol;
  gFirmware.SystemTable.BootServices = &gFirmware.BootServices;
  gFirmware.Sdt.GetAcpiTable = FakeGetAcpiTable;
  gFirmware.StatusCode.ReportStatusCode = DiscardStatusCode;
  std::memcpy(gFirmware.Fadt, "FACP", 4);
  PutU32(gFirmware.Fadt + 4, FADT_SIZE);
  gFirmware.Fadt[8] = FADT_REVISION;
  gBS = &gFirmware.BootServices;
  gST = &gFirmware.SystemTable;
  LibInitialize(&gFirmware, &gFirmware.SystemTable);
}

void PointFadtAt(const UINT8 *Dsdt) {
  const uint64_t Address = reinterpret_cast<uintptr_t>(Dsdt);
  std::memcpy(gFirmware.Fadt + EFI_ACPI_FADT_X_DSDT_OFFSET, &Address, sizeof(Address));
}

// Valid slot texts 00:11:22:33:44:5<n>, one per slot.
struct MacTable {
  CHAR16 Slots[MAC_STRING_SLOT_COUNT][MAC_STRING_SLOT_CHARS] = {};
  MacTable() {
    static const char Base[] = "00:11:22:33:44:50";
    for (size_t Slot = 0; Slot < MAC_STRING_SLOT_COUNT; Slot++) {
      for (size_t Index = 0; Index < MAC_TEXT_LENGTH; Index++) {
        Slots[Slot][Index] = static_cast<CHAR16>(Base[Index]);
      }
      Slots[Slot][MAC_TEXT_LENGTH - 1] = static_cast<CHAR16>('0' + Slot);
    }
  }
  bool IsSlotText(const UINT8 *Text) const {
    for (const auto &Slot : Slots) {
      bool Same = true;
      for (size_t Index = 0; Index < MAC_TEXT_LENGTH && Same; Index++) {
        Same = Text[Index] == Slot[Index];
      }
      if (Same) {
        return true;
      }
    }
    return false;
  }
};

std::vector<UINT8> BuildDsdt(const uint8_t *Aml, size_t Size) {
  std::vector<UINT8> Table(HEADER_SIZE + Size);
  std::memcpy(Table.data(), "DSDT", 4);
  PutU32(Table.data() + 4, static_cast<UINT32>(Table.size()));
  Table[8] = DSDT_REVISION;
  std::memcpy(Table.data() + 10, "FUZZER", 6);
  std::memcpy(Table.data() + HEADER_SIZE, Aml, Size);
  UINT8 Sum = 0;
  for (UINT8 Byte : Table) {
    Sum = static_cast<UINT8>(Sum + Byte);
  }
  Table[CHECKSUM_OFFSET] = static_cast<UINT8>(0 - Sum);
  return Table;
}

// Every byte that changed, the checksum aside, lies in a 17-character MAC value between a
// string prefix and a NUL that now holds a slot's text.
void CheckOnlyMacValuesChanged(const std::vector<UINT8> &Before, const std::vector<UINT8> &After,
                               const MacTable &Macs) {
  for (size_t Index = 0; Index < After.size(); Index++) {
    if (Index == CHECKSUM_OFFSET || Before[Index] == After[Index]) {
      continue;
    }
    bool Covered = false;
    for (size_t Start = Index >= MAC_TEXT_LENGTH - 1 ? Index - (MAC_TEXT_LENGTH - 1) : 0;
         Start <= Index && !Covered; Start++) {
      Covered = Start > HEADER_SIZE && Start + MAC_TEXT_LENGTH < After.size() &&
                After[Start - 1] == AML_STRING_PREFIX && After[Start + MAC_TEXT_LENGTH] == 0 &&
                Macs.IsSlotText(&After[Start]);
    }
    Check(Covered);
  }
}

bool SumsToZero(const std::vector<UINT8> &Table) {
  UINT8 Sum = 0;
  for (UINT8 Byte : Table) {
    Sum = static_cast<UINT8>(Sum + Byte);
  }
  return Sum == 0;
}

} // namespace

// The host CPU library stops through the platform; there is none here.
extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size > MAX_AML) {
    return 0;
  }
  static const bool Ready = (SetUpFirmware(), true);
  static const MacTable Macs;
  (void)Ready;

  std::vector<UINT8> Dsdt = BuildDsdt(Data, Size);
  const std::vector<UINT8> Before = Dsdt;
  PointFadtAt(Dsdt.data());
  const EFI_STATUS Status = PatchDsdtMacs(&Macs.Slots[0][0]);
  Check(Status == EFI_SUCCESS || Status == EFI_INVALID_PARAMETER);
  CheckOnlyMacValuesChanged(Before, Dsdt, Macs);
  Check(SumsToZero(Dsdt));
  return 0;
}
