// The mode list built from the display on the board: the EDID read over the DDC lines from the
// monitor model (which checks the bit sequence itself: settling reads between line changes,
// start and stop only between bytes, SDA released while the display sends, no read past its
// data), the platform's EDID override, the CRD0 wide-screen veto, and the failure path.
#include "EdidFixtures.h"
#include "ScratchFiles.h"
#include "VidframeTestBoard.h"

#include <EdidOverride.h>
#include <Library/UefiBootServicesTableLib.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace vidframe_test {
namespace {

// Tests run in parallel processes: each test writes its own files, removed when the process ends.
std::string WriteTemp(const std::string &Name, const Edid &Bytes) {
  static std::vector<std::unique_ptr<board_test::Scratch>> Written;
  Written.push_back(std::make_unique<board_test::Scratch>(Name));
  const std::string Path = Written.back()->Path().string();
  std::ofstream(Path, std::ios::binary).write(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  return Path;
}

std::vector<unsigned> ListedRows(const VANTOR_PRIVATE_DATA &Private) {
  std::vector<unsigned> Rows;
  for (UINTN Mode = 0; Mode < Private.ModeCount; Mode++) {
    const VANTOR_MODE_ENTRY &Entry = Private.ModeList[Mode];
    const VANTOR_VIDEO_MODE &Row = gVantorVideoModes[Entry.ModeTableIndex];
    EXPECT_EQ(Entry.HorizontalResolution, Row.Width);
    EXPECT_EQ(Entry.VerticalResolution, Row.Height);
    EXPECT_EQ(Entry.ColorDepth, 32u);
    EXPECT_EQ(Entry.RefreshRate, 60u);
    Rows.push_back(Entry.ModeTableIndex);
  }
  return Rows;
}

Edid Bytes(UINT32 Size, const UINT8 *Data) {
  return Data == nullptr ? Edid{} : Edid(Data, Data + Size);
}

Knobs BmcSetUp(Knobs Settings) {
  Settings.emplace("vga-bmc", "");
  return Settings;
}

TEST(VidframeDdc, EachDisplayGivesItsEdidAndModes) {
  const Edid Square = LoadFixture("square-1280x1024.edid");
  const Edid Board = LoadFixture("board-monitor.edid");
  const Edid Wide = LoadFixture("wide-1920x1200.edid");
  Edid Shifted = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  Shifted.insert(Shifted.end(), Square.begin(), Square.end());
  const Edid NoTimings = WithDescriptor(WithDescriptor(Square, 0, kDummyDescriptor), 1, kDummyDescriptor);
  constexpr size_t kShortDisplayBytes = 64;
  Edid ShortRead(Board.begin(), Board.begin() + kShortDisplayBytes);
  ShortRead.resize(Board.size(), 0xFF);
  const auto Monitor = [](const std::string &Path) { return Knobs{{"monitor", Path}}; };
  const auto Override = [](const std::string &File, const Edid &Bytes) {
    return Knobs{{"edid-override", WriteTemp(File, Bytes)}};
  };
  struct Case {
    const char *Name;
    Knobs Settings, Faults;
    Edid Discovered, Active;
    std::vector<unsigned> Rows;
    unsigned BytesSent, Stops;
    uint8_t Crd0Bits = 0x01;
    bool ShortDisplayNote = false; // the log says once that the display has fewer bytes
  } Cases[] = {
      {"board monitor", {}, {}, Board, Board, kBoardRows, 128, 1},
      {"4:3 monitor", Monitor(FixturePath("square-1280x1024.edid")), {}, Square, Square, kSquareRows, 128, 1},
      // The header at offset 8: the read goes on for 8 more bytes to complete the block.
      {"header at offset 8",
       Monitor(WriteTemp("shifted.edid", Shifted)),
       {},
       Square,
       Square,
       kSquareRows,
       136,
       1},
      {"checksum error",
       Monitor(FixturePath("bad-checksum.edid")),
       {},
       LoadFixture("bad-checksum.edid"),
       {},
       kDefaultRows,
       128,
       1},
      {"no header", Monitor(FixturePath("no-header.edid")), {}, {}, {}, kDefaultRows, 128, 1},
      // A display with half a block: the rest reads as the idle level (0xFF), no error.
      {"short display",
       Monitor(WriteTemp("half-block.edid", Edid(Board.begin(), Board.begin() + kShortDisplayBytes))),
       {},
       ShortRead,
       {},
       kDefaultRows,
       128,
       1,
       0x01,
       true},
      // A valid EDID that fits no row still lists 640 x 480.
      {"no timing, no range limits",
       Monitor(WriteTemp("no-timings.edid", NoTimings)),
       {},
       NoTimings,
       NoTimings,
       {0},
       128,
       1},
      // No display: no acknowledge, and no stop after it.
      {"no display", Monitor("none"), {}, {}, {}, kDefaultRows, 0, 0},
      {"no acknowledge", {}, {{"monitor-no-ack", ""}}, {}, {}, kDefaultRows, 0, 0},
      // Both lines low: SCL reads 0 before the first start.
      {"no pull-ups", {}, {{"monitor-no-pullups", ""}}, {}, {}, kDefaultRows, 0, 0},
      // Levels that never settle: the bounded level read fails at SCL, before any start.
      {"noisy lines", {}, {{"monitor-noisy-lines", ""}}, {}, {}, kDefaultRows, 0, 0},
      // CRD0 bit 7 set with bit 0 clear: no wide-screen row, whatever the EDID says.
      {"wide screen vetoed", {}, {}, Board, Board, {0, 1, 2, 3, 4}, 128, 1, 0x00},
      // The override is used as it is, and the display is not read.
      {"override",
       Override("override.edid", Wide),
       {},
       {},
       Wide,
       {0, 1, 2, 3, 4, 5, 7, 8, 10, 12, 14, 15},
       0,
       0},
      // Shorter than a block: not parsed (parsing reads 128 bytes), the defaults apply.
      {"short override",
       Override("short.edid", Edid(Wide.begin(), Wide.begin() + 100)),
       {},
       {},
       {},
       kDefaultRows,
       0,
       0},
  };
  const EFI_HANDLE Child = reinterpret_cast<EFI_HANDLE>(0x5A5A0);
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ChipBoard B(BmcSetUp(C.Settings), C.Faults);
    B.Chip().MutableConfig().Crd0Bits = C.Crd0Bits;
    B.Private()->Handle = Child;
    EXPECT_EQ(B.InitController(), EFI_SUCCESS);
    EFI_STATUS Status = EFI_NOT_READY;
    B.Run([&] { Status = VantorBuildModeList(B.Private()); });
    EXPECT_EQ(Status, EFI_SUCCESS);
    const VANTOR_PRIVATE_DATA &P = *B.Private();
    EXPECT_EQ(Bytes(P.EdidDiscovered.SizeOfEdid, P.EdidDiscovered.Edid), C.Discovered);
    EXPECT_EQ(Bytes(P.EdidActive.SizeOfEdid, P.EdidActive.Edid), C.Active);
    EXPECT_EQ(ListedRows(P), C.Rows);
    EXPECT_EQ(B.Chip().Monitor()->BytesSent(), C.BytesSent);
    EXPECT_EQ(B.Chip().Monitor()->Stops(), C.Stops);
    const std::string Log = B.Core().Log().Text();
    const size_t Note = Log.find("beyond the display's");
    EXPECT_EQ(Note != std::string::npos, C.ShortDisplayNote);
    EXPECT_TRUE(Note == std::string::npos || Log.find("beyond the display's", Note + 1) == std::string::npos);
    if (auto *Producer = B.Built().Producer<host::EdidOverrideProducer>("edid-override")) {
      EXPECT_EQ(Producer->Calls(), 1u);
      EXPECT_EQ(Producer->LastChildHandle(), Child);
    }
  }
}

// Boot services whose AllocatePool fails at one call, counting the frees.
struct FailingPool {
  static inline EFI_BOOT_SERVICES *Real = nullptr;
  static inline unsigned FailAt = 0, Allocations = 0, Frees = 0;
  static EFI_STATUS EFIAPI Allocate(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
    return ++Allocations == FailAt ? EFI_OUT_OF_RESOURCES : Real->AllocatePool(Type, Size, Buffer);
  }
  static EFI_STATUS EFIAPI Free(VOID *Buffer) {
    Frees++;
    return Real->FreePool(Buffer);
  }
};

TEST(VidframeDdc, CopyFailureFreesEverythingAndFails) {
  const std::string Override = WriteTemp("override.edid", LoadFixture("square-1280x1024.edid"));
  struct Case {
    const char *Name;
    Knobs Settings;
    unsigned FailAt, Frees; // the override's block is freed too
  } Cases[] = {
      {"read copy", {}, 1, 0},
      {"active copy after a read", {}, 2, 1},
      {"active copy of an override", {{"edid-override", Override}}, 1, 1},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ChipBoard Board(BmcSetUp(C.Settings));
    EFI_BOOT_SERVICES Failing = *gBS;
    FailingPool::Real = gBS;
    FailingPool::FailAt = C.FailAt;
    FailingPool::Allocations = FailingPool::Frees = 0;
    Failing.AllocatePool = FailingPool::Allocate;
    Failing.FreePool = FailingPool::Free;
    gBS = &Failing;
    EFI_STATUS Status = EFI_NOT_READY;
    Board.Run([&] { Status = VantorBuildModeList(Board.Private()); });
    gBS = FailingPool::Real;
    EXPECT_EQ(Status, EFI_DEVICE_ERROR);
    EXPECT_EQ(FailingPool::Frees, C.Frees);
    const VANTOR_PRIVATE_DATA &P = *Board.Private();
    EXPECT_EQ(P.EdidDiscovered.Edid, nullptr);
    EXPECT_EQ(P.EdidActive.Edid, nullptr);
  }
}

// The monitor model's own checks, driven directly through CRB7: each breach is recorded.
TEST(VidframeDdc, MonitorRecordsBreachesOfTheBitSequence) {
  constexpr uint8_t Released = 0x00, SclLow = 0x01, SdaLow = 0x04;
  struct Case {
    const char *Name;
    std::vector<uint8_t> Writes; // CRB7 values, each after 150 delay reads unless Hurried
    bool Hurried;
    const char *Error;
  } Cases[] = {
      {"no settling reads", {SclLow, Released}, true, "changed after 0 reads of port 0x3D4"},
      {"both lines at once", {SclLow | SdaLow}, false, "SCL and SDA changed in one write"},
      // Start, two address bits (1, 0), then a stop while SCL is high.
      {"stop inside a byte",
       {SdaLow, SdaLow | SclLow, SclLow, Released, SclLow, SclLow | SdaLow, SdaLow, Released},
       false,
       "stop condition inside a byte"},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    ChipBoard Board(BmcSetUp({}));
    Board.ExpectErrors({C.Error});
    Board.Run([&] {
      VantorCrtcWrite(Board.Private(), CR_UNLOCK, VANTOR_CRTC_UNLOCK);
      for (uint8_t Value : C.Writes) {
        for (unsigned Read = 0; Read < (C.Hurried ? 0 : 150); Read++) {
          VantorPortRead(Board.Private(), VANTOR_PORT_CRTC);
        }
        VantorCrtcWrite(Board.Private(), CR_DDC, Value);
      }
    });
    const auto &Errors = Board.Chip().Monitor()->ProtocolErrors();
    ASSERT_FALSE(Errors.empty());
    EXPECT_NE(Errors.front().find(C.Error), std::string::npos) << Errors.front();
  }
}

} // namespace
} // namespace vidframe_test
