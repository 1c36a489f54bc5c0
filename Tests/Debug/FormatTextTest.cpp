// The trace formatter and the status-code record, linked directly into the test.
#include <Library/EfiLib.h>
#include <Protocol/DebugOutput.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char SENTINEL = '\x7e';

struct Formatted {
  std::string Text;
  UINTN Result;
  std::vector<char> Raw;
};

Formatted FormatWith(UINTN Count, const char *Format, ...) {
  std::vector<char> Buffer(512, SENTINEL);
  va_list Args;
  va_start(Args, Format);
  UINTN Result = FormatText(Buffer.data(), Count, Format, Args);
  va_end(Args);
  auto End = std::find(Buffer.begin(), Buffer.end(), '\0');
  return {std::string(Buffer.begin(), End), Result, Buffer};
}

std::string Fmt(const char *Format, auto... Args) {
  return FormatWith(0, Format, Args...).Text;
}

TEST(FormatText, ConvertsStringsCharactersAndPercent) {
  EXPECT_EQ(Fmt("[%s|%a]", "one", "two"), "[one|two]");
  EXPECT_EQ(Fmt("%S", u"wide\u0141"), "wideA"); // narrowed to the low byte (0x41)
  EXPECT_EQ(Fmt("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Fmt("100%%"), "100%");
  EXPECT_EQ(Fmt("%s", static_cast<const char *>(nullptr)), "(null)");
  // Strings and characters ignore the width.
  EXPECT_EQ(Fmt("%10s|%5c", "ab", 'z'), "ab|z");
}

TEST(FormatText, ConvertsIntegersWithWidthAndFill) {
  EXPECT_EQ(Fmt("%08X", 0x1234), "00001234");
  EXPECT_EQ(Fmt("%5d", 42), "   42");
  EXPECT_EQ(Fmt("%05d", -5), "000-5");
  EXPECT_EQ(Fmt("%i", -2147483647 - 1), "-2147483648");
  EXPECT_EQ(Fmt("%ld", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Fmt("%lu", 7ull), "u"); // no "u" conversion: the directive is dropped
  EXPECT_EQ(Fmt("%x", -1), "ffffffff");
  EXPECT_EQ(Fmt("%lx", -1ll), "ffffffffffffffff");
  EXPECT_EQ(Fmt("%lX", 0xABCDEF0123ull), "ABCDEF0123");
  EXPECT_EQ(Fmt("%*d|%0*x", 4, 7, 3, 10), "   7|00a");
  // Without "l" a pointer is taken as 32 bits too.
  EXPECT_EQ(Fmt("%p|%lp", 0x123456789ull, 0x123456789ull), "23456789|123456789");
  EXPECT_EQ(Fmt("%2d", 12345), "12345"); // never cut by the width
}

TEST(FormatText, PrintsGuidsAndStatusNames) {
  EFI_GUID Guid = DEBUG_OUTPUT_PROTOCOL_GUID;
  EXPECT_EQ(Fmt("%g", &Guid), "36232936-0e76-31c8-a13a-3af2fc1c3932");
  EXPECT_EQ(Fmt("%G", &Guid), "36232936-0E76-31C8-A13A-3AF2FC1C3932");
  EXPECT_EQ(Fmt("%20g!", &Guid), "36232936-0e76-31c8-a13a-3af2fc1c3932!");
  EXPECT_EQ(Fmt("%r", EFI_NOT_FOUND), "EFI_NOT_FOUND");
  EXPECT_EQ(Fmt("%r", EFI_SUCCESS), "EFI_SUCCESS");
  EXPECT_EQ(Fmt("%r", EncodeError(34)), "Status Code(22)");
  EXPECT_EQ(Fmt("%r", MAX_BIT), "Status Code(0)");
  EXPECT_EQ(Fmt("%r", EFI_NOT_AVAILABLE_YET), "EFI_NOT_AVAILABLE_YET");
}

TEST(FormatText, DropsUnknownDirectivesAndStopsAtFormatEnd) {
  EXPECT_EQ(Fmt("a%qb"), "aqb");
  EXPECT_EQ(Fmt("%08lq"), "q");
  // A format ending inside a directive: nothing past its NUL is read.
  const char Format[] = {'a', 'b', '%', '0', '\0', 'Z', '\0'};
  Formatted Result = FormatWith(0, Format);
  EXPECT_EQ(Result.Text, "ab");
  EXPECT_EQ(Result.Result, 2u);
}

TEST(FormatText, CountLimitsOutputIncludingTheNul) {
  Formatted One = FormatWith(1, "Hello");
  EXPECT_EQ(One.Result, 0u);
  EXPECT_EQ(One.Raw[0], '\0');
  EXPECT_EQ(One.Raw[1], SENTINEL);

  Formatted Cut = FormatWith(6, "Hello world %d", 5);
  EXPECT_EQ(Cut.Text, "Hello");
  EXPECT_EQ(Cut.Result, 5u);
  EXPECT_EQ(Cut.Raw[6], SENTINEL);

  // Padding and digits stop at the limit as well.
  EXPECT_EQ(FormatWith(4, "%08x", 0x1234).Text, "000");
  EXPECT_EQ(FormatWith(5, "ab%d", -123456).Text, "ab-1");

  // GUIDs and status names are cut at the limit and formatting ends there.
  EFI_GUID Guid = DEBUG_OUTPUT_PROTOCOL_GUID;
  Formatted GuidCut = FormatWith(10, "%gXYZ", &Guid);
  EXPECT_EQ(GuidCut.Text, "36232936-");
  EXPECT_EQ(GuidCut.Result, 9u);
  EXPECT_EQ(GuidCut.Raw[10], SENTINEL);
  Formatted StatusCut = FormatWith(8, "[%r]", EFI_NOT_FOUND);
  EXPECT_EQ(StatusCut.Text, "[EFI_NO");
  EXPECT_EQ(StatusCut.Result, 7u);

  // After a nested conversion the count carries on.
  Formatted After = FormatWith(0, "%r=%d", EFI_UNSUPPORTED, 3);
  EXPECT_EQ(After.Text, "EFI_UNSUPPORTED=3");
  EXPECT_EQ(After.Result, After.Text.size());
}

TEST(FormatText, RejectsMissingBufferOrFormat) {
  char Buffer[8] = {SENTINEL};
  va_list Unused{};
  EXPECT_EQ(FormatText(nullptr, 8, "x", Unused), FORMAT_TEXT_ERROR);
  EXPECT_EQ(FormatText(Buffer, 8, nullptr, Unused), FORMAT_TEXT_ERROR);
  EXPECT_EQ(Buffer[0], SENTINEL);
}

// A record built with BuildStatusCodeString.
std::vector<UINT8> BuildRecord(UINTN Size, const char *Format, ...) {
  std::vector<UINT8> Buffer(Size + 16, 0xCC);
  va_list Args;
  va_start(Args, Format);
  BuildStatusCodeString(Buffer.data(), Size, Format, Args);
  va_end(Args);
  return Buffer;
}

constexpr char OVERFLOW_TEXT[] = "... DEBUG BUFFER OVERFLOW!!!\n";

TEST(StatusCodeRecord, HasTheStringDataHeaderAndTextBehindIt) {
  std::vector<UINT8> Record = BuildRecord(STATUS_CODE_RECORD_SIZE, "value %d", 17);
  const UINT8 Header[] = {20,   0,    20,   0,    0x80, 0x10, 0xD1, 0x92, 0x6F, 0x49, 0x95, 0x4D,
                          0xBE, 0x7E, 0x03, 0x74, 0x88, 0x38, 0x2B, 0x0A, 0,    0,    0,    0};
  EXPECT_EQ(std::memcmp(Record.data(), Header, sizeof(Header)), 0);
  UINT8 *Pointer = nullptr;
  std::memcpy(&Pointer, Record.data() + 24, sizeof(Pointer));
  EXPECT_EQ(Pointer, Record.data() + 40);
  for (int Index = 32; Index < 40; Index++) {
    EXPECT_EQ(Record[Index], 0) << Index;
  }
  EXPECT_STREQ(reinterpret_cast<const char *>(Record.data() + 40), "value 17");
}

TEST(StatusCodeRecord, TextOf2007CharactersOrMoreEndsInTheOverflowMarker) {
  std::vector<UINT8> Full = BuildRecord(STATUS_CODE_RECORD_SIZE, "%s", std::string(2007, 'B').c_str());
  EXPECT_EQ(std::memcmp(Full.data() + 2018, OVERFLOW_TEXT, 30), 0);
  EXPECT_EQ(Full[2017], 'B');
  EXPECT_EQ(Full[2048], 0xCC); // nothing written past the record
  std::vector<UINT8> Fits = BuildRecord(STATUS_CODE_RECORD_SIZE, "%s", std::string(2006, 'B').c_str());
  EXPECT_EQ(std::strlen(reinterpret_cast<const char *>(Fits.data() + 40)), 2006u);
}

TEST(StatusCodeRecord, SmallRecordsAndBadArguments) {
  // Too small for the marker: the text is cut and still ends in a NUL.
  std::vector<UINT8> Small = BuildRecord(69, "%s", std::string(100, 'C').c_str());
  EXPECT_EQ(Small[68], 0);
  EXPECT_EQ(Small[67], 'C');
  std::vector<UINT8> Marked = BuildRecord(70, "%s", std::string(100, 'C').c_str());
  EXPECT_EQ(std::memcmp(Marked.data() + 40, OVERFLOW_TEXT, 30), 0);
  // No room for a record: nothing is written.
  std::vector<UINT8> Tiny = BuildRecord(40, "x");
  EXPECT_EQ(Tiny[0], 0xCC);
  // No format: an empty text, not stack contents behind a marker.
  std::vector<UINT8> Empty(STATUS_CODE_RECORD_SIZE, 0xCC);
  va_list Unused{};
  BuildStatusCodeString(Empty.data(), Empty.size(), nullptr, Unused);
  EXPECT_EQ(Empty[40], 0);
  EXPECT_EQ(Empty[2018], 0xCC);
}

} // namespace
