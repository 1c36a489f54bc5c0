// Vaultcell in real AArch64 firmware: loaded from the UEFI shell, its constructors create the
// virtual-address-change events and its entry installs EEPROM_MAC_PROTOCOL, touching no
// hardware (the EEPROM is read only when a consumer calls the protocol).
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;

constexpr char LOAD_VAULTCELL[] = "load fs0:\\Vaultcell.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char LIST_PROTOCOL[] = "dh -p 3C7837C4-30B0-4334-BB77-04B2FF13B8B0";

std::string Describe(const target::ShellRun &Run) {
  return "exit status " + std::to_string(Run.ExitStatus) + ", work folder " + Run.WorkDir.string() +
         ", console:\n" + Run.Console;
}

TEST(VaultcellTarget, LoadsAndInstallsItsProtocol) {
  if (!fs::exists(target::ImagePath("Vaultcell"))) {
    GTEST_SKIP() << "no Vaultcell image in " << target::ImageDir() << ": build the uefi-aarch64 preset first";
  }
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("Vaultcell")};
  Options.Commands = {LOAD_VAULTCELL, PRINT_LAST_ERROR, LIST_PROTOCOL};
  const target::ShellRun Run = target::RunUefiShell("VaultcellLoad", Options);

  ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
  const std::vector<std::string> Loaded = Run.OutputOf(LOAD_VAULTCELL);
  EXPECT_TRUE(std::any_of(Loaded.begin(), Loaded.end(), [](const std::string &Line) {
    return Line.find("Success") != std::string::npos;
  })) << Describe(Run);
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(Run);
  // "Handle dump by protocol '...'" and then one "<handle>: <GUID>" line per handle.
  const std::vector<std::string> Handles = Run.OutputOf(LIST_PROTOCOL);
  EXPECT_EQ(std::count_if(Handles.begin(), Handles.end(),
                          [](const std::string &Line) {
                            return Line.find(": 3C7837C4-30B0-4334-BB77-04B2FF13B8B0") != std::string::npos;
                          }),
            1)
      << Describe(Run);
}

} // namespace
