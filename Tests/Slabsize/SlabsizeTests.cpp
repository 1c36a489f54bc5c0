// Slabsize on the emulated board: the driver registers at entry and sizes the L3 inside
// ExitBootServices. The block models check their own rules (violations); the tests check what
// was programmed, what the console UART printed and the processor operations.
#include <DebugOutput.h>
#include <HostPlatform.h>
#include <L3cModels.h>
#include <StatusCodeListener.h>

#include <gtest/gtest.h>

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

constexpr uint32_t kEfuse1111 = 0xF00;
constexpr uint32_t kEfuse0101 = 0x500;

struct Case {
  const char *Name;
  host::L3cOptions Options;
  bool BlockADone = false;
  // Expected:
  std::vector<uint32_t> ConfigurationWrites; // plain writes to the configuration register
  std::optional<uint32_t> Command;
  bool BlockBSequence = true;
  bool ProductionWrites = true; // +0x08 = 0xFFFF and the bit-16 set
  std::string Serial;
  uint32_t SizedMb = 0;
};

host::L3cOptions With(uint32_t Efuse, uint32_t HardwareMb = 8) {
  host::L3cOptions Options;
  Options.Efuse = Efuse;
  Options.HardwareSizeMb = HardwareMb;
  Options.Midr = host::ParseCpuRevision(host::kDefaultCpuRevision)->Midr;
  return Options;
}

class SlabsizeBoard {
public:
  explicit SlabsizeBoard(const host::L3cOptions &Options) {
    host::PlatformOptions Settings;
    Settings.WatchdogNs = 5'000'000'000ull;
    Board = std::make_unique<host::Platform>(Settings);
    host::InstallDebugOutputProducer(*Board);
    host::InstallStatusCodeListener(*Board);
    Blocks = host::MakeL3cBlocks(*Board, Options);
    Board->Attach(host::kEfuseBase, host::kEfuseSize, Blocks.Efuse);
    Board->Attach(host::kL3cControlABase, host::kL3cBlockSize, Blocks.ControlA);
    Board->Attach(host::kL3cControlBBase, host::kL3cBlockSize, Blocks.ControlB);
    Board->Attach(host::kL3cBase, host::kL3cBlockSize, Blocks.Cache);
    Board->Attach(host::kConsoleUartBase, host::kConsoleUartSize, Blocks.Uart);
  }

  std::vector<L3cAccess> Writes(const std::string &Block, uint64_t Offset) const {
    std::vector<L3cAccess> Found;
    for (const L3cAccess &Access : Blocks.Log->Of(Block)) {
      if (Access.IsWrite && Access.Offset == Offset) {
        Found.push_back(Access);
      }
    }
    return Found;
  }

  std::unique_ptr<host::Platform> Board;
  host::L3cBlocks Blocks;
};

std::vector<uint32_t> Values(const std::vector<L3cAccess> &Accesses) {
  std::vector<uint32_t> Result;
  for (const L3cAccess &Access : Accesses) {
    Result.push_back(static_cast<uint32_t>(Access.Value));
  }
  return Result;
}

TEST(Slabsize, SizesTheL3AtTheHandOver) {
  host::L3cOptions Early = With(0);
  Early.Midr = host::ParseCpuRevision("r0p0:1")->Midr;
  Early.Revidr = 1;
  host::L3cOptions Stuck = With(0);
  Stuck.StuckBusy = true;
  host::L3cOptions Mute = With(0);
  Mute.UartNeverReady = true;

  const std::vector<Case> Cases = {
      {"efuse 0b1111: no L3", With(kEfuse1111), false, {}, std::nullopt, false, false, "", 0},
      {"efuse 0b0000: 8 MB", With(0), false, {0x80200000}, 0x12001F00, true, true, "L3c Cache: 8MB\n", 8},
      {"efuse 0b0101: 4 MB",
       With(kEfuse0101),
       false,
       {0x80100000},
       0x12000F00,
       true,
       true,
       "L3c Cache: 4MB\n",
       4},
      {"hardware 6 MB", With(0, 6), false, {0x80180000}, 0x12001700, true, true, "L3c Cache: 6MB\n", 6},
      {"hardware reports 0 MB", With(0, 0), false, {}, std::nullopt, true, false, "", 0},
      {"block B already released",
       With(0),
       true,
       {0x80200000},
       0x12001F00,
       false,
       true,
       "L3c Cache: 8MB\n",
       8},
      {"early silicon", Early, false, {0x80200000}, 0x12001F00, true, false, "L3c Cache: 8MB\n", 8},
      {"controller stays busy",
       Stuck,
       false,
       {0x80200000},
       0x12001F00,
       true,
       false,
       "L3c Cache: not configured\n",
       0},
      {"UART never ready", Mute, false, {0x80200000}, 0x12001F00, true, true, "", 8},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Name);
    SlabsizeBoard Slab(Test.Options);
    if (Test.BlockADone) {
      Slab.Blocks.ControlA->SetRegister(host::L3cControlBlockA::kState, host::L3cControlBlockA::kBlockBDone);
    }
    host::ImageResult Entry = Slab.Board->RunModule("Slabsize");
    ASSERT_EQ(Entry.Status, EFI_SUCCESS);
    EXPECT_TRUE(Slab.Blocks.Log->Entries.empty()) << "nothing happens before the hand-over";
    ASSERT_EQ(Slab.Board->ExitBootServices(), EFI_SUCCESS);

    // Interrupts, caches and MMU go off in order, before any block register is touched.
    EXPECT_EQ(Slab.Board->CpuOperations(), kShutdown);
    for (const L3cAccess &Access : Slab.Blocks.Log->Entries) {
      EXPECT_EQ(Access.CpuOperationsBefore, kShutdown.size()) << Access.Block;
    }
    EXPECT_EQ(Slab.Blocks.Log->Violations, std::vector<std::string>{});

    const std::vector<L3cAccess> Configuration = Slab.Writes("l3c", host::L3CacheController::kConfiguration);
    std::vector<uint32_t> Expected = Test.ConfigurationWrites;
    if (Test.ProductionWrites) {
      // Read-modify-write: the read-only hardware size field is written back as read.
      Expected.push_back(Expected.front() | (Test.Options.HardwareSizeMb << 24) | (1u << 16));
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
    EXPECT_EQ(Slab.Blocks.ControlB->Released(), Test.BlockBSequence);
    EXPECT_EQ(Slab.Writes("l3c-control-b", host::L3cControlBlockB::kReset).size(),
              Test.BlockBSequence ? 3u : 0u);
    const bool Enabled = Test.SizedMb != 0;
    EXPECT_EQ(Values(Slab.Writes("l3c-control-b", host::L3cControlBlockB::kEnable)),
              Enabled ? std::vector<uint32_t>{0x50000} : std::vector<uint32_t>{});
    EXPECT_EQ(Slab.Blocks.Cache->SizedMb(), Test.SizedMb);
    EXPECT_EQ(Slab.Blocks.Uart->Output(), Test.Serial);
  }
}

} // namespace
