// The DebugLib path inside a loaded module, with the host debug-output producer behind it.
#include "DebugProbeFixture.h"

#include <Library/DebugLib.h>

#include <vector>

namespace {

using DebugLibTest = DebugProbeTest;

TEST_F(DebugLibTest, OnlyErrorMessagesReachPrint) {
  host::DebugOutputProducer &Output = BootWithDebugOutput();
  host::ImageResult Result = RunProbe([](const DEBUG_PROBE_FUNCTIONS &F) {
    F.DebugPrint(DEBUG_INFO, "info %d\n", 1);
    F.DebugPrint(DEBUG_ERROR, "error %a %r 0x%08x\n", "open", EFI_NOT_FOUND, 0x1234);
    F.DebugPrint(DEBUG_ERROR | DEBUG_INFO, "both\n");
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  ASSERT_EQ(Output.Messages().size(), 2u);
  EXPECT_EQ(Output.Messages()[0].Text, "error open EFI_NOT_FOUND 0x00001234\n");
  EXPECT_EQ(Output.Messages()[0].ErrorLevel, DEBUG_ERROR);
  EXPECT_EQ(Output.Messages()[0].Image, "DebugProbe");
  EXPECT_EQ(Output.Messages()[1].Text, "both\n");
  EXPECT_TRUE(Board->Log().Contains("error open EFI_NOT_FOUND 0x00001234"));
  EXPECT_FALSE(Board->Log().Contains("info 1"));
  // The protocol was looked up once and cached.
  EXPECT_EQ(DebugOutputLookups(), 1);
}

TEST_F(DebugLibTest, LookupWaitsForTheProtocolAndATplAtOrBelowNotify) {
  host::ImageResult Result = RunProbe([this](const DEBUG_PROBE_FUNCTIONS &F) {
    F.DebugPrint(DEBUG_ERROR, "lost\n");
    F.DebugPrint(DEBUG_INFO, "filtered, but looked up first\n");
    EXPECT_EQ(DebugOutputLookups(), 2); // a failed lookup is tried again

    host::DebugOutputProducer &Output = host::InstallDebugOutputProducer(*Board);
    EFI_TPL Old = RaiseTpl(TPL_HIGH_LEVEL);
    F.DebugPrint(DEBUG_ERROR, "above notify\n");
    RestoreTpl(Old);
    EXPECT_EQ(DebugOutputLookups(), 2); // no lookup above TPL_NOTIFY
    EXPECT_TRUE(Output.Messages().empty());

    Old = RaiseTpl(TPL_NOTIFY);
    F.DebugPrint(DEBUG_ERROR, "at notify\n");
    RestoreTpl(Old);
    EXPECT_EQ(DebugOutputLookups(), 3);

    // Once cached, the protocol serves any priority without another lookup.
    Old = RaiseTpl(TPL_HIGH_LEVEL);
    F.DebugPrint(DEBUG_ERROR, "cached\n");
    RestoreTpl(Old);
    EXPECT_EQ(DebugOutputLookups(), 3);
    EXPECT_EQ(Output.Messages().size(), 2u);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_FALSE(Result.Halted.has_value());
  EXPECT_TRUE(Board->Log().Contains("at notify"));
  EXPECT_TRUE(Board->Log().Contains("cached"));
  EXPECT_FALSE(Board->Log().Contains("lost"));
}

TEST_F(DebugLibTest, PredicatesAnswerOneForEveryEnabledProperty) {
  host::ImageResult Result = RunProbe([](const DEBUG_PROBE_FUNCTIONS &F) {
    // The property mask enables all four; each answer is the boolean 1, not the mask bit.
    EXPECT_EQ(F.DebugAssertEnabled(), 1);
    EXPECT_EQ(F.DebugPrintEnabled(), 1);
    EXPECT_EQ(F.DebugCodeEnabled(), 1);
    EXPECT_EQ(F.DebugClearMemoryEnabled(), 1);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
}

TEST_F(DebugLibTest, AssertWithoutTheProtocolReturns) {
  std::vector<UINT8> Untouched(4, 0x11);
  bool Continued = false;
  host::ImageResult Result = RunProbe([&](const DEBUG_PROBE_FUNCTIONS &F) {
    F.DebugAssert("Walk.c", 12, "Length > 0");
    F.AssertEfiError(EFI_DEVICE_ERROR);
    EXPECT_EQ(F.DebugClearMemory(nullptr, 4), nullptr);
    Continued = true;
    return EFI_SUCCESS;
  });
  EXPECT_TRUE(Continued);
  EXPECT_FALSE(Result.Halted.has_value());
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
}

TEST_F(DebugLibTest, AssertWithTheProtocolReportsOnceAndDeadLoops) {
  host::DebugOutputProducer &Output = BootWithDebugOutput();
  bool Continued = false;
  host::ImageResult Result = RunProbe([&](const DEBUG_PROBE_FUNCTIONS &F) {
    F.DebugAssert("Walk.c", 12, "Length > 0");
    Continued = true;
    return EFI_SUCCESS;
  });
  EXPECT_FALSE(Continued);
  ASSERT_TRUE(Result.Halted.has_value());
  EXPECT_EQ(Result.Halted->Reason, "CpuDeadLoop");
  ASSERT_EQ(Output.Assertions().size(), 1u);
  EXPECT_EQ(Output.Assertions()[0].FileName, "Walk.c");
  EXPECT_EQ(Output.Assertions()[0].LineNumber, 12u);
  EXPECT_EQ(Output.Assertions()[0].Description, "Length > 0");
  EXPECT_TRUE(Board->Log().Contains("ASSERT Walk.c(12): Length > 0"));
}

TEST_F(DebugLibTest, AssertEfiErrorPrintsTheStatusThenAsserts) {
  host::DebugOutputProducer &Output = BootWithDebugOutput();
  host::ImageResult Result = RunProbe([](const DEBUG_PROBE_FUNCTIONS &F) {
    F.AssertEfiError(EFI_SUCCESS);
    F.AssertEfiError(EFI_NOT_FOUND);
    return EFI_SUCCESS;
  });
  ASSERT_TRUE(Result.Halted.has_value());
  ASSERT_EQ(Output.Messages().size(), 1u);
  EXPECT_EQ(Output.Messages()[0].Text, "\nASSERT_EFI_ERROR (Status = EFI_NOT_FOUND)\n");
  ASSERT_EQ(Output.Assertions().size(), 1u);
  EXPECT_EQ(Output.Assertions()[0].FileName, "DebugProbe.cpp");
  EXPECT_EQ(Output.Assertions()[0].Description, "!EFI_ERROR (Status)");
}

TEST_F(DebugLibTest, ClearMemoryFillsOrAssertsOnNull) {
  host::DebugOutputProducer &Output = BootWithDebugOutput();
  std::vector<UINT8> Buffer(8, 0);
  host::ImageResult Result = RunProbe([&](const DEBUG_PROBE_FUNCTIONS &F) {
    EXPECT_EQ(F.DebugClearMemory(Buffer.data() + 1, 6), Buffer.data() + 1);
    EXPECT_EQ(F.DebugClearMemory(Buffer.data(), 0), Buffer.data());
    F.DebugClearMemory(nullptr, 16);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Buffer, (std::vector<UINT8>{0, 0xAF, 0xAF, 0xAF, 0xAF, 0xAF, 0xAF, 0}));
  ASSERT_TRUE(Result.Halted.has_value());
  ASSERT_EQ(Output.Assertions().size(), 1u);
  EXPECT_EQ(Output.Assertions()[0].FileName, "DebugLib.cpp");
  EXPECT_EQ(Output.Assertions()[0].LineNumber, 146u);
  EXPECT_EQ(Output.Assertions()[0].Description, "Buffer != ((void *) 0)");
}

} // namespace
