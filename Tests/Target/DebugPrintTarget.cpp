// DebugPrint in real AArch64 firmware: DebugPrintProbe prints through the images' DebugLib, and
// GnuDebugOutput, whose argument walk is built by the GNU AArch64 tool chain like the board's
// firmware, produces the debug-output protocol. The text it prints is what that firmware reads
// from the argument list the image handed over.
#include "QemuHarness.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr char RUN_PROBE[] = "fs0:\\DebugPrintProbe.efi";
constexpr char LOAD_PRODUCER[] = "load fs0:\\GnuDebugOutput.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char DONE_LINE[] = "DebugPrintProbe: done";

TEST(DebugPrintTarget, GnuBuiltProducerReadsEveryArgumentTheImageHandsOver) {
  if (!fs::exists(target::ImagePath("DebugPrintProbe")) || !fs::exists(target::ImagePath("GnuDebugOutput"))) {
    GTEST_SKIP() << "no DebugPrintProbe or GnuDebugOutput image in " << target::ImageDir()
                 << ": build the uefi-aarch64 preset first (GnuDebugOutput needs gcc-aarch64-linux-gnu)";
  }
  target::ShellRunOptions Options;
  Options.Files = {target::ImagePath("DebugPrintProbe"), target::ImagePath("GnuDebugOutput")};
  // First without a producer (every message is dropped), then with one.
  Options.Commands = {RUN_PROBE,        PRINT_LAST_ERROR, LOAD_PRODUCER,
                      PRINT_LAST_ERROR, RUN_PROBE,        PRINT_LAST_ERROR};
  target::ShellRun Run = target::RunUefiShell("DebugPrintTarget", Options);
  const std::string Describe = "exit status " + std::to_string(Run.ExitStatus) + ", work folder " +
                               Run.WorkDir.string() + ", console:\n" + Run.Console;

  ASSERT_EQ(Run.ExitStatus, 0) << Describe;
  EXPECT_EQ(Run.OutputOf(RUN_PROBE, 0), std::vector<std::string>{DONE_LINE}) << Describe;
  EXPECT_EQ(Run.OutputOf(LOAD_PRODUCER).size(), 1u) << Describe;
  for (size_t Occurrence = 0; Occurrence < 3; Occurrence++) {
    EXPECT_EQ(Run.OutputOf(PRINT_LAST_ERROR, Occurrence), std::vector<std::string>{"0x0"}) << Describe;
  }
  // The DEBUG_INFO message stays filtered; the last one has fourteen arguments, most of them
  // beyond the argument registers.
  EXPECT_EQ(
      Run.OutputOf(RUN_PROBE, 1),
      (std::vector<std::string>{
          "DebugPrintProbe: no arguments",
          "DebugPrintProbe: a=text d=-42 x=beef lx=123456789abcdef0 r=EFI_NOT_FOUND",
          "DebugPrintProbe: one 1 2 300000004 EFI_SUCCESS six -7 ffffffff fedcba9876543210 EFI_UNSUPPORTED "
          "000000ab [    42] z",
          DONE_LINE}))
      << Describe;
}

} // namespace
