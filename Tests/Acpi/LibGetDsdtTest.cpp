// The DSDT locator inside a module image on the emulated board, against the host ACPI
// producer: where it finds the DSDT, when it asks the protocol, and that it leaves the
// installed tables alone.
#include "AcpiProbe.h"
#include "AmlTestTable.h"

#include <AcpiTables.h>
#include <Board.h>
#include <BoardCheck.h>
#include <HostPlatform.h>
#include <StatusCodeListener.h>

#include <Protocol/AcpiSystemDescriptionTable.h>

#include <functional>
#include <map>
#include <memory>

namespace {

using Script = std::function<EFI_STATUS(const ACPI_PROBE_FUNCTIONS &)>;
Script gScript;

EFI_STATUS RunScript(const ACPI_PROBE_FUNCTIONS *Functions) {
  return gScript(*Functions);
}
ACPI_PROBE_PROTOCOL gProbe = {RunScript};

constexpr UINT32 NICPATCH_VERSIONS = 30; // 1.0b, 2.0, 3.0, 4.0

class LibGetDsdtTest : public ::testing::Test {
protected:
  void SetUp() override { Board = std::make_unique<host::Platform>(); }
  void TearDown() override {
    if (Built) {
      board_test::ExpectNoUnexpectedErrors(*Built);
    }
    Built.reset();
    Board.reset();
    gScript = nullptr;
  }

  // Builds the board with these ACPI tables and fault knobs, and the probe's protocol.
  host::AcpiTablesProducer &Install(const host::AcpiTablesOptions &Acpi,
                                    std::map<std::string, std::string> Faults = {}) {
    host::BoardOptions Options;
    Options.Acpi = Acpi;
    Options.Faults = std::move(Faults);
    Built = host::Board::Build(*Board, Options);
    Listener = Built->Producer<host::StatusCodeListener>("status-codes");
    EFI_GUID ProbeGuid = ACPI_PROBE_PROTOCOL_GUID;
    EFI_HANDLE Handle = nullptr;
    EXPECT_EQ(
        Board->BootServices()->InstallProtocolInterface(&Handle, &ProbeGuid, EFI_NATIVE_INTERFACE, &gProbe),
        EFI_SUCCESS);
    host::AcpiTablesProducer &Producer = *Built->Producer<host::AcpiTablesProducer>("acpi-tables");
    EXPECT_EQ(Producer.InstallStatus(), EFI_SUCCESS);
    return Producer;
  }
  host::AcpiTablesProducer &Install(bool Fadt10b, bool Fadt20) {
    host::AcpiTablesOptions Options;
    Options.Fadt10b = Fadt10b;
    Options.Fadt20 = Fadt20;
    return Install(Options);
  }

  host::ImageResult Run(Script Body) {
    gScript = std::move(Body);
    return Board->RunModule("AcpiProbe");
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> Texts;
    for (const host::StatusCodeRecord &Record : Listener->Records()) {
      if (Record.Text) {
        Texts.push_back(*Record.Text);
      }
    }
    return Texts;
  }

  std::unique_ptr<host::Platform> Board;
  std::unique_ptr<host::Board> Built;
  host::StatusCodeListener *Listener = nullptr;
};

std::string Hex(uint64_t Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

TEST_F(LibGetDsdtTest, BothFadtsAreCachedAndTheSecondCallAsksNoOne) {
  host::AcpiTablesProducer &Producer = Install(true, true);
  std::vector<uint8_t> Before(Producer.Dsdt().begin(), Producer.Dsdt().end());
  unsigned CallsAfterFirst = 0;
  UINT64 First = 0, Second = 0, Legacy = 0;
  EFI_HANDLE Image = nullptr;
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    Image = F.ImageHandle;
    EXPECT_EQ(F.LibGetDsdt(&First, NICPATCH_VERSIONS), EFI_SUCCESS);
    CallsAfterFirst = Producer.GetAcpiTableCalls();
    EXPECT_EQ(F.LibGetDsdt(&Second, NICPATCH_VERSIONS), EFI_SUCCESS);
    EXPECT_EQ(F.LibGetDsdt(&Legacy, EFI_ACPI_TABLE_VERSION_1_0B), EFI_SUCCESS);
    return EFI_SUCCESS;
  });
  ASSERT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(First, Producer.DsdtAddress());
  EXPECT_EQ(Second, First);
  EXPECT_EQ(Legacy, Producer.DsdtAddress());            // from the 1.0b FADT's 32-bit field
  EXPECT_EQ(CallsAfterFirst, Producer.Tables().size()); // stopped once both FADTs were seen
  EXPECT_EQ(Producer.GetAcpiTableCalls(), CallsAfterFirst);

  // The installed tables are read, not released: no FreePool, contents and checksums intact.
  EXPECT_EQ(Board->FreePoolCalls(Image), 0u);
  EXPECT_TRUE(Board->MemoryErrors().empty());
  EXPECT_TRUE(Producer.ChecksumsValid());
  EXPECT_TRUE(std::equal(Before.begin(), Before.end(), Producer.Dsdt().begin()));

  std::vector<std::string> Texts = Messages();
  const std::string Address = Hex(Producer.DsdtAddress());
  EXPECT_NE(
      std::find(Texts.begin(), Texts.end(),
                "AcpiResLib: LibGetDsdt(): Found v1.0b   RSDT->DSDT @ " + Address + "; -> EFI_SUCCESS \n"),
      Texts.end());
  EXPECT_NE(
      std::find(Texts.begin(), Texts.end(),
                "AcpiResLib: LibGetDsdt(): Found v2.0&UP XSDT->DSDT @ " + Address + "; -> EFI_SUCCESS \n"),
      Texts.end());
}

TEST_F(LibGetDsdtTest, OnlyTheLaterFadtMeansEveryCallSearchesToTheEnd) {
  host::AcpiTablesProducer &Producer = Install(false, true);
  const unsigned Tables = Producer.Tables().size();
  UINT64 Dsdt = 0;
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    for (int Call = 0; Call < 3; Call++) {
      EXPECT_EQ(F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS), EFI_SUCCESS);
    }
    // The 1.0b mask alone finds nothing: the status that ended the walk.
    UINT64 Untouched = 0x1234;
    EXPECT_EQ(F.LibGetDsdt(&Untouched, EFI_ACPI_TABLE_VERSION_1_0B), EFI_NOT_FOUND);
    EXPECT_EQ(Untouched, 0x1234u);
    return EFI_SUCCESS;
  });
  ASSERT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Dsdt, Producer.DsdtAddress());
  EXPECT_EQ(Producer.GetAcpiTableCalls(), 4 * (Tables + 1)); // every table, then the failing index
  std::vector<std::string> Texts = Messages();
  EXPECT_EQ(
      std::count(Texts.begin(), Texts.end(),
                 "Can't find FADT table -> EFI_NOT_FOUND search " + std::to_string(Tables) + " Tables\n"),
      4);
}

TEST_F(LibGetDsdtTest, AnFadtReportedAsAcpi50OrLaterCountsAs20AndLater) {
  host::AcpiTablesOptions Options;
  Options.Fadt10b = false;
  Options.Fadt20Version = EFI_ACPI_TABLE_VERSION_5_0;
  host::AcpiTablesProducer &Producer = Install(Options);
  UINT64 Dsdt = 0;
  host::ImageResult Result =
      Run([&](const ACPI_PROBE_FUNCTIONS &F) { return F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS); });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Dsdt, Producer.DsdtAddress());
}

TEST_F(LibGetDsdtTest, OnlyThe10bFadtServesEveryMaskThatAllowsIt) {
  host::AcpiTablesProducer &Producer = Install(true, false);
  ASSERT_LT(Producer.DsdtAddress(), 1ull << 32);
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    UINT64 Dsdt = 0;
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS), EFI_SUCCESS);
    EXPECT_EQ(Dsdt, Producer.DsdtAddress());
    Dsdt = 0;
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, EFI_ACPI_TABLE_VERSION_NONE), EFI_SUCCESS);
    EXPECT_EQ(Dsdt, Producer.DsdtAddress());
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, EFI_ACPI_TABLE_VERSION_X), EFI_NOT_FOUND);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
}

TEST_F(LibGetDsdtTest, AMaskMatchingNoCachedFadtIsNotReportedAsSuccess) {
  host::AcpiTablesProducer &Producer = Install(true, true);
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    UINT64 Dsdt = 0x55;
    // The walk ends successfully with both FADTs cached, yet 5.0 alone selects neither.
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, EFI_ACPI_TABLE_VERSION_5_0), EFI_NOT_FOUND);
    EXPECT_EQ(Dsdt, 0x55u);
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, EFI_ACPI_TABLE_VERSION_5_0), EFI_NOT_FOUND);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Producer.GetAcpiTableCalls(), Producer.Tables().size());
}

TEST_F(LibGetDsdtTest, WithoutTheSdtProtocolNothingIsCachedAndLaterCallsRetry) {
  host::AcpiTablesOptions Options;
  Options.InstallSdtProtocol = false;
  host::AcpiTablesProducer &Producer = Install(Options);
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    UINT64 Dsdt = 0;
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS), EFI_NOT_AVAILABLE_YET);
    EXPECT_EQ(Dsdt, 0u);
    EXPECT_EQ(F.LibGetDsdt(nullptr, NICPATCH_VERSIONS), EFI_INVALID_PARAMETER);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Producer.GetAcpiTableCalls(), 0u);
  std::vector<std::string> Texts = Messages();
  EXPECT_NE(std::find(Texts.begin(), Texts.end(),
                      "AcpiResLib: LibGetDsdt(): LocateProtocol(ACPISupport) returned EFI_NOT_FOUND \n"),
            Texts.end());
}

TEST_F(LibGetDsdtTest, AnSdtProtocolWithoutInterfaceIsNotAsked) {
  host::AcpiTablesOptions Options;
  Options.InstallSdtProtocol = false;
  Install(Options, {{"acpi-sdt-no-interface", ""}});
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    UINT64 Dsdt = 0;
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS), EFI_NOT_AVAILABLE_YET);
    EXPECT_EQ(Dsdt, 0u);
    return EFI_SUCCESS;
  });
  EXPECT_FALSE(Result.Halted.has_value());
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  std::vector<std::string> Texts = Messages();
  EXPECT_NE(std::find(Texts.begin(), Texts.end(),
                      "AcpiResLib: LibGetDsdt(): LocateProtocol(ACPISupport) returned EFI_NOT_FOUND \n"),
            Texts.end());
}

TEST_F(LibGetDsdtTest, FoundDsdtIsSearchableInPlace) {
  host::AcpiTablesProducer &Producer = Install(true, true);
  host::ImageResult Result = Run([&](const ACPI_PROBE_FUNCTIONS &F) {
    UINT64 Dsdt = 0;
    EXPECT_EQ(F.LibGetDsdt(&Dsdt, NICPATCH_VERSIONS), EFI_SUCCESS);
    UINT8 *Table = reinterpret_cast<UINT8 *>(static_cast<uintptr_t>(Dsdt));
    UINT32 Length = reinterpret_cast<EFI_ACPI_DESCRIPTION_HEADER *>(Table)->Length;
    AML_OBJECT_INFO Device;
    EXPECT_EQ(F.FindAmlObject(Table + 36, Length - 37, "_SB_", AmlDevice, &Device), EFI_SUCCESS);
    EXPECT_EQ(Text(Device.DataStart, 4), "ETH0");
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Producer.Dsdt().size(), host::BoardDsdtAml().size());
}

} // namespace
