// Bridgemimic in real AArch64 firmware under QEMU: loaded from the shell, its root bridge is
// connected and the firmware's own PCI bus driver enumerates it; the shell's `pci` lists the
// emulated controllers on segment 0xFF, bus 0xFF. The firmware's drivers then bind to them;
// the shell must come back. One boot without the "Setup" variable (the assertion returns, as
// the firmware has no debug-output protocol, and the AHCI controllers stay hidden), one with
// both AHCI controllers enabled.
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr char LOAD_BRIDGEMIMIC[] = "load fs0:\\Bridgemimic.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char CONNECT_ALL[] = "connect -r";
constexpr char LIST_PCI[] = "pci";
constexpr char SHELL_IS_BACK[] = "echo shell is back";
constexpr char SETUP_GUID[] = "EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9";
constexpr size_t SETUP_SIZE = 100;
constexpr size_t AHCI2_BYTE = 8;
constexpr size_t AHCI3_BYTE = 9;

// `setvar` of a 100-byte "Setup" with the AHCI enable bytes set.
std::string SetSetupBothAhci() {
  std::string Hex;
  for (size_t Byte = 0; Byte < SETUP_SIZE; Byte++) {
    Hex += Byte == AHCI2_BYTE || Byte == AHCI3_BYTE ? "01" : "00";
  }
  return std::string("setvar Setup -guid ") + SETUP_GUID + " -nv -bs =" + Hex;
}

// The two lines `pci` prints for a function.
std::vector<std::string> Listing(const std::string &Device, const std::string &Class,
                                 const std::string &Ids) {
  return {"    FF   FF   " + Device + "    00 ==> " + Class, "             " + Ids};
}

const std::vector<std::string> XHCI4 =
    Listing("04", "Serial Bus Controllers - USB", "Vendor 10E8 Device 3530 Prog Interface 30");
const std::vector<std::string> XHCI5 =
    Listing("05", "Serial Bus Controllers - USB", "Vendor 10E8 Device 3531 Prog Interface 30");
const std::vector<std::string> AHCI2 = Listing("02", "Mass Storage Controller - Serial ATA controller",
                                               "Vendor A078 Device 5501 Prog Interface 1");
const std::vector<std::string> AHCI3 = Listing("03", "Mass Storage Controller - Serial ATA controller",
                                               "Vendor A078 Device 5502 Prog Interface 1");

class BridgemimicTarget : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(target::ImagePath("Bridgemimic"))) {
      return;
    }
    target::ShellRunOptions Options;
    Options.Files = {target::ImagePath("Bridgemimic")};
    Options.Commands = {LOAD_BRIDGEMIMIC, PRINT_LAST_ERROR, CONNECT_ALL, LIST_PCI, SHELL_IS_BACK};
    Fresh = new target::ShellRun(target::RunUefiShell("BridgemimicFresh", Options));
    Options.Commands.insert(Options.Commands.begin(), SetSetupBothAhci());
    WithAhci = new target::ShellRun(target::RunUefiShell("BridgemimicWithAhci", Options));
  }
  static void TearDownTestSuite() {
    delete Fresh;
    delete WithAhci;
    Fresh = WithAhci = nullptr;
  }

  void SetUp() override {
    if (Fresh == nullptr) {
      GTEST_SKIP() << "no Bridgemimic image in " << target::ImageDir()
                   << ": build the uefi-aarch64 preset first";
    }
  }

  static std::string Describe(const target::ShellRun &Run) {
    return "exit status " + std::to_string(Run.ExitStatus) + ", work folder " + Run.WorkDir.string() +
           ", console:\n" + Run.Console;
  }

  // Whether Lines holds Block as consecutive lines.
  static bool Holds(const std::vector<std::string> &Lines, const std::vector<std::string> &Block) {
    return std::search(Lines.begin(), Lines.end(), Block.begin(), Block.end()) != Lines.end();
  }

  static void ExpectLoadedAndBack(const target::ShellRun &Run) {
    ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
    EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(Run);
    EXPECT_EQ(Run.OutputOf(SHELL_IS_BACK), (std::vector<std::string>{"shell is back"})) << Describe(Run);
  }

  static target::ShellRun *Fresh;
  static target::ShellRun *WithAhci;
};

target::ShellRun *BridgemimicTarget::Fresh = nullptr;
target::ShellRun *BridgemimicTarget::WithAhci = nullptr;

TEST_F(BridgemimicTarget, FirmwareBusDriverListsTheXhciControllers) {
  ExpectLoadedAndBack(*Fresh);
  const std::vector<std::string> Pci = Fresh->OutputOf(LIST_PCI);
  EXPECT_TRUE(Holds(Pci, XHCI4)) << Describe(*Fresh);
  EXPECT_TRUE(Holds(Pci, XHCI5)) << Describe(*Fresh);
  EXPECT_FALSE(Holds(Pci, AHCI2)) << Describe(*Fresh);
  EXPECT_FALSE(Holds(Pci, AHCI3)) << Describe(*Fresh);
}

TEST_F(BridgemimicTarget, SetupEnablesTheAhciControllers) {
  ExpectLoadedAndBack(*WithAhci);
  const std::vector<std::string> Pci = WithAhci->OutputOf(LIST_PCI);
  for (const auto *Block : {&AHCI2, &AHCI3, &XHCI4, &XHCI5}) {
    EXPECT_TRUE(Holds(Pci, *Block)) << (*Block)[0] << "\n" << Describe(*WithAhci);
  }
}

} // namespace
