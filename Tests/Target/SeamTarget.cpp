// The AArch64 MMIO, timer and processor libraries in real firmware under QEMU: SeamProbe runs
// them from the UEFI shell (one boot for the whole suite) and every check reads what it printed.
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <regex>

namespace {

namespace fs = std::filesystem;

constexpr char RUN_PROBE[] = "fs0:\\SeamProbe.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";

class SeamTarget : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(target::ImagePath("SeamProbe"))) {
      return;
    }
    target::ShellRunOptions Options;
    Options.Files = {target::ImagePath("SeamProbe")};
    Options.Commands = {RUN_PROBE, PRINT_LAST_ERROR};
    Run = new target::ShellRun(target::RunUefiShell("SeamTarget", Options));
  }
  static void TearDownTestSuite() {
    delete Run;
    Run = nullptr;
  }

  void SetUp() override {
    if (Run == nullptr) {
      GTEST_SKIP() << "no SeamProbe image in " << target::ImageDir()
                   << ": build the uefi-aarch64 preset first";
    }
    ASSERT_EQ(Run->ExitStatus, 0) << Describe();
  }

  static std::string Describe() {
    return "exit status " + std::to_string(Run->ExitStatus) + ", work folder " + Run->WorkDir.string() +
           ", console:\n" + Run->Console;
  }

  // The probe's lines that start with Prefix, in order.
  static std::vector<std::string> LinesStartingWith(const std::string &Prefix) {
    std::vector<std::string> Found;
    for (const std::string &Line : Run->OutputOf(RUN_PROBE)) {
      if (Line.rfind(Prefix, 0) == 0) {
        Found.push_back(Line);
      }
    }
    return Found;
  }

  // The value of "Name=value" on the probe's first line starting with Prefix.
  static std::optional<std::string> Field(const std::string &Prefix, const std::string &Name) {
    const std::vector<std::string> Lines = LinesStartingWith(Prefix);
    std::smatch Match;
    const std::regex Pattern("(^|\\s)" + Name + "=(\\S+)");
    if (Lines.empty() || !std::regex_search(Lines.front(), Match, Pattern)) {
      return std::nullopt;
    }
    return Match[2].str();
  }

  static std::optional<uint64_t> Number(const std::string &Prefix, const std::string &Name) {
    const std::optional<std::string> Text = Field(Prefix, Name);
    if (!Text) {
      return std::nullopt;
    }
    return std::stoull(*Text, nullptr, 0);
  }

  // Microseconds the probe measured for Label, checked within [Low, High].
  static void ExpectMicroseconds(const std::string &Label, uint64_t Low, uint64_t High) {
    const std::optional<uint64_t> Measured = Number("TimerLib: " + Label + " ", "us");
    ASSERT_TRUE(Measured.has_value()) << Label << "\n" << Describe();
    EXPECT_GE(*Measured, Low) << Label << "\n" << Describe();
    EXPECT_LE(*Measured, High) << Label << "\n" << Describe();
  }

  static inline target::ShellRun *Run = nullptr;
};

TEST_F(SeamTarget, ProbeRunsToTheEndAtAKnownExceptionLevel) {
  EXPECT_EQ(LinesStartingWith("Probe: done").size(), 1u) << Describe();
  EXPECT_EQ(Run->OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe();
  const std::optional<uint64_t> Level = Number("Probe: CurrentEL", "CurrentEL");
  ASSERT_TRUE(Level.has_value()) << Describe();
  EXPECT_TRUE(*Level == 1 || *Level == 2) << *Level;
}

TEST_F(SeamTarget, MmioReadsTheUartIdentification) {
  EXPECT_EQ(Field("IoLib: pl011", "pl011-periph-id"), "11101400") << Describe();
  EXPECT_EQ(Field("IoLib: pl011", "pl011-cell-id"), "0df005b1") << Describe();
  EXPECT_EQ(Field("IoLib: read8", "read8"), "0x11") << Describe();
  EXPECT_EQ(Field("IoLib: read8", "read16"), "0x11") << Describe();
}

TEST_F(SeamTarget, MmioWidthsAndReadModifyWriteOnMemory) {
  // Little-endian byte order, a 16-bit write touching only its two bytes, and each helper
  // returning the value it wrote.
  EXPECT_EQ(Field("IoLib: ram-bytes", "ram-bytes"), "78563412") << Describe();
  EXPECT_EQ(Field("IoLib: ram-bytes", "ram64"), "0x123456789abbeef") << Describe();
  EXPECT_EQ(Field("IoLib: ram-bytes", "or"), "0xf0f0f0ff") << Describe();
  EXPECT_EQ(Field("IoLib: ram-bytes", "and"), "0xf0f00000") << Describe();
  EXPECT_EQ(Field("IoLib: ram-bytes", "andthenor"), "0xaf00000") << Describe();
}

TEST_F(SeamTarget, CounterPropertiesDescribeATickingCounter) {
  EXPECT_EQ(Field("TimerLib: constructor", "constructor"), "EFI_SUCCESS") << Describe();
  EXPECT_GT(Number("TimerLib: constructor", "frequency").value_or(0), 0u) << Describe();
  EXPECT_EQ(Field("TimerLib: constructor", "start"), "0x0") << Describe();
  EXPECT_EQ(Field("TimerLib: constructor", "end"), "0xffffffffffffffff") << Describe();
}

TEST_F(SeamTarget, DelaysLastAtLeastWhatWasAskedAndNotFarMore) {
  // The counter that measures is the one the delays wait on: never shorter. The upper bounds
  // leave room for an emulator on a loaded two-core machine, which may not run for a second
  // (the counter follows the host's clock); a wrong frequency is caught against the RTC below.
  ExpectMicroseconds("MicroSecondDelay", 100000, 2000000);
  ExpectMicroseconds("NanoSecondDelay", 50000, 1000000);
  // The firmware's own stall, measured with this counter: the two agree on the frequency.
  ExpectMicroseconds("Stall", 90000, 2000000);
}

TEST_F(SeamTarget, CounterFrequencyAgreesWithTheRealTimeClock) {
  // Two RTC seconds; noticing an RTC tick late (the emulator not running) moves either end by
  // up to a second's fraction, a counter at half or twice its frequency stays outside.
  ASSERT_EQ(Field("TimerLib: rtc", "rtc-seconds"), "2") << Describe();
  ExpectMicroseconds("rtc-seconds=2", 1200000, 3800000);
}

TEST_F(SeamTarget, InterruptMaskRoundTripsAndMatchesTheFirmwares) {
  const std::string Line = "ArmLib: interrupts";
  const std::optional<std::string> Initial = Field(Line, "initial");
  ASSERT_TRUE(Initial.has_value()) << Describe();
  EXPECT_EQ(Field(Line, "disabled"), "0") << Describe();
  EXPECT_EQ(Field(Line, "enabled"), "1") << Describe();
  EXPECT_EQ(Field(Line, "restored"), Initial) << Describe();
  EXPECT_EQ(Field(Line, "tpl-high"), "0") << Describe();
  EXPECT_EQ(Field(Line, "tpl-restored"), Initial) << Describe();
}

TEST_F(SeamTarget, InstructionCacheSwitchActsOnTheCurrentLevel) {
  EXPECT_EQ(Field("ArmLib: icache-off", "I"), "0") << Describe();
  const std::vector<std::string> Line = LinesStartingWith("ArmLib: icache-off");
  ASSERT_EQ(Line.size(), 1u) << Describe();
  EXPECT_NE(Line.front().find("icache-on I=1"), std::string::npos) << Describe();
}

TEST_F(SeamTarget, ControlRegisterIsUnchangedByTheProbe) {
  const std::vector<std::string> Before = LinesStartingWith("ArmLib: sctlr-before");
  const std::vector<std::string> After = LinesStartingWith("ArmLib: sctlr-after");
  EXPECT_EQ(Before, std::vector<std::string>{"ArmLib: sctlr-before M=1 C=1 I=1"}) << Describe();
  EXPECT_EQ(After, std::vector<std::string>{"ArmLib: sctlr-after M=1 C=1 I=1"}) << Describe();
}

TEST_F(SeamTarget, CacheWalkCoversTheCortexA57Levels) {
  // QEMU's Cortex-A57: 32 KiB 2-way L1 data cache, 2 MiB 16-way L2, 64-byte lines.
  EXPECT_EQ(Number("ArmLib: clidr", "loc"), 2u) << Describe();
  EXPECT_EQ(LinesStartingWith("ArmLib: level="),
            (std::vector<std::string>{"ArmLib: level=1 type=3 line=64 ways=2 sets=256",
                                      "ArmLib: level=2 type=4 line=64 ways=16 sets=2048"}))
      << Describe();
}

TEST_F(SeamTarget, CacheMaintenanceKeepsDataAndPublishesWrittenCode) {
  EXPECT_EQ(LinesStartingWith("ArmLib: clean-invalidate"),
            std::vector<std::string>{"ArmLib: clean-invalidate pattern-intact=1 clean pattern-intact=1"})
      << Describe();
  // QEMU's Cortex-A57: implementer 0x41, variant 1, part 0xD07, revision 0.
  EXPECT_EQ(Field("ArmLib: midr", "midr"), "0x411fd070") << Describe();
  EXPECT_TRUE(Field("ArmLib: midr", "revidr").has_value()) << Describe();
  EXPECT_EQ(Field("ArmLib: code", "first"), "0x2a") << Describe();
  EXPECT_EQ(Field("ArmLib: code", "second"), "0x2b") << Describe();
  EXPECT_EQ(LinesStartingWith("ArmLib: barriers done").size(), 1u) << Describe();
}

} // namespace
