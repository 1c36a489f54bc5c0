// Mgmtprobe loaded as an image on the emulated board: console text and exit status with and
// without a producer of the IPMI information protocol. Every case runs twice: the host build's
// shared object, and the shipped AArch64 image on the board's AArch64 processor.
#include <Board.h>
#include <BoardCheck.h>
#include <HostPlatform.h>
#include <IpmiInformation.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char16_t INITIAL_LINE[] = u"Get BMC base memory tool initial. \n";
constexpr char16_t LOCATE_ERROR_LINE[] = u"Locate Oem Ipmi Information Protocol error. \n";

// The platform that loads Mgmtprobe as its shared object ("host") or its AArch64 image.
host::PlatformOptions ForImages(const std::string &Images) {
  host::PlatformOptions Options;
  if (Images == "aarch64") {
    Options.Aarch64Images = true;
    Options.Aarch64ImageDir = UEFI_IMAGE_DIR_DEFAULT;
  }
  return Options;
}

class MgmtprobeTest : public ::testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    if (GetParam() == "aarch64" &&
        !std::filesystem::exists(std::string(UEFI_IMAGE_DIR_DEFAULT) + "/Mgmtprobe.efi")) {
      GTEST_SKIP() << "Mgmtprobe.efi not built (Tools/scripts/build uefi-aarch64)";
    }
  }
  // The board with the given options (by default without the IPMI information protocol).
  void Boot(std::map<std::string, std::string> Settings = {{"no-ipmi", ""}},
            std::map<std::string, std::string> Faults = {}) {
    host::BoardOptions Options;
    Options.Settings = std::move(Settings);
    Options.Faults = std::move(Faults);
    Built_ = host::Board::Build(Board_, Options);
  }
  void BootWithBase(const std::string &Base) { Boot({{"ipmi-bmc-base", Base}}); }
  void TearDown() override {
    if (Built_) {
      board_test::ExpectNoUnexpectedErrors(*Built_);
    }
  }

  // Loads and starts Mgmtprobe the way the shell does; the image must return, not halt.
  EFI_STATUS RunMgmtprobe() {
    if (!Built_) {
      Boot();
    }
    EFI_HANDLE Image = nullptr;
    EFI_STATUS Status = Board_.LoadModule("Mgmtprobe", &Image);
    EXPECT_EQ(Status, EFI_SUCCESS);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    host::ImageResult Result = Board_.StartImage(Image);
    EXPECT_FALSE(Result.Halted.has_value()) << Result.Halted->what();
    EXPECT_EQ(Board_.OutstandingPoolBytes(Image), 0u) << "Mgmtprobe left pool allocated";
    EXPECT_EQ(Board_.OutstandingPages(Image), 0u) << "Mgmtprobe left pages allocated";
    return Result.Status;
  }

  static std::u16string WithBase(const char16_t *Digits) {
    return std::u16string(INITIAL_LINE) + u"BMC_memory = " + Digits + u"\n";
  }

  host::Platform Board_{ForImages(GetParam())};
  std::unique_ptr<host::Board> Built_;
};

TEST_P(MgmtprobeTest, WithoutProducerReportsTheLookupErrorAndSucceeds) {
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(), std::u16string(INITIAL_LINE) + LOCATE_ERROR_LINE);
}

TEST_P(MgmtprobeTest, PrintsTheBaseAsSixteenUpperCaseDigits) {
  BootWithBase("0xFEDCBA9876543210");
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(), WithBase(u"FEDCBA9876543210"));
}

TEST_P(MgmtprobeTest, BasesBelowFourGiBKeepTheirLeadingZeros) {
  BootWithBase("0x8ABCD000");
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(), WithBase(u"000000008ABCD000"));
}

TEST_P(MgmtprobeTest, ZeroBaseIsPrintedInFull) {
  BootWithBase("0");
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(), WithBase(u"0000000000000000"));
}

// A producer that installs the GUID without a record gives Mgmtprobe nothing to read: it
// reports the protocol as missing instead of reading through a null pointer.
TEST_P(MgmtprobeTest, NullInterfaceIsReportedAsMissing) {
  Boot({}, {{"ipmi-no-interface", ""}});
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(), std::u16string(INITIAL_LINE) + LOCATE_ERROR_LINE);
}

// Each run is a fresh load of the image and prints its lines again, with what other firmware
// installed meanwhile.
TEST_P(MgmtprobeTest, RunsAgainAfterTheProducerArrives) {
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  ASSERT_EQ(host::InstallOemIpmiInformation(Board_, 0x1000ull), EFI_SUCCESS);
  EXPECT_EQ(RunMgmtprobe(), EFI_SUCCESS);
  EXPECT_EQ(Board_.ConsoleText(),
            std::u16string(INITIAL_LINE) + LOCATE_ERROR_LINE + WithBase(u"0000000000001000"));
}

INSTANTIATE_TEST_SUITE_P(Builds, MgmtprobeTest, ::testing::Values("host", "aarch64"),
                         [](const auto &Info) { return Info.param; });

// The producer's record: what consumers read at offset 120, plus believable other members.
TEST(IpmiInformationProducer, InstallsARecordWithTheBaseAtOffset120) {
  host::Platform Board;
  ASSERT_EQ(host::InstallOemIpmiInformation(Board, 0x123456789ull), EFI_SUCCESS);
  VOID *Interface = nullptr;
  ASSERT_EQ(Board.BootServices()->LocateProtocol(&gOemIpmiInformationProtocolGuid, nullptr, &Interface),
            EFI_SUCCESS);
  ASSERT_NE(Interface, nullptr);
  UINT64 AtOffset = 0;
  std::memcpy(&AtOffset, static_cast<UINT8 *>(Interface) + OEM_IPMI_INFORMATION_BMC_MEMORY_BASE_OFFSET,
              sizeof(AtOffset));
  EXPECT_EQ(AtOffset, 0x123456789ull);
  const auto *Record = static_cast<const host::OEM_IPMI_INFORMATION_RECORD *>(Interface);
  EXPECT_EQ(Record->Revision, host::OEM_IPMI_INFORMATION_REVISION);
  EXPECT_EQ(Record->InterfaceType, host::OEM_IPMI_INTERFACE_KCS);
  EXPECT_GE(Record->SelBufferBase, AtOffset);
  EXPECT_LT(Record->SelBufferBase, AtOffset + Record->BmcMemorySize);
}

TEST(IpmiInformationProducer, EachInstallationHasItsOwnRecordAndHandle) {
  host::Platform Board;
  ASSERT_EQ(host::InstallOemIpmiInformation(Board, 0x1111ull), EFI_SUCCESS);
  ASSERT_EQ(host::InstallOemIpmiInformation(Board, 0x2222ull), EFI_SUCCESS);
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  ASSERT_EQ(Board.BootServices()->LocateHandleBuffer(ByProtocol, &gOemIpmiInformationProtocolGuid, nullptr,
                                                     &Count, &Handles),
            EFI_SUCCESS);
  ASSERT_EQ(Count, 2u);
  std::vector<UINT64> Bases;
  for (UINTN Index = 0; Index < Count; Index++) {
    VOID *Interface = nullptr;
    ASSERT_EQ(
        Board.BootServices()->HandleProtocol(Handles[Index], &gOemIpmiInformationProtocolGuid, &Interface),
        EFI_SUCCESS);
    Bases.push_back(static_cast<OEM_IPMI_INFORMATION_PROTOCOL *>(Interface)->BmcMemoryBase);
  }
  Board.BootServices()->FreePool(Handles);
  std::sort(Bases.begin(), Bases.end());
  EXPECT_EQ(Bases, (std::vector<UINT64>{0x1111ull, 0x2222ull}));
}

} // namespace
