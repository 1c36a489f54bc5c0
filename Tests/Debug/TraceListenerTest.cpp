// The trace path inside a loaded module, with the host status-code listener behind it.
#include "DebugProbeFixture.h"

#include <Library/EfiLib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using TraceListenerTest = DebugProbeTest;

constexpr char OVERFLOW_TEXT[] = "... DEBUG BUFFER OVERFLOW!!!\n";

TEST_F(TraceListenerTest, DebugCodesCarryTheStringRecord) {
  host::StatusCodeListener &Listener = BootWithStatusCodes();
  std::string Long(2500, 'L');
  host::ImageResult Result = RunProbe([&](const DEBUG_PROBE_FUNCTIONS &F) {
    EXPECT_EQ(F.TraceMessage(0, "never\n"), EFI_SUCCESS);
    // Only the low 32 bits of the level count.
    EXPECT_EQ(F.TraceMessage(UINTN{1} << 32, "never either\n"), EFI_SUCCESS);
    EXPECT_EQ(F.TraceMessage(1, "level one\n"), EFI_SUCCESS);
    EXPECT_EQ(F.TraceMessage(TRACE_ALWAYS, "port %d: %a\n", 3, "up"), EFI_SUCCESS);
    F.TraceMessage(TRACE_ALWAYS, "%s", Long.c_str());
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  ASSERT_EQ(Listener.Records().size(), 3u);
  EXPECT_EQ(Listener.Records()[0].Text, "level one\n");

  const host::StatusCodeRecord &Short = Listener.Records()[1];
  EXPECT_EQ(Short.Image, "DebugProbe");
  EXPECT_EQ(Short.Type, EFI_DEBUG_CODE);
  EXPECT_EQ(Short.Value, EFI_SOFTWARE_UNSPECIFIED);
  EXPECT_EQ(Short.Instance, 0u);
  EXPECT_FALSE(Short.CallerId.has_value());
  EXPECT_EQ(Short.Text, "port 3: up\n");
  ASSERT_EQ(Short.Bytes.size(), 40u + 12u);
  EXPECT_STREQ(reinterpret_cast<const char *>(Short.Bytes.data() + 40), "port 3: up\n");
  EXPECT_TRUE(Board->Log().Contains("port 3: up"));
  EXPECT_FALSE(Board->Log().Contains("never"));

  const host::StatusCodeRecord &Cut = Listener.Records()[2];
  ASSERT_EQ(Cut.Bytes.size(), STATUS_CODE_RECORD_SIZE);
  EXPECT_EQ(std::memcmp(Cut.Bytes.data() + 2018, OVERFLOW_TEXT, 29), 0);
  EXPECT_EQ(Cut.Bytes[2047], 0);
  EXPECT_EQ(Cut.Bytes[2017], 'L');
}

TEST_F(TraceListenerTest, MessagesBeforeTheListenerAreDroppedAndTheLookupRetried) {
  host::ImageResult Result = RunProbe([this](const DEBUG_PROBE_FUNCTIONS &F) {
    EXPECT_EQ(F.TraceMessage(TRACE_ALWAYS, "early\n"), EFI_NOT_FOUND);
    EXPECT_EQ(F.TraceMessage(0, "level 0 looks nothing up\n"), EFI_SUCCESS);
    EXPECT_EQ(StatusCodeLookups(), 1);
    host::StatusCodeListener &Listener = host::InstallStatusCodeListener(*Board);
    Listener.SetResult(EFI_DEVICE_ERROR); // handed back to the caller unchanged
    EXPECT_EQ(F.TraceMessage(TRACE_ALWAYS, "late\n"), EFI_DEVICE_ERROR);
    EXPECT_EQ(F.TraceMessage(TRACE_ALWAYS, "cached\n"), EFI_DEVICE_ERROR);
    EXPECT_EQ(StatusCodeLookups(), 2);
    EXPECT_EQ(Listener.Records().size(), 2u);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_FALSE(Board->Log().Contains("early"));
  EXPECT_TRUE(Board->Log().Contains("late"));
}

TEST_F(TraceListenerTest, LibAssertReportsAndHalts) {
  host::StatusCodeListener &Listener = BootWithStatusCodes();
  bool Continued = false;
  host::ImageResult Result = RunProbe([&](const DEBUG_PROBE_FUNCTIONS &F) {
    F.LibAssert("AmlWalk.cpp", 301, "Length != 0");
    Continued = true;
    return EFI_SUCCESS;
  });
  EXPECT_FALSE(Continued);
  ASSERT_TRUE(Result.Halted.has_value());
  EXPECT_EQ(Result.Halted->Reason, "CpuDeadLoop");
  ASSERT_EQ(Listener.Records().size(), 1u);
  EXPECT_EQ(Listener.Records()[0].Text, "ASSERT in AmlWalk.cpp on 301: Length != 0\n");
}

// Records that do not hold what they claim are kept but never trusted for text.
TEST(StatusCodeDecode, ValidatesTheRecordBeforeReadingItsString) {
  char Text[] = "text";
  char16_t Wide[] = u"wide";
  EFI_STATUS_CODE_STRING_DATA Good{{20, 20, EFI_STATUS_CODE_DATA_TYPE_STRING_GUID}, EfiStringAscii, {Text}};
  EXPECT_EQ(host::DecodeStatusCodeString(&Good.DataHeader, 100), "text");
  EXPECT_EQ(host::DecodeStatusCodeString(&Good.DataHeader, 2), "te");
  EFI_STATUS_CODE_STRING_DATA Unicode = Good;
  Unicode.StringType = EfiStringUnicode;
  Unicode.String.Unicode = Wide;
  EXPECT_EQ(host::DecodeStatusCodeString(&Unicode.DataHeader, 100), "wide");

  std::vector<EFI_STATUS_CODE_STRING_DATA> Bad(5, Good);
  Bad[0].DataHeader.HeaderSize = 24;
  Bad[1].DataHeader.Size = 8;
  Bad[2].DataHeader.Type.Data1 ^= 1;
  Bad[3].String.Ascii = nullptr;
  Bad[4].StringType = EfiStringToken;
  for (const EFI_STATUS_CODE_STRING_DATA &Record : Bad) {
    EXPECT_FALSE(host::DecodeStatusCodeString(&Record.DataHeader, 100).has_value());
  }
  EXPECT_FALSE(host::DecodeStatusCodeString(nullptr, 100).has_value());
}

// A module may hand over a Unicode text at an odd address; it is read byte-wise, within the
// character limit, and never as misaligned CHAR16 loads.
TEST(StatusCodeDecode, ReadsAUnicodeTextAtAnOddAddress) {
  alignas(2) uint8_t Storage[1 + 6 * sizeof(CHAR16)] = {};
  const char16_t Wide[] = u"odd!";
  std::memcpy(Storage + 1, Wide, sizeof(Wide));
  EFI_STATUS_CODE_STRING_DATA Record{{20, 20, EFI_STATUS_CODE_DATA_TYPE_STRING_GUID}, EfiStringUnicode, {}};
  Record.String.Unicode = reinterpret_cast<CHAR16 *>(Storage + 1);
  EXPECT_EQ(host::DecodeStatusCodeString(&Record.DataHeader, 100), "odd!");
  EXPECT_EQ(host::DecodeStatusCodeString(&Record.DataHeader, 3), "odd");
}

} // namespace
