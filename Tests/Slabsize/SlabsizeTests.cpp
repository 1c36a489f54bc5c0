// Slabsize on the emulated board: the driver registers at entry and sizes the L3 inside
// ExitBootServices. The block models check their own rules (violations); the tests check what
// was programmed, what the console UART printed and the processor operations.
#include "BoardCheck.h"

#include <Board.h>
#include <HostPlatform.h>
#include <L3c/L3cModels.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using host::L3cAccess;

// The processor shutdown in its order, before any register of the L3 blocks is touched.
const std::vector<std::string> kShutdown = {
    "ArmDisableInterrupts",          "ArmDisableFiq",          "ArmCleanDataCache",
    "ArmDisableDataCache",           "ArmInvalidateDataCache", "ArmDisableInstructionCache",
    "ArmInvalidateInstructionCache", "ArmDisableMmu"};

struct Case {
  const char *Name;
  std::map<std::string, std::string> Settings;
  std::map<std::string, std::string> Faults;
  bool BlockADone = false;
  // Expected:
  std::vector<uint32_t> ConfigurationWrites; // plain writes to the configuration register
  std::optional<uint32_t> Command;
  bool BlockBSequence = true;
  bool ProductionWrites = true; // +0x08 = 0xFFFF and the bit-16 set
  std::string Serial;
  uint32_t SizedMb = 0;
};

// How Slabsize runs: its shared object, or its AArch64 image on the processor at EL2 or EL1.
struct Images {
  const char *Name;
  unsigned ExceptionLevel = 0;    // 0: the host build
  const char *OnlyCase = nullptr; // the one case run this way; none: every case
};
constexpr Images kImages[] = {
    {"host build"}, {"Slabsize.efi at EL2", 2}, {"Slabsize.efi at EL1", 1, "efuse 0b0000: 8 MB"}};

// A board with the given options; Regionhold claims the console UART's range first, as the board
// dispatches, then Slabsize is the only other module dispatched.
class SlabsizeBoard {
public:
  SlabsizeBoard(const Case &Test, const Images &Run) {
    host::PlatformOptions Settings;
    Settings.WatchdogNs = 5'000'000'000ull;
    if (Run.ExceptionLevel != 0) {
      Settings.Aarch64Images = true;
      Settings.Aarch64ImageDir = UEFI_IMAGE_DIR_DEFAULT;
      Settings.ExceptionLevel = Run.ExceptionLevel;
    }
    Core = std::make_unique<host::Platform>(Settings);
    host::BoardOptions Options;
    Options.Settings = Test.Settings;
    Options.Faults = Test.Faults;
    Options.Modules = {"Regionhold", "Slabsize"};
    Board = host::Board::Build(*Core, Options);
    Log = Board->Producer<host::L3cAccessLog>(host::kL3cAccessLog);
  }

  std::vector<L3cAccess> Writes(const std::string &Block, uint64_t Offset) const {
    std::vector<L3cAccess> Found;
    for (const L3cAccess &Access : Log->Of(Block)) {
      if (Access.IsWrite && Access.Offset == Offset) {
        Found.push_back(Access);
      }
    }
    return Found;
  }

  std::unique_ptr<host::Platform> Core;
  std::unique_ptr<host::Board> Board;
  host::L3cAccessLog *Log = nullptr;
};

std::vector<uint32_t> Values(const std::vector<L3cAccess> &Accesses) {
  std::vector<uint32_t> Result;
  for (const L3cAccess &Access : Accesses) {
    Result.push_back(static_cast<uint32_t>(Access.Value));
  }
  return Result;
}

void CheckHandOver(const Case &Test, const Images &Run);

// Every case in both builds: the AArch64 image's instructions leave the operations and the L3
// writes the host build's ArmLib calls leave, at either exception level.
TEST(Slabsize, SizesTheL3AtTheHandOver) {
  const std::map<std::string, std::string> Early = {{"cpu-revision", "r0p0:1"}};
  const std::vector<Case> Cases = {
      {"efuse 0b1111: no L3", {{"efuse", "0xF00"}}, {}, false, {}, std::nullopt, false, false, "", 0},
      {"efuse 0b0000: 8 MB", {}, {}, false, {0x80200000}, 0x12001F00, true, true, "L3c Cache: 8MB\n", 8},
      {"efuse 0b0101: 4 MB",
       {{"efuse", "0x500"}},
       {},
       false,
       {0x80100000},
       0x12000F00,
       true,
       true,
       "L3c Cache: 4MB\n",
       4},
      {"hardware 6 MB",
       {{"l3c-size", "6"}},
       {},
       false,
       {0x80180000},
       0x12001700,
       true,
       true,
       "L3c Cache: 6MB\n",
       6},
      {"hardware reports 0 MB", {{"l3c-size", "0"}}, {}, false, {}, std::nullopt, true, false, "", 0},
      {"block B already released",
       {},
       {},
       true,
       {0x80200000},
       0x12001F00,
       false,
       true,
       "L3c Cache: 8MB\n",
       8},
      {"early silicon", Early, {}, false, {0x80200000}, 0x12001F00, true, false, "L3c Cache: 8MB\n", 8},
      {"controller stays busy",
       {},
       {{"l3c-stuck-busy", ""}},
       false,
       {0x80200000},
       0x12001F00,
       true,
       false,
       "L3c Cache: not configured\n",
       0},
      {"UART never ready", {}, {{"uart0-not-ready", ""}}, false, {0x80200000}, 0x12001F00, true, true, "", 8},
  };
  const bool HaveImage = std::filesystem::exists(std::string(UEFI_IMAGE_DIR_DEFAULT) + "/Slabsize.efi");
  for (const Case &Test : Cases) {
    for (const Images &Run : kImages) {
      if ((Run.ExceptionLevel != 0 && !HaveImage) ||
          (Run.OnlyCase && Run.OnlyCase != std::string(Test.Name))) {
        continue; // Slabsize.efi not built (Tools/scripts/build uefi-aarch64), or not this case
      }
      SCOPED_TRACE(std::string(Test.Name) + ", " + Run.Name);
      CheckHandOver(Test, Run);
    }
  }
}

void CheckHandOver(const Case &Test, const Images &Run) {
  {
    SlabsizeBoard Slab(Test, Run);
    if (Test.BlockADone) {
      Slab.Board->Model<host::L3cControlBlockA>("l3c-control-a")
          .SetRegister(host::L3cControlBlockA::kState, host::L3cControlBlockA::kBlockBDone);
    }
    const std::vector<host::ImageResult> Entry = Slab.Board->Dispatch();
    ASSERT_EQ(Entry.size(), 2u);
    ASSERT_EQ(Entry[0].Status, EFI_SUCCESS);
    ASSERT_EQ(Entry[1].Status, EFI_SUCCESS);
    EXPECT_TRUE(Slab.Log->Entries.empty()) << "nothing happens before the hand-over";
    ASSERT_EQ(Slab.Core->ExitBootServices(), EFI_SUCCESS);

    // Interrupts, caches and MMU go off in order, before any block register is touched.
    EXPECT_EQ(Slab.Core->CpuOperations(), kShutdown);
    for (const L3cAccess &Access : Slab.Log->Entries) {
      EXPECT_EQ(Access.CpuOperationsBefore, kShutdown.size()) << Access.Block;
    }
    board_test::ExpectNoUnexpectedErrors(*Slab.Board);

    const std::vector<L3cAccess> Configuration = Slab.Writes("l3c", host::L3CacheController::kConfiguration);
    std::vector<uint32_t> Expected = Test.ConfigurationWrites;
    if (Test.ProductionWrites) {
      // Read-modify-write: the read-only hardware size field is written back as read.
      const uint32_t HardwareSizeMb =
          Test.Settings.count("l3c-size") ? std::stoul(Test.Settings.at("l3c-size")) : 8;
      Expected.push_back(Expected.front() | (HardwareSizeMb << 24) | (1u << 16));
    }
    EXPECT_EQ(Values(Configuration), Expected);
    EXPECT_EQ(Values(Slab.Writes("l3c", host::L3CacheController::kCommand)),
              Test.Command ? std::vector<uint32_t>{*Test.Command} : std::vector<uint32_t>{});
    EXPECT_EQ(Values(Slab.Writes("l3c", host::L3CacheController::kMask)),
              Test.ProductionWrites ? std::vector<uint32_t>{0xFFFF} : std::vector<uint32_t>{});
    if (Test.Command) {
      EXPECT_EQ(Values(Slab.Writes("l3c", host::L3CacheController::kRangeLow)), std::vector<uint32_t>{0});
      EXPECT_EQ(Values(Slab.Writes("l3c", host::L3CacheController::kRangeHigh)), std::vector<uint32_t>{0});
    }
    EXPECT_EQ(Slab.Board->Model<host::L3cControlBlockB>("l3c-control-b").Released(), Test.BlockBSequence);
    EXPECT_EQ(Slab.Writes("l3c-control-b", host::L3cControlBlockB::kReset).size(),
              Test.BlockBSequence ? 3u : 0u);
    const bool Enabled = Test.SizedMb != 0;
    EXPECT_EQ(Values(Slab.Writes("l3c-control-b", host::L3cControlBlockB::kEnable)),
              Enabled ? std::vector<uint32_t>{0x50000} : std::vector<uint32_t>{});
    EXPECT_EQ(Slab.Board->Model<host::L3CacheController>("l3c").SizedMb(), Test.SizedMb);
    EXPECT_EQ(Slab.Board->Model<host::ConsoleUart>("uart0").Output(), Test.Serial);
  }
}

} // namespace
