// The host ACPI producer: table layout, checksums, configuration-table entries and the
// System Description Table protocol's enumeration.
#include "AmlTestTable.h"
#include "ScratchFiles.h"

#include <AcpiTables.h>
#include <HostPlatform.h>

#include <Guid/Acpi.h>
#include <Protocol/AcpiSupport.h>

#include <cstring>
#include <filesystem>
#include <memory>

namespace {

class AcpiProducerTest : public ::testing::Test {
protected:
  void SetUp() override { Board = std::make_unique<host::Platform>(); }

  // The producer's options with the board's DSDT, as the board hands it over.
  static host::AcpiTablesOptions BoardTables() {
    host::AcpiTablesOptions Options;
    std::span<const uint8_t> Dsdt = host::BoardDsdtAml();
    Options.Dsdt.assign(Dsdt.begin(), Dsdt.end());
    return Options;
  }

  VOID *ConfigurationTable(EFI_GUID &Guid) {
    EFI_SYSTEM_TABLE *System = Board->SystemTable();
    for (UINTN Index = 0; Index < System->NumberOfTableEntries; Index++) {
      if (CompareGuidValues(System->ConfigurationTable[Index].VendorGuid, Guid)) {
        return System->ConfigurationTable[Index].VendorTable;
      }
    }
    return nullptr;
  }

  EFI_ACPI_SDT_PROTOCOL *Sdt() {
    VOID *Interface = nullptr;
    EXPECT_EQ(Board->BootServices()->LocateProtocol(&gEfiAcpiSdtProtocolGuid, nullptr, &Interface),
              EFI_SUCCESS);
    return static_cast<EFI_ACPI_SDT_PROTOCOL *>(Interface);
  }

  std::unique_ptr<host::Platform> Board;
};

TEST_F(AcpiProducerTest, BothGenerationsAreLinkedFromTheRsdp) {
  host::AcpiTablesProducer &Producer = host::InstallAcpiTables(*Board, BoardTables());
  ASSERT_EQ(Producer.InstallStatus(), EFI_SUCCESS);
  EXPECT_TRUE(Producer.ChecksumsValid());

  auto *Rsdp =
      static_cast<EFI_ACPI_2_0_ROOT_SYSTEM_DESCRIPTION_POINTER *>(ConfigurationTable(gEfiAcpi20TableGuid));
  ASSERT_EQ(Rsdp, Producer.Rsdp());
  EXPECT_EQ(ConfigurationTable(gEfiAcpiTableGuid), Rsdp);
  EXPECT_EQ(Rsdp->Revision, 2);
  EXPECT_EQ(std::memcmp(&Rsdp->Signature, "RSD PTR ", 8), 0);

  // XSDT -> 6.3 FADT -> X_Dsdt; RSDT -> 1.0b FADT -> Dsdt; the same DSDT below 4 GiB.
  auto *Xsdt = reinterpret_cast<UINT8 *>(static_cast<uintptr_t>(Rsdp->XsdtAddress));
  UINT64 FadtAddress;
  std::memcpy(&FadtAddress, Xsdt + 36, sizeof(FadtAddress));
  auto *Fadt =
      reinterpret_cast<EFI_ACPI_6_FIXED_ACPI_DESCRIPTION_TABLE *>(static_cast<uintptr_t>(FadtAddress));
  EXPECT_EQ(Fadt->Header.Length, 276u);
  EXPECT_EQ(Fadt->Header.Revision, 6);
  const UINT64 XDsdt = Fadt->XDsdt; // packed field at offset 140: read it by value
  EXPECT_EQ(XDsdt, Producer.DsdtAddress());
  auto *Rsdt = reinterpret_cast<UINT8 *>(static_cast<uintptr_t>(Rsdp->RsdtAddress));
  UINT32 LegacyAddress;
  std::memcpy(&LegacyAddress, Rsdt + 36, sizeof(LegacyAddress));
  auto *Legacy =
      reinterpret_cast<EFI_ACPI_1_0_FIXED_ACPI_DESCRIPTION_TABLE *>(static_cast<uintptr_t>(LegacyAddress));
  EXPECT_EQ(Legacy->Header.Length, 116u);
  EXPECT_EQ(Legacy->Header.Revision, 1);
  EXPECT_EQ(Legacy->Dsdt, Producer.DsdtAddress());

  VOID *Support = nullptr;
  EXPECT_EQ(Board->BootServices()->LocateProtocol(&gEfiAcpiSupportProtocolGuid, nullptr, &Support),
            EFI_SUCCESS);
}

TEST_F(AcpiProducerTest, GetAcpiTableHandsOutTheInstalledTablesWithTheirVersions) {
  host::AcpiTablesProducer &Producer = host::InstallAcpiTables(*Board, BoardTables());
  EFI_ACPI_SDT_PROTOCOL *Protocol = Sdt();
  ASSERT_NE(Protocol, nullptr);
  std::vector<std::pair<std::string, EFI_ACPI_TABLE_VERSION>> Seen;
  UINTN Index = 0;
  EFI_ACPI_SDT_HEADER *Table = nullptr;
  EFI_ACPI_TABLE_VERSION Version = 0;
  UINTN Key = 0;
  while (Protocol->GetAcpiTable(Index, &Table, &Version, &Key) == EFI_SUCCESS) {
    EXPECT_EQ(reinterpret_cast<VOID *>(Table), Producer.Tables()[Index].Table);
    Seen.emplace_back(std::string(reinterpret_cast<char *>(&Table->Signature), 4), Version);
    Index++;
  }
  using Entry = std::pair<std::string, EFI_ACPI_TABLE_VERSION>;
  EXPECT_EQ(Seen, (std::vector<Entry>{{"DSDT", 0x1E}, {"FACP", 0x02}, {"FACP", 0x1C}}));
  EXPECT_EQ(Protocol->GetAcpiTable(Index, &Table, &Version, &Key), EFI_NOT_FOUND);
  EXPECT_EQ(Protocol->GetAcpiTable(0, nullptr, &Version, &Key), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Producer.GetAcpiTableCalls(), Index + 3); // the loop's last call, then two more
  EXPECT_EQ(Protocol->Open(nullptr, nullptr), EFI_UNSUPPORTED);
}

TEST_F(AcpiProducerTest, OnlyTheLaterGenerationHasNoRsdt) {
  host::AcpiTablesOptions Options = BoardTables();
  Options.Fadt10b = false;
  Options.InstallAcpiSupport = false;
  host::AcpiTablesProducer &Producer = host::InstallAcpiTables(*Board, Options);
  ASSERT_EQ(Producer.InstallStatus(), EFI_SUCCESS);
  EXPECT_TRUE(Producer.ChecksumsValid());
  EXPECT_EQ(Producer.Rsdt(), nullptr);
  EXPECT_EQ(Producer.Rsdp()->RsdtAddress, 0u);
  EXPECT_EQ(ConfigurationTable(gEfiAcpiTableGuid), nullptr);
  EXPECT_NE(ConfigurationTable(gEfiAcpi20TableGuid), nullptr);
  VOID *Support = nullptr;
  EXPECT_EQ(Board->BootServices()->LocateProtocol(&gEfiAcpiSupportProtocolGuid, nullptr, &Support),
            EFI_NOT_FOUND);
}

TEST_F(AcpiProducerTest, PatchedDsdtIsDisassembledWithItsChecksumProblemReported) {
  host::AcpiTablesOptions Options;
  std::span<const uint8_t> Cases = host::CompiledAml("TenDevices");
  Options.Dsdt.assign(Cases.begin(), Cases.end());
  host::AcpiTablesProducer &Producer = host::InstallAcpiTables(*Board, Options);
  ASSERT_EQ(Producer.InstallStatus(), EFI_SUCCESS);
  const board_test::Scratch Scratch("acpi-dis");
  const std::filesystem::path &Dir = Scratch.Path();
  std::filesystem::create_directories(Dir);

  host::AmlDisassembly Clean = host::WriteAndDisassembleAml(Producer.Dsdt(), Dir / "clean.aml");
  ASSERT_TRUE(Clean.Ran) << Clean.Output;
  EXPECT_FALSE(Clean.ChecksumProblem);

  std::span<uint8_t> Dsdt = Producer.Dsdt();
  std::string Table(reinterpret_cast<char *>(Dsdt.data()), Dsdt.size());
  size_t Value = Table.find("00:00:00:00:00:00");
  ASSERT_NE(Value, std::string::npos);
  std::memcpy(Dsdt.data() + Value, "02:5a:00:00:00:01", 17);
  host::AmlDisassembly Patched = host::WriteAndDisassembleAml(Producer.Dsdt(), Dir / "patched.aml");
  ASSERT_TRUE(Patched.Ran) << Patched.Output;
  EXPECT_TRUE(Patched.ChecksumProblem);

  Producer.FixDsdtChecksum();
  EXPECT_TRUE(Producer.ChecksumsValid());
  host::AmlDisassembly Fixed = host::WriteAndDisassembleAml(Producer.Dsdt(), Dir / "fixed.aml");
  EXPECT_FALSE(Fixed.ChecksumProblem);
  std::filesystem::remove_all(Dir);
}

} // namespace
