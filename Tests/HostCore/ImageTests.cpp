// Images loaded from shared objects: private globals, the dispatcher's unload rule,
// per-image accounting, halts inside firmware frames, Exit() and the consoles.
#include "CoreTestSupport.h"

#include <GcdMap.h>
#include <HostAbi.h>

#include <functional>
#include <optional>

using namespace coretest;

namespace {

class Images : public CoreTest {};

constexpr EFI_GUID kCounterGuid = {
    0x7D1C3F62, 0x1B0E, 0x4C55, {0x9A, 0x11, 0x52, 0x0D, 0x3E, 0x64, 0x71, 0x02}};

TEST_F(Images, EveryLoadHasItsOwnGlobals) {
  host::ImageResult First = Board.RunModule("CoreTestCounter");
  host::ImageResult Second = Board.RunModule("CoreTestCounter");
  EXPECT_EQ(First.Status, EFI_SUCCESS);
  EXPECT_EQ(Second.Status, EFI_SUCCESS);
  EXPECT_FALSE(First.Unloaded);
  EFI_GUID Guid = kCounterGuid;
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  ASSERT_EQ(BS->LocateHandleBuffer(ByProtocol, &Guid, nullptr, &Count, &Handles), EFI_SUCCESS);
  ASSERT_EQ(Count, 2u);
  for (UINTN Index = 0; Index < Count; Index++) {
    VOID *Counter = nullptr;
    ASSERT_EQ(BS->HandleProtocol(Handles[Index], &Guid, &Counter), EFI_SUCCESS);
    EXPECT_EQ(*static_cast<UINT32 *>(Counter), 1u);
  }
  EXPECT_NE(Handles[0], Handles[1]);
  BS->FreePool(Handles);
}

TEST_F(Images, AFailedDriverIsUnloadedWithItsPoolMistakesReported) {
  EFI_HANDLE Image = nullptr;
  ASSERT_EQ(Board.LoadModule("CoreTestLeaky", &Image), EFI_SUCCESS);
  EXPECT_TRUE(Board.IsImageLoaded(Image));
  host::ImageResult Result = Board.StartImage(Image);
  EXPECT_EQ(Result.Status, EFI_DEVICE_ERROR);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_FALSE(Board.IsImageLoaded(Image));
  // The allocations were attributed to the image, not to the core that served them.
  EXPECT_EQ(Board.OutstandingPoolBytes(Image), 100u);
  EXPECT_EQ(Board.FreePoolCalls(Image), 3u);
  ASSERT_EQ(Board.MemoryErrors().size(), 3u);
  EXPECT_NE(Board.MemoryErrors()[0].find("CoreTestLeaky: double free"), std::string::npos);
  EXPECT_NE(Board.MemoryErrors()[1].find("not a pool buffer"), std::string::npos);
  EXPECT_NE(Board.MemoryErrors()[2].find("CoreTestLeaky leaked 100 bytes"), std::string::npos);
  EXPECT_TRUE(Board.Log().Contains("CoreTestLeaky returned EFI_DEVICE_ERROR"));
  EXPECT_TRUE(Board.Log().Contains("unload CoreTestLeaky"));
  EXPECT_EQ(Board.ImageName(Image), "CoreTestLeaky");
  // What it left behind is an error of the boot too, each naming the image.
  std::vector<std::string> Errors = Board.TakeErrors();
  ASSERT_EQ(Errors.size(), 5u);
  EXPECT_EQ(Errors[2], "unload: CoreTestLeaky: left an event open at unload; closed");
  EXPECT_EQ(Errors[3].rfind("unload: CoreTestLeaky: left 1 protocol interface(s) installed on handle ", 0),
            0u);
  EXPECT_EQ(Errors[4].rfind("memory: CoreTestLeaky leaked 100 bytes", 0), 0u);
}

TEST_F(Images, AHaltUnwindsThroughFirmwareFrames) {
  host::ImageResult Result = Board.RunModule("CoreTestHalt");
  ASSERT_TRUE(Result.Halted.has_value());
  EXPECT_EQ(Result.Halted->Reason, "CpuDeadLoop");
  EXPECT_EQ(Result.Halted->Image, "CoreTestHalt");
  EXPECT_FALSE(Result.Unloaded);
  EXPECT_TRUE(Board.Log().Contains("halt: CpuDeadLoop in CoreTestHalt"));
  // The platform goes on working after the unwind.
  EXPECT_EQ(Board.RunModule("CoreTestCounter").Status, EFI_SUCCESS);
}

// A mailbox whose ready bit never comes.
class SilentMailbox : public host::MmioDevice {
public:
  std::string Name() const override { return "mailbox"; }
  uint64_t Read(uint64_t Offset, unsigned Width) override { return 0; }
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override {}
};

TEST_F(Images, AnEndlessPollInAnImageIsStoppedByTheWatchdog) {
  Board.ExpectError("MMIO: CoreTestPoll: read of 4 bytes at 0x10540010: no device there");
  // Without a device the read is a fault and all ones ends the poll at once.
  host::ImageResult Unmapped = Board.RunModule("CoreTestPoll");
  EXPECT_EQ(Unmapped.Status, EFI_SUCCESS);
  ASSERT_EQ(Board.Faults().size(), 1u);
  EXPECT_EQ(Board.Faults().front().Image, "CoreTestPoll");
  EXPECT_EQ(Board.Faults().front().Address, 0x10540010u);

  Board.Attach(0x10540000, 0x1000, std::make_shared<SilentMailbox>());
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x10540000, 0x1000, EFI_MEMORY_UC),
            EFI_SUCCESS);
  host::ImageResult Result = Board.RunModule("CoreTestPoll");
  ASSERT_TRUE(Result.Halted.has_value());
  EXPECT_EQ(Result.Halted->Reason.rfind("watchdog: CoreTestPoll", 0), 0u);
  EXPECT_EQ(Result.Status, EFI_ABORTED);
}

TEST_F(Images, AnApplicationIsUnloadedAfterItReturnsAndItsTextIsKept) {
  host::ImageResult Result = Board.RunModule("CoreTestHello");
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_TRUE(Result.Unloaded);
  EXPECT_EQ(Board.ConsoleText(), u"hello from the shell\r\n");
  EXPECT_EQ(Board.StdErrText(), u"to stderr\r\n");
  EXPECT_TRUE(Board.Log().Contains("hello from the shell"));
  EXPECT_TRUE(Board.MemoryErrors().empty());
}

TEST_F(Images, ExitLeavesFromANestedCallWithItsStatus) {
  host::ImageResult Result = Board.RunModule("CoreTestExit");
  EXPECT_FALSE(Result.Halted.has_value());
  EXPECT_EQ(Result.Status, EFI_ABORTED);
  EXPECT_EQ(Result.ExitData, u"stopped on purpose");
  EXPECT_TRUE(Result.Unloaded);
  // Nobody asked for the exit data: the core freed it, so the unload found no leak.
  EXPECT_TRUE(Board.MemoryErrors().empty());
}

TEST_F(Images, ExitDataGoesToTheCallerOfStartImage) {
  EFI_HANDLE Image = nullptr;
  ASSERT_EQ(Board.LoadModule("CoreTestExit", &Image), EFI_SUCCESS);
  UINTN ExitDataSize = 0;
  CHAR16 *ExitData = nullptr;
  EXPECT_EQ(BS->StartImage(Image, &ExitDataSize, &ExitData), EFI_ABORTED);
  ASSERT_NE(ExitData, nullptr);
  EXPECT_EQ(ExitDataSize, sizeof(u"stopped on purpose"));
  EXPECT_EQ(std::u16string(ExitData), u"stopped on purpose");
  // The buffer now belongs to the caller, who frees it; the exited image leaked nothing.
  EXPECT_EQ(BS->FreePool(ExitData), EFI_SUCCESS);
  EXPECT_TRUE(Board.MemoryErrors().empty());
}

TEST_F(Images, MissingModulesAndBadImagesAreRefused) {
  EFI_HANDLE Image = nullptr;
  EXPECT_EQ(Board.LoadModule("NoSuchModule", &Image), EFI_NOT_FOUND);
  char NotAnImage[] = "MZ not for this board";
  EXPECT_EQ(BS->LoadImage(FALSE, Board.FirmwareHandle(), nullptr, NotAnImage, sizeof(NotAnImage), &Image),
            EFI_UNSUPPORTED);
  EXPECT_EQ(Board.StartImage(nullptr).Status, EFI_INVALID_PARAMETER);
}

// Firmware that runs on without moving the virtual clock is stopped by the wall-clock progress
// watchdog as a halt naming the image, whether or not its loop calls into the core.
TEST(ProgressWatchdog, EndsALoopThatNeverMovesTheClockAsAHalt) {
  struct Case {
    const char *What;
    std::function<std::optional<host::Halt>(host::Platform &)> Run;
    const char *Image;
    bool OnProcessor = false;
  };
  const Case Cases[] = {
      {"a spin on a memory flag, without a call into the core",
       [](host::Platform &Board) { return Board.RunModule("CoreTestSpin").Halted; }, "CoreTestSpin"},
      {"the same spin in an image on the AArch64 processor",
       [](host::Platform &Board) { return Board.RunModule("SpinProbe").Halted; }, "SpinProbe", true},
      {"a loop of zero-length delays",
       [](host::Platform &Board) {
         return Board.Guard([] {
           for (;;)
             HostAbiStall(0);
         });
       },
       "core"},
      {"a loop of fences",
       [](host::Platform &Board) {
         return Board.Guard([] {
           for (;;)
             HostAbiMemoryFence();
         });
       },
       "core"},
  };
  for (const Case &Each : Cases) {
    if (Each.OnProcessor && !CoreTest::HaveImage(Each.Image)) {
      continue; // the image is not built (Tools/scripts/build uefi-aarch64)
    }
    host::PlatformOptions Options;
    Options.ModuleDir = HOST_CORE_TEST_MODULE_DIR;
    Options.ProgressLimitMs = 200;
    Options.Aarch64Images = Each.OnProcessor;
    Options.Aarch64ImageDir = UEFI_IMAGE_DIR_DEFAULT;
    host::Platform Board(Options);
    std::optional<host::Halt> Halted = Each.Run(Board);
    ASSERT_TRUE(Halted.has_value()) << Each.What;
    EXPECT_EQ(Halted->Reason.rfind("progress watchdog", 0), 0u) << Each.What << ": " << Halted->Reason;
    EXPECT_EQ(Halted->Image, Each.Image) << Each.What;
    EXPECT_TRUE(Board.UnexpectedErrors().empty()) << Each.What;
  }
}

} // namespace
