// Nicpatch in real AArch64 firmware under QEMU. NicpatchStub puts the board's DSDT in place
// of the firmware's and installs stand-ins for the EEPROM MAC service and the ACPI Support
// protocol; Nicpatch then runs against the firmware's own ACPI SDT protocol and variable
// store, and NicpatchReadback prints what it left behind. Two boots share one variable store:
// the first creates the switch off, the shell's setvar turns the setup copy on, and the
// second boot publishes the addresses.
#include "Drivers/NicpatchStub/NicpatchStub.h"
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;

constexpr char LOAD_STUB[] = "load fs0:\\NicpatchStub.efi";
constexpr char LOAD_NICPATCH[] = "load fs0:\\Nicpatch.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char READBACK[] = "fs0:\\NicpatchReadback.efi";
constexpr char SET_SETUP_SWITCH[] =
    "setvar NicpatchSetupSwitchVar -guid 52350268-C2D5-4687-A2A6-B65E2352DDCB -nv -bs -rt =01";
constexpr char PLACEHOLDER[] = "00:00:00:00:00:00";

class NicpatchTarget : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(target::ImagePath("Nicpatch")) || !fs::exists(target::ImagePath("NicpatchStub"))) {
      return;
    }
    const fs::path Vars = target::WorkDirFor("NicpatchTargetVars") / "vars.fd";
    target::ShellRunOptions Options;
    Options.Files = {target::ImagePath("NicpatchStub"), target::ImagePath("Nicpatch"),
                     target::ImagePath("NicpatchReadback")};
    Options.Vars = Vars;
    Options.Commands = {LOAD_STUB, LOAD_NICPATCH, PRINT_LAST_ERROR, READBACK, SET_SETUP_SWITCH};
    First = new target::ShellRun(target::RunUefiShell("NicpatchTargetBoot1", Options));
    Options.Commands = {LOAD_STUB, LOAD_NICPATCH, PRINT_LAST_ERROR, READBACK};
    Second = new target::ShellRun(target::RunUefiShell("NicpatchTargetBoot2", Options));
  }
  static void TearDownTestSuite() {
    delete First;
    delete Second;
    First = Second = nullptr;
  }

  void SetUp() override {
    if (First == nullptr) {
      GTEST_SKIP() << "no Nicpatch images in " << target::ImageDir()
                   << ": build the uefi-aarch64 preset first";
    }
    ASSERT_EQ(First->ExitStatus, 0) << Describe(*First);
    ASSERT_EQ(Second->ExitStatus, 0) << Describe(*Second);
  }

  static std::string Describe(const target::ShellRun &Run) {
    return "exit status " + std::to_string(Run.ExitStatus) + ", work folder " + Run.WorkDir.string() +
           ", console:\n" + Run.Console;
  }

  static bool Printed(const target::ShellRun &Run, const std::string &Command, const std::string &Line) {
    const std::vector<std::string> Lines = Run.OutputOf(Command);
    return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
  }

  static std::string PortLine(unsigned Unit, const std::string &Text) {
    return "ETH" + std::to_string(Unit) + " local-mac-address: " + Text;
  }

  static inline target::ShellRun *First = nullptr;
  static inline target::ShellRun *Second = nullptr;
};

TEST_F(NicpatchTarget, StubPutsTheBoardDsdtInPlace) {
  for (const target::ShellRun *Run : {First, Second}) {
    const std::vector<std::string> Lines = Run->OutputOf(LOAD_STUB);
    const bool Installed = std::any_of(Lines.begin(), Lines.end(), [](const std::string &Line) {
      return Line == "NicpatchStub: board DSDT installed with InstallAcpiTable: EFI_SUCCESS" ||
             Line == "NicpatchStub: board DSDT linked into the FADT: EFI_SUCCESS";
    });
    EXPECT_TRUE(Installed) << Describe(*Run);
  }
}

TEST_F(NicpatchTarget, FirstBootCreatesTheSwitchOffAndLeavesTheDsdt) {
  EXPECT_EQ(First->OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(*First);
  EXPECT_TRUE(Printed(*First, READBACK, "Switch: C=0 P=0 T=0")) << Describe(*First);
  EXPECT_TRUE(Printed(*First, READBACK, "DSDT checksum: valid")) << Describe(*First);
  for (unsigned Unit = 0; Unit <= 8; Unit++) {
    EXPECT_TRUE(Printed(*First, READBACK, PortLine(Unit, PLACEHOLDER))) << Unit << "\n" << Describe(*First);
  }
  EXPECT_TRUE(Printed(*First, READBACK, "MAC0: -")) << Describe(*First);
}

TEST_F(NicpatchTarget, SecondBootReconcilesTheSwitchOn) {
  EXPECT_TRUE(Printed(*Second, READBACK, "Switch: C=1 P=1 T=1")) << Describe(*Second);
  // The table preparation ran: every slot without a stored text got its placeholder or more.
  EXPECT_FALSE(Printed(*Second, READBACK, "MAC4: -")) << Describe(*Second);
}

TEST_F(NicpatchTarget, SecondBootPublishesTheAddressesWithAValidChecksum) {
  EXPECT_EQ(Second->OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, "DSDT checksum: valid")) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(0, NICPATCH_STUB_MAC_SLOT1))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(1, NICPATCH_STUB_MAC_SLOT2))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(4, NICPATCH_STUB_MAC_SLOT5))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(5, NICPATCH_STUB_MAC_SLOT6))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(2, "00:11:22:33:44:58"))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, PortLine(8, "00:11:22:33:44:55"))) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, "MAC1: " NICPATCH_STUB_MAC_SLOT1)) << Describe(*Second);
  EXPECT_TRUE(Printed(*Second, READBACK, "MAC0: 00:11:22:33:44:55")) << Describe(*Second);
}

} // namespace
