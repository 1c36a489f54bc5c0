// Mgmtprobe in real AArch64 firmware: run from the UEFI shell without and with a producer of
// the IPMI information protocol (the IpmiStub test driver).
#include "Drivers/IpmiStub/IpmiStub.h"
#include "QemuHarness.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr char RUN_MGMTPROBE[] = "fs0:\\Mgmtprobe.efi";
constexpr char LOAD_IPMI_STUB[] = "load fs0:\\IpmiStub.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char INITIAL_LINE[] = "Get BMC base memory tool initial. ";

// The text below spells the stub's value; keep the two together.
static_assert(IPMI_STUB_BMC_MEMORY_BASE == 0x0000000089ABCDEFull);
constexpr char STUB_BASE_LINE[] = "BMC_memory = 0000000089ABCDEF";

class MgmtprobeTarget : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::is_directory(target::ImageDir())) {
      GTEST_SKIP() << "no image directory " << target::ImageDir() << ": build the uefi-aarch64 preset first";
    }
  }

  static std::string Describe(const target::ShellRun &Run) {
    return "exit status " + std::to_string(Run.ExitStatus) + ", work folder " + Run.WorkDir.string() +
           ", console:\n" + Run.Console;
  }
};

TEST_F(MgmtprobeTarget, WithoutProducerPrintsTheErrorAndExitsWithSuccess) {
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("Mgmtprobe")};
  Options.Commands = {RUN_MGMTPROBE, PRINT_LAST_ERROR};
  target::ShellRun Run = target::RunUefiShell("MgmtprobeWithoutProducer", Options);

  ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
  ASSERT_TRUE(Run.Ran(RUN_MGMTPROBE)) << Describe(Run);
  EXPECT_EQ(Run.OutputOf(RUN_MGMTPROBE),
            (std::vector<std::string>{INITIAL_LINE, "Locate Oem Ipmi Information Protocol error. "}))
      << Describe(Run);
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(Run);
}

TEST_F(MgmtprobeTarget, WithTheStubDriverPrintsItsBase) {
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("Mgmtprobe"), target::ImagePath("IpmiStub")};
  Options.Commands = {LOAD_IPMI_STUB, PRINT_LAST_ERROR, RUN_MGMTPROBE, PRINT_LAST_ERROR};
  target::ShellRun Run = target::RunUefiShell("MgmtprobeWithStub", Options);

  ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR, 0), (std::vector<std::string>{"0x0"})) << "IpmiStub did not load\n"
                                                                                  << Describe(Run);
  EXPECT_EQ(Run.OutputOf(RUN_MGMTPROBE), (std::vector<std::string>{INITIAL_LINE, STUB_BASE_LINE}))
      << Describe(Run);
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR, 1), (std::vector<std::string>{"0x0"})) << Describe(Run);
}

} // namespace
