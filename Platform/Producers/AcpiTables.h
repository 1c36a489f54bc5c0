// Host producer of the board's ACPI tables: RSDP, RSDT and/or XSDT, an ACPI 1.0b FADT and/or
// an ACPI 6.3 FADT, and the DSDT, placed below 4 GiB in ACPI reclaim memory with correct
// checksums; the RSDP published in the configuration table; the ACPI System Description
// Table protocol over the installed tables and, optionally, the ACPI Support protocol GUID.
#pragma once

#include <HostPlatform.h>
#include <IndustryStandard/Acpi.h>
#include <Protocol/AcpiSystemDescriptionTable.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace host {

struct AcpiTablesOptions {
  bool Fadt10b = true; // a revision-1 FADT (116 bytes, 32-bit Dsdt) listed in the RSDT
  bool Fadt20 = true;  // a revision-6.3 FADT (276 bytes, 64-bit X_Dsdt) listed in the XSDT
  // The table version GetAcpiTable reports for that FADT (firmware may say 5.0, 0x20).
  EFI_ACPI_TABLE_VERSION Fadt20Version = EFI_ACPI_TABLE_VERSION_X;
  std::vector<uint8_t> Dsdt; // the DSDT's bytes (the board hands over its own)
  bool RecomputeDsdtChecksum = true;
  bool InstallSdtProtocol = true;
  bool InstallAcpiSupport = true; // the ACPI Support protocol GUID with an empty interface
};

struct AcpiInstalledTable {
  EFI_ACPI_DESCRIPTION_HEADER *Table = nullptr;
  EFI_ACPI_TABLE_VERSION Version = 0;
  UINTN TableKey = 0;
};

class AcpiTablesProducer {
public:
  explicit AcpiTablesProducer(Platform &Board) : Board_(Board) {}
  AcpiTablesProducer(const AcpiTablesProducer &) = delete;
  AcpiTablesProducer &operator=(const AcpiTablesProducer &) = delete;

  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  // The tables GetAcpiTable enumerates, in index order: the DSDT, then the FADTs.
  const std::vector<AcpiInstalledTable> &Tables() const { return Tables_; }
  const EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER *Rsdp() const { return Rsdp_; }
  const EFI_ACPI_DESCRIPTION_HEADER *Rsdt() const { return Rsdt_; }
  const EFI_ACPI_DESCRIPTION_HEADER *Xsdt() const { return Xsdt_; }
  const EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE *Fadt10b() const { return Fadt10b_; }
  const EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *Fadt20() const { return Fadt20_; }
  uint64_t DsdtAddress() const { return reinterpret_cast<uintptr_t>(Dsdt_); }
  // The installed DSDT as it is now (firmware patches it in place).
  std::span<uint8_t> Dsdt() const;

  unsigned GetAcpiTableCalls() const { return GetAcpiTableCalls_; }
  void ResetCallCount() { GetAcpiTableCalls_ = 0; }

  // Whether every installed table's checksum (and the RSDP's) sums to zero.
  bool ChecksumsValid() const;
  // Recomputes the DSDT checksum, the way a producer republishing a patched table would.
  void FixDsdtChecksum();

  EFI_STATUS OnGetAcpiTable(UINTN Index, EFI_ACPI_SDT_HEADER **Table, EFI_ACPI_TABLE_VERSION *Version,
                            UINTN *TableKey);
  EFI_STATUS OnRegisterNotify(BOOLEAN Register, EFI_ACPI_NOTIFICATION_FN Notification);

private:
  friend AcpiTablesProducer &InstallAcpiTables(Platform &Board, const AcpiTablesOptions &Options);
  EFI_STATUS Install(const AcpiTablesOptions &Options);
  void *AllocateLow(size_t Size);
  void Publish(EFI_ACPI_DESCRIPTION_HEADER *Table, EFI_ACPI_TABLE_VERSION Version);

  Platform &Board_;
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
  std::vector<AcpiInstalledTable> Tables_;
  EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER *Rsdp_ = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Rsdt_ = nullptr;
  EFI_ACPI_DESCRIPTION_HEADER *Xsdt_ = nullptr;
  EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE *Fadt10b_ = nullptr;
  EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *Fadt20_ = nullptr;
  uint8_t *Dsdt_ = nullptr;
  std::vector<EFI_ACPI_NOTIFICATION_FN> Notifications_;
  unsigned GetAcpiTableCalls_ = 0;
  UINTN NextTableKey_ = 1;
};

// Builds and installs the tables on Board (the "core" boot step of the board). The producer
// lives until the next installation; its protocol serves only the platform it was installed on.
AcpiTablesProducer &InstallAcpiTables(Platform &Board, const AcpiTablesOptions &Options = {});

// Sum of the bytes modulo 256; an ACPI table is valid when this is 0.
uint8_t AcpiChecksum(const void *Data, size_t Length);

struct AmlDisassembly {
  bool Ran = false;              // iasl could be started and wrote the .dsl
  bool ChecksumProblem = false;  // iasl reported a wrong table checksum
  std::filesystem::path AmlFile; // the table as written
  std::filesystem::path DslFile; // iasl's disassembly
  std::string Output;            // what iasl printed
};

// Writes Table to AmlFile and disassembles it with "iasl -d" into the .dsl beside it.
AmlDisassembly WriteAndDisassembleAml(std::span<const uint8_t> Table, const std::filesystem::path &AmlFile);

} // namespace host
