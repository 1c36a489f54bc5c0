// Host producer of the board's ACPI tables and of the ACPI System Description Table protocol.
#include "AcpiTables.h"

#include "ProducerRecord.h"

#include <Guid/Acpi.h>
#include <Protocol/AcpiSupport.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace host {
namespace {

std::unique_ptr<AcpiTablesProducer> gAcpiTables;
Platform *gAcpiTablesBoard = nullptr;

constexpr uint64_t FOUR_GIB = 1ull << 32;
constexpr size_t TABLE_ALIGNMENT = 16;

constexpr std::array<uint8_t, 6> OEM_ID = {'V', 'E', 'X', 'C', 'E', 'L'};
constexpr uint64_t OEM_TABLE_ID = SIGNATURE_64('T', 'S', 'L', 'B', 'O', 'A', 'R', 'D');
constexpr uint32_t OEM_REVISION = 1;
constexpr uint32_t CREATOR_ID = SIGNATURE_32('H', 'O', 'S', 'T');
constexpr uint32_t CREATOR_REVISION = 1;
constexpr uint8_t RSDT_REVISION = 1;
constexpr uint8_t XSDT_REVISION = 1;
constexpr uint32_t FADT_1_0B_FLAGS = 0x1; // WBINVD works
constexpr uint8_t ACPI_1_0_RSDP_REVISION = 0;

EFI_STATUS EFIAPI SdtGetAcpiTable(UINTN Index, EFI_ACPI_SDT_HEADER **Table, EFI_ACPI_TABLE_VERSION *Version,
                                  UINTN *TableKey) {
  if (gAcpiTables == nullptr || gAcpiTablesBoard != &Platform::Current()) {
    return EFI_NOT_FOUND;
  }
  return gAcpiTables->OnGetAcpiTable(Index, Table, Version, TableKey);
}

EFI_STATUS EFIAPI SdtRegisterNotify(BOOLEAN Register, EFI_ACPI_NOTIFICATION_FN Notification) {
  if (gAcpiTables == nullptr || gAcpiTablesBoard != &Platform::Current()) {
    return EFI_INVALID_PARAMETER;
  }
  return gAcpiTables->OnRegisterNotify(Register, Notification);
}

// The AML namespace members are not provided on this board.
EFI_STATUS EFIAPI SdtOpen(VOID *, EFI_ACPI_HANDLE *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtOpenSdt(UINTN, EFI_ACPI_HANDLE *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtClose(EFI_ACPI_HANDLE) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtGetChild(EFI_ACPI_HANDLE, EFI_ACPI_HANDLE *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtGetOption(EFI_ACPI_HANDLE, UINTN, EFI_ACPI_DATA_TYPE *, const VOID **, UINTN *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtSetOption(EFI_ACPI_HANDLE, UINTN, const VOID *, UINTN) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SdtFindPath(EFI_ACPI_HANDLE, VOID *, EFI_ACPI_HANDLE *) {
  return EFI_UNSUPPORTED;
}

EFI_ACPI_SDT_PROTOCOL SdtProtocol(Platform &Board) {
  return {
      EFI_ACPI_TABLE_VERSION_1_0B | EFI_ACPI_TABLE_VERSION_X,
      Exported(Board, "Sdt.GetAcpiTable", SdtGetAcpiTable),
      Exported(Board, "Sdt.RegisterNotify", SdtRegisterNotify),
      Exported(Board, "Sdt.Open", SdtOpen),
      Exported(Board, "Sdt.OpenSdt", SdtOpenSdt),
      Exported(Board, "Sdt.Close", SdtClose),
      Exported(Board, "Sdt.GetChild", SdtGetChild),
      Exported(Board, "Sdt.GetOption", SdtGetOption),
      Exported(Board, "Sdt.SetOption", SdtSetOption),
      Exported(Board, "Sdt.FindPath", SdtFindPath),
  };
}

// The ACPI Support protocol is only looked for, never called: its interface is one byte.
constexpr uint8_t ACPI_SUPPORT_INTERFACE = 0;

size_t AlignUp(size_t Value) {
  return (Value + TABLE_ALIGNMENT - 1) & ~(TABLE_ALIGNMENT - 1);
}

void FillHeader(EFI_ACPI_DESCRIPTION_HEADER *Header, uint32_t Signature, uint32_t Length, uint8_t Revision) {
  Header->Signature = Signature;
  Header->Length = Length;
  Header->Revision = Revision;
  std::copy(OEM_ID.begin(), OEM_ID.end(), Header->OemId);
  Header->OemTableId = OEM_TABLE_ID;
  Header->OemRevision = OEM_REVISION;
  Header->CreatorId = CREATOR_ID;
  Header->CreatorRevision = CREATOR_REVISION;
}

void SetChecksum(void *Table, size_t Length, uint8_t *Field) {
  *Field = 0;
  *Field = static_cast<uint8_t>(0x100 - AcpiChecksum(Table, Length));
}

void SetHeaderChecksum(EFI_ACPI_DESCRIPTION_HEADER *Header) {
  SetChecksum(Header, Header->Length, &Header->Checksum);
}

uint32_t Low32(const void *Pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Pointer));
}
uint64_t Address(const void *Pointer) {
  return reinterpret_cast<uintptr_t>(Pointer);
}

} // namespace

uint8_t AcpiChecksum(const void *Data, size_t Length) {
  const uint8_t *Bytes = static_cast<const uint8_t *>(Data);
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Length; Index++) {
    Sum = static_cast<uint8_t>(Sum + Bytes[Index]);
  }
  return Sum;
}

// ACPI 1.0b consumers hold 32-bit table addresses, so every table lives below 4 GiB, in the
// board's DRAM.
void *AcpiTablesProducer::AllocateLow(size_t Size) {
  EFI_PHYSICAL_ADDRESS Memory = FOUR_GIB - 1;
  if (EFI_ERROR(Board_.BootServices()->AllocatePages(AllocateMaxAddress, EfiACPIReclaimMemory,
                                                     EFI_SIZE_TO_PAGES(Size), &Memory))) {
    return nullptr;
  }
  void *Block = reinterpret_cast<void *>(static_cast<uintptr_t>(Memory));
  std::memset(Block, 0, Size);
  return Block;
}

void AcpiTablesProducer::Publish(EFI_ACPI_DESCRIPTION_HEADER *Table, EFI_ACPI_TABLE_VERSION Version) {
  Tables_.push_back({Table, Version, NextTableKey_++});
}

EFI_STATUS AcpiTablesProducer::Install(const AcpiTablesOptions &Options) {
  const std::vector<uint8_t> &DsdtBytes = Options.Dsdt;
  if (DsdtBytes.size() < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) {
    return EFI_INVALID_PARAMETER;
  }
  // Without any FADT the XSDT still roots the (then DSDT-less) table set.
  const bool HasRsdt = Options.Fadt10b;
  const bool HasXsdt = Options.Fadt20 || !Options.Fadt10b;
  const size_t RsdtSize =
      sizeof(EFI_ACPI_DESCRIPTION_HEADER) + (Options.Fadt10b ? EFI_ACPI_RSDT_ENTRY_SIZE : 0);
  const size_t XsdtSize =
      sizeof(EFI_ACPI_DESCRIPTION_HEADER) + (Options.Fadt20 ? EFI_ACPI_XSDT_ENTRY_SIZE : 0);

  size_t Total = 0;
  auto Reserve = [&Total](size_t Size) {
    size_t Offset = Total;
    Total += AlignUp(Size);
    return Offset;
  };
  const size_t RsdpAt = Reserve(sizeof(EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER));
  const size_t RsdtAt = Reserve(HasRsdt ? RsdtSize : 0);
  const size_t XsdtAt = Reserve(HasXsdt ? XsdtSize : 0);
  const size_t Fadt10bAt = Reserve(sizeof(EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE));
  const size_t Fadt20At = Reserve(sizeof(EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE));
  const size_t DsdtAt = Reserve(DsdtBytes.size());

  uint8_t *Block = static_cast<uint8_t *>(AllocateLow(Total));
  if (Block == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }

  Dsdt_ = Block + DsdtAt;
  std::memcpy(Dsdt_, DsdtBytes.data(), DsdtBytes.size());
  auto *DsdtHeader = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Dsdt_);
  if (Options.RecomputeDsdtChecksum && DsdtHeader->Length <= DsdtBytes.size()) {
    SetHeaderChecksum(DsdtHeader);
  }
  EFI_ACPI_TABLE_VERSION DsdtVersion =
      (Options.Fadt10b ? EFI_ACPI_TABLE_VERSION_1_0B : 0) | (HasXsdt ? EFI_ACPI_TABLE_VERSION_X : 0);
  Publish(DsdtHeader, DsdtVersion);

  if (Options.Fadt10b) {
    Fadt10b_ = reinterpret_cast<EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE *>(Block + Fadt10bAt);
    FillHeader(&Fadt10b_->Header, EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE, sizeof(*Fadt10b_),
               EFI_ACPI_1_0_FADT_REVISION);
    Fadt10b_->Dsdt = Low32(Dsdt_);
    Fadt10b_->Flags = FADT_1_0B_FLAGS;
    SetHeaderChecksum(&Fadt10b_->Header);
    Publish(&Fadt10b_->Header, EFI_ACPI_TABLE_VERSION_1_0B);
  }
  if (Options.Fadt20) {
    Fadt20_ = reinterpret_cast<EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *>(Block + Fadt20At);
    FillHeader(&Fadt20_->Header, EFI_ACPI_FIXED_ACPI_DESCRIPTION_TABLE_SIGNATURE, sizeof(*Fadt20_),
               EFI_ACPI_6_3_FADT_REVISION);
    Fadt20_->MinorVersion = EFI_ACPI_6_3_FADT_MINOR_REVISION;
    Fadt20_->PreferredPmProfile = EFI_ACPI_PM_PROFILE_ENTERPRISE_SERVER;
    Fadt20_->Flags = EFI_ACPI_FADT_HW_REDUCED_ACPI | EFI_ACPI_FADT_LOW_POWER_S0_IDLE_CAPABLE;
    Fadt20_->ArmBootArch = EFI_ACPI_ARM_PSCI_COMPLIANT;
    Fadt20_->XDsdt = Address(Dsdt_); // the 32-bit Dsdt stays 0: X_Dsdt is the one to use
    SetHeaderChecksum(&Fadt20_->Header);
    Publish(&Fadt20_->Header, Options.Fadt20Version);
  }

  if (HasRsdt) {
    Rsdt_ = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Block + RsdtAt);
    FillHeader(Rsdt_, EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_TABLE_SIGNATURE, RsdtSize, RSDT_REVISION);
    uint32_t Entry = Low32(Fadt10b_);
    std::memcpy(Block + RsdtAt + EFI_ACPI_SDT_ENTRIES_OFFSET, &Entry, sizeof(Entry));
    SetHeaderChecksum(Rsdt_);
  }
  if (HasXsdt) {
    Xsdt_ = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Block + XsdtAt);
    FillHeader(Xsdt_, EFI_ACPI_EXTENDED_SYSTEM_DESCRIPTION_TABLE_SIGNATURE, XsdtSize, XSDT_REVISION);
    if (Options.Fadt20) {
      uint64_t Entry = Address(Fadt20_);
      std::memcpy(Block + XsdtAt + EFI_ACPI_SDT_ENTRIES_OFFSET, &Entry, sizeof(Entry));
    }
    SetHeaderChecksum(Xsdt_);
  }

  Rsdp_ = reinterpret_cast<EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER *>(Block + RsdpAt);
  Rsdp_->Signature = EFI_ACPI_ROOT_SYSTEM_DESCRIPTION_POINTER_SIGNATURE;
  std::copy(OEM_ID.begin(), OEM_ID.end(), Rsdp_->OemId);
  Rsdp_->RsdtAddress = HasRsdt ? Low32(Rsdt_) : 0;
  if (HasXsdt) {
    Rsdp_->Revision = EFI_ACPI_2_0_RSDP_REVISION;
    Rsdp_->Length = sizeof(*Rsdp_);
    Rsdp_->XsdtAddress = Address(Xsdt_);
    SetChecksum(Rsdp_, EFI_ACPI_1_0_RSDP_CHECKSUM_LENGTH, &Rsdp_->Checksum);
    SetChecksum(Rsdp_, sizeof(*Rsdp_), &Rsdp_->ExtendedChecksum);
  } else {
    Rsdp_->Revision = ACPI_1_0_RSDP_REVISION;
    SetChecksum(Rsdp_, EFI_ACPI_1_0_RSDP_CHECKSUM_LENGTH, &Rsdp_->Checksum);
  }

  EFI_BOOT_SERVICES *Services = Board_.BootServices();
  EFI_STATUS Status = EFI_SUCCESS;
  if (HasXsdt) {
    Status = Services->InstallConfigurationTable(&gEfiAcpi20TableGuid, Rsdp_);
  }
  if (!EFI_ERROR(Status) && HasRsdt) {
    Status = Services->InstallConfigurationTable(&gEfiAcpiTableGuid, Rsdp_);
  }
  if (!EFI_ERROR(Status) && Options.InstallSdtProtocol) {
    Status = InstallRecord(Board_, gEfiAcpiSdtProtocolGuid, SdtProtocol(Board_));
  }
  if (!EFI_ERROR(Status) && Options.InstallAcpiSupport) {
    Status = InstallRecord(Board_, gEfiAcpiSupportProtocolGuid, ACPI_SUPPORT_INTERFACE);
  }
  return Status;
}

std::span<uint8_t> AcpiTablesProducer::Dsdt() const {
  if (Dsdt_ == nullptr) {
    return {};
  }
  return {Dsdt_, reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Dsdt_)->Length};
}

bool AcpiTablesProducer::ChecksumsValid() const {
  if (Rsdp_ == nullptr || AcpiChecksum(Rsdp_, EFI_ACPI_1_0_RSDP_CHECKSUM_LENGTH) != 0) {
    return false;
  }
  if (Rsdp_->Revision >= EFI_ACPI_2_0_RSDP_REVISION && AcpiChecksum(Rsdp_, Rsdp_->Length) != 0) {
    return false;
  }
  for (const EFI_ACPI_DESCRIPTION_HEADER *Root : {Rsdt_, Xsdt_}) {
    if (Root != nullptr && AcpiChecksum(Root, Root->Length) != 0) {
      return false;
    }
  }
  return std::all_of(Tables_.begin(), Tables_.end(), [](const AcpiInstalledTable &Entry) {
    return AcpiChecksum(Entry.Table, Entry.Table->Length) == 0;
  });
}

void AcpiTablesProducer::FixDsdtChecksum() {
  if (Dsdt_ != nullptr) {
    SetHeaderChecksum(reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Dsdt_));
  }
}

// Hands out the installed table itself, as the PI table protocol does: callers read it (and
// may patch it in place) but must not free it.
EFI_STATUS AcpiTablesProducer::OnGetAcpiTable(UINTN Index, EFI_ACPI_SDT_HEADER **Table,
                                              EFI_ACPI_TABLE_VERSION *Version, UINTN *TableKey) {
  GetAcpiTableCalls_++;
  if (Table == nullptr || Version == nullptr || TableKey == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Index >= Tables_.size()) {
    return EFI_NOT_FOUND;
  }
  const AcpiInstalledTable &Entry = Tables_[Index];
  *Table = reinterpret_cast<EFI_ACPI_SDT_HEADER *>(Entry.Table);
  *Version = Entry.Version;
  *TableKey = Entry.TableKey;
  return EFI_SUCCESS;
}

// Notifications are kept for tables installed later; this board installs all of them at
// once, before anyone can register.
EFI_STATUS AcpiTablesProducer::OnRegisterNotify(BOOLEAN Register, EFI_ACPI_NOTIFICATION_FN Notification) {
  if (Notification == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = std::find(Notifications_.begin(), Notifications_.end(), Notification);
  if (Register) {
    if (Found == Notifications_.end()) {
      Notifications_.push_back(Notification);
    }
    return EFI_SUCCESS;
  }
  if (Found == Notifications_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  Notifications_.erase(Found);
  return EFI_SUCCESS;
}

AcpiTablesProducer &InstallAcpiTables(Platform &Board, const AcpiTablesOptions &Options) {
  gAcpiTables.reset();
  gAcpiTables = std::make_unique<AcpiTablesProducer>(Board);
  gAcpiTablesBoard = &Board;
  gAcpiTables->InstallStatus_ = gAcpiTables->Install(Options);
  char Line[160];
  std::snprintf(Line, sizeof(Line), "tables installed: DSDT at 0x%llx, FADT 1.0b %s, FADT 6.3 %s: ",
                static_cast<unsigned long long>(gAcpiTables->DsdtAddress()), Options.Fadt10b ? "yes" : "no",
                Options.Fadt20 ? "yes" : "no");
  Board.Log().Append("acpi", Line + StatusName(gAcpiTables->InstallStatus_) + "\n", Board.VirtualTimeNs());
  return *gAcpiTables;
}

AmlDisassembly WriteAndDisassembleAml(std::span<const uint8_t> Table, const std::filesystem::path &AmlFile) {
  AmlDisassembly Result;
  Result.AmlFile = AmlFile;
  Result.DslFile = std::filesystem::path(AmlFile).replace_extension(".dsl");
  {
    std::ofstream Out(AmlFile, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Table.data()), static_cast<std::streamsize>(Table.size()));
    if (!Out) {
      return Result;
    }
  }
  std::error_code Ignored;
  std::filesystem::remove(Result.DslFile, Ignored);
  std::string Command = "iasl -vs -d '" + AmlFile.string() + "' 2>&1";
  FILE *Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) {
    return Result;
  }
  std::array<char, 512> Buffer;
  while (std::fgets(Buffer.data(), Buffer.size(), Pipe) != nullptr) {
    Result.Output += Buffer.data();
  }
  int ExitCode = pclose(Pipe);
  Result.Ran = ExitCode == 0 && std::filesystem::exists(Result.DslFile);
  std::string Lower = Result.Output;
  std::transform(Lower.begin(), Lower.end(), Lower.begin(), [](unsigned char C) { return std::tolower(C); });
  Result.ChecksumProblem = Lower.find("incorrect checksum") != std::string::npos;
  return Result;
}

} // namespace host
