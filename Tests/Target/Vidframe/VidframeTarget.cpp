// Vidframe in real AArch64 firmware: loaded from the UEFI shell, its entry installs the driver
// binding (version 0x10105) with the component names the shell's driver list shows; connecting
// every controller then starts it on none, because QEMU has no BMC VGA function, and the shell
// goes on. Gopdemo then draws through the Graphics Output the firmware gives a QEMU display.
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;

constexpr char LOAD_VIDFRAME[] = "load fs0:\\Vidframe.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char LIST_DRIVERS[] = "drivers";
constexpr char CONNECT_ALL[] = "connect -r";
constexpr char DONE[] = "echo connected";

std::string Describe(const target::ShellRun &Run) {
  return "exit status " + std::to_string(Run.ExitStatus) + ", work folder " + Run.WorkDir.string() +
         ", console:\n" + Run.Console;
}

bool AnyLineHas(const std::vector<std::string> &Lines, const std::string &Text) {
  return std::any_of(Lines.begin(), Lines.end(),
                     [&](const std::string &Line) { return Line.find(Text) != std::string::npos; });
}

TEST(VidframeTarget, LoadsInstallsItsBindingAndStartsOnNothing) {
  if (!fs::exists(target::ImagePath("Vidframe"))) {
    GTEST_SKIP() << "no Vidframe image in " << target::ImageDir() << ": build the uefi-aarch64 preset first";
  }
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("Vidframe")};
  Options.Commands = {LOAD_VIDFRAME, PRINT_LAST_ERROR, LIST_DRIVERS, CONNECT_ALL, DONE};
  const target::ShellRun Run = target::RunUefiShell("VidframeLoad", Options);

  ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
  EXPECT_TRUE(AnyLineHas(Run.OutputOf(LOAD_VIDFRAME), "Success")) << Describe(Run);
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(Run);
  // One line per driver: handle, version, type, configuration, diagnostics, children, name.
  const std::vector<std::string> Drivers = Run.OutputOf(LIST_DRIVERS);
  const auto Line = std::find_if(Drivers.begin(), Drivers.end(), [](const std::string &L) {
    return L.find("Vantor Graphics Driver") != std::string::npos;
  });
  ASSERT_NE(Line, Drivers.end()) << Describe(Run);
  EXPECT_NE(Line->find("00010105"), std::string::npos) << *Line;
  EXPECT_EQ(Run.OutputOf(DONE), (std::vector<std::string>{"connected"})) << Describe(Run);
}

// The firmware drives QEMU's ramfb display with its own Graphics Output (its text console shares
// it): every step of the demo succeeds, the 2D copy reads back equal to its source.
TEST(GopdemoTarget, DrawsOnTheFirmwaresDisplay) {
  if (!fs::exists(target::ImagePath("Gopdemo"))) {
    GTEST_SKIP() << "no Gopdemo image in " << target::ImageDir() << ": build the uefi-aarch64 preset first";
  }
  constexpr char RUN_GOPDEMO[] = "fs0:\\Gopdemo.efi";
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("Gopdemo")};
  Options.Devices = {"ramfb"};
  Options.Commands = {RUN_GOPDEMO, PRINT_LAST_ERROR};
  const target::ShellRun Run = target::RunUefiShell("GopdemoRamfb", Options);

  ASSERT_EQ(Run.ExitStatus, 0) << Describe(Run);
  const std::vector<std::string> Output = Run.OutputOf(RUN_GOPDEMO);
  ASSERT_EQ(Output.size(), 6u) << Describe(Run);
  EXPECT_NE(Output[0].find("Gopdemo: mode "), std::string::npos) << Describe(Run);
  for (size_t Step = 1; Step < Output.size(); Step++) {
    EXPECT_NE(Output[Step].find(": EFI_SUCCESS"), std::string::npos) << Output[Step];
  }
  EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe(Run);
}

} // namespace
