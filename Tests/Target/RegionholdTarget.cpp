// Regionhold in real AArch64 firmware: the GCD descriptors of the six ranges before and after
// the driver is loaded from the shell (GcdReadback), and the shell's memory map afterwards.
// The firmware's own map already describes part of that space, so what the driver must
// change follows from the "before" line of each range:
//   - not in the map: added as MMIO with capabilities 0x800000000000100D and claimed;
//   - in the map, unowned: the add fails, the range is claimed with the type it has;
//   - owned by another image: left to that owner.
// Claimed ranges belong to \Regionhold.efi and carry EFI_MEMORY_RUNTIME. (Debian's firmware on
// QEMU's virt machine has its PCI MMIO aperture, 0x10100000-0x3F000000, in the map as unowned
// MMIO: all six adds fail and all six ranges are claimed as MMIO.)
#include "QemuHarness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <regex>

namespace {

namespace fs = std::filesystem;

constexpr char READBACK[] = "fs0:\\GcdReadback.efi";
constexpr char LOAD_REGIONHOLD[] = "load fs0:\\Regionhold.efi";
constexpr char PRINT_LAST_ERROR[] = "echo %lasterror%";
constexpr char MEMMAP[] = "memmap";

constexpr uint64_t kMmio = 3;
constexpr uint64_t kCapabilities = 0x800000000000100Dull;
constexpr uint64_t kRuntime = 0x8000000000000000ull;
constexpr char kOwner[] = "\\Regionhold.efi";

struct Range {
  uint64_t Base, Length;
};
const std::vector<Range> kRows = {{0x1C025000, 0x1000}, {0x10510000, 0x3000}, {0x17000000, 0x2000},
                                  {0x1C020000, 0x1000}, {0x1C021000, 0x1000}, {0x10540000, 0xA000}};

struct Descriptor {
  uint64_t Base = 0, End = 0, Type = 0, Capabilities = 0, Attributes = 0;
  std::string Owner;
};

// The readback line of Base in the Occurrence-th run of the readback application.
std::optional<Descriptor> Read(const target::ShellRun &Run, size_t Occurrence, uint64_t Base) {
  char Prefix[40];
  std::snprintf(Prefix, sizeof(Prefix), "GCD %llX: ", (unsigned long long)Base);
  static const std::regex Pattern(
      "desc=([0-9A-F]+)-([0-9A-F]+) type=([0-9]+) caps=([0-9A-F]+) attrs=([0-9A-F]+) owner=(\\S+)");
  for (const std::string &Line : Run.OutputOf(READBACK, Occurrence)) {
    std::smatch Match;
    if (Line.rfind(Prefix, 0) == 0 && std::regex_search(Line, Match, Pattern)) {
      return Descriptor{std::stoull(Match[1].str(), nullptr, 16),
                        std::stoull(Match[2].str(), nullptr, 16),
                        std::stoull(Match[3].str()),
                        std::stoull(Match[4].str(), nullptr, 16),
                        std::stoull(Match[5].str(), nullptr, 16),
                        Match[6].str()};
    }
  }
  return std::nullopt;
}

class RegionholdTarget : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!fs::exists(target::ImagePath("Regionhold")) || !fs::exists(target::ImagePath("GcdReadback"))) {
      return;
    }
    target::ShellRunOptions Options;
    Options.Files = {target::ImagePath("Regionhold"), target::ImagePath("GcdReadback")};
    Options.Commands = {READBACK, LOAD_REGIONHOLD, PRINT_LAST_ERROR, READBACK, MEMMAP};
    Run = new target::ShellRun(target::RunUefiShell("RegionholdTarget", Options));
  }
  static void TearDownTestSuite() {
    delete Run;
    Run = nullptr;
  }
  void SetUp() override {
    if (Run == nullptr) {
      GTEST_SKIP() << "no Regionhold/GcdReadback image in " << target::ImageDir()
                   << ": build the uefi-aarch64 preset first";
    }
    ASSERT_EQ(Run->ExitStatus, 0) << Describe();
  }
  static std::string Describe() {
    return "exit status " + std::to_string(Run->ExitStatus) + ", work folder " + Run->WorkDir.string() +
           ", console:\n" + Run->Console;
  }
  static inline target::ShellRun *Run = nullptr;
};

TEST_F(RegionholdTarget, LoadsAndReturnsSuccess) {
  ASSERT_TRUE(Run->Ran(LOAD_REGIONHOLD)) << Describe();
  EXPECT_EQ(Run->OutputOf(PRINT_LAST_ERROR), (std::vector<std::string>{"0x0"})) << Describe();
  EXPECT_TRUE(Run->Ran(MEMMAP)) << Describe();
}

TEST_F(RegionholdTarget, EachRangeEndsAsTheAlgorithmGivesForTheFirmwaresMap) {
  for (const Range &Row : kRows) {
    SCOPED_TRACE(testing::Message() << std::hex << Row.Base);
    const std::optional<Descriptor> Before = Read(*Run, 0, Row.Base);
    const std::optional<Descriptor> After = Read(*Run, 1, Row.Base);
    ASSERT_TRUE(Before && After) << Describe();
    EXPECT_LE(After->Base, Row.Base);
    EXPECT_GE(After->End, Row.Base + Row.Length);
    if (Before->Owner != "none") {
      EXPECT_EQ(After->Owner, Before->Owner);
      EXPECT_EQ(After->Type, Before->Type);
      continue;
    }
    EXPECT_EQ(After->Owner, kOwner) << Describe();
    if (Before->Type == 0) {
      EXPECT_EQ(After->Type, kMmio);
      EXPECT_EQ(After->Capabilities, kCapabilities);
    } else {
      EXPECT_EQ(After->Type, Before->Type);
      EXPECT_EQ(After->Capabilities, Before->Capabilities);
    }
    EXPECT_NE(After->Attributes & kRuntime, 0u) << Describe();
  }
}

TEST_F(RegionholdTarget, MemoryMapListsTheRangesAsRuntimeMmio) {
  // memmap lines: "MMIO  <start>-<end>  <pages> <attributes>"
  static const std::regex Pattern("^MMIO\\s+([0-9A-F]+)-([0-9A-F]+)\\s+[0-9A-F]+\\s+([0-9A-F]+)");
  const std::vector<std::string> Lines = Run->OutputOf(MEMMAP);
  for (const Range &Row : kRows) {
    bool Covered = false;
    for (const std::string &Line : Lines) {
      std::smatch Match;
      if (std::regex_search(Line, Match, Pattern)) {
        const uint64_t Start = std::stoull(Match[1].str(), nullptr, 16);
        const uint64_t Last = std::stoull(Match[2].str(), nullptr, 16);
        const uint64_t Attributes = std::stoull(Match[3].str(), nullptr, 16);
        Covered |= Start <= Row.Base && Row.Base + Row.Length - 1 <= Last && (Attributes & kRuntime) != 0;
      }
    }
    EXPECT_TRUE(Covered) << std::hex << Row.Base << "\n" << Describe();
  }
}

} // namespace
