// Print conventions the modules rely on, in the 8- and 16-bit variants.
#include <Library/PrintLib.h>

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

template <typename... Args> std::string Ascii(const char *Format, Args... Arguments) {
  char Buffer[256];
  UINTN Count = AsciiSPrint(Buffer, sizeof(Buffer), Format, Arguments...);
  EXPECT_EQ(Count, std::char_traits<char>::length(Buffer));
  return Buffer;
}

template <typename... Args> std::u16string Unicode(const char16_t *Format, Args... Arguments) {
  char16_t Buffer[256];
  UINTN Count = UnicodeSPrint(Buffer, sizeof(Buffer), Format, Arguments...);
  EXPECT_EQ(Count, std::char_traits<char16_t>::length(Buffer));
  return Buffer;
}

const EFI_GUID DebugOutputGuid = {
    0x36232936, 0x0E76, 0x31C8, {0xA1, 0x3A, 0x3A, 0xF2, 0xFC, 0x1C, 0x39, 0x32}};

TEST(PrintLib, IntegerWidthsAndFill) {
  EXPECT_EQ(Ascii("%08X", 0x1234), "00001234");
  EXPECT_EQ(Ascii("%5d|", 42), "   42|");
  EXPECT_EQ(Ascii("%-5d|", 42), "42   |");
  EXPECT_EQ(Ascii("%05d", -5), "-0005");
  EXPECT_EQ(Ascii("%*d", 6, 42), "    42");
  EXPECT_EQ(Ascii("%*d|", -4, 42), "42  |");
  EXPECT_EQ(Ascii("%.*a", 2, "abc"), "ab");
  EXPECT_EQ(Ascii("%.3d", 5), "005");
  EXPECT_EQ(Ascii("%+d %+d", 5, -5), "+5 -5");
  EXPECT_EQ(Ascii("%,d", 1234567), "1,234,567");
  EXPECT_EQ(Ascii("%,d", -999), "-999");
  EXPECT_EQ(Ascii("%02x:%02x", 0xa, 0xbc), "0a:bc");
  // %X zero-fills to the width without an explicit '0'.
  EXPECT_EQ(Ascii("%4X", 0xa), "000A");
}

TEST(PrintLib, IntegerSizesFollowTheLongPrefix) {
  EXPECT_EQ(Ascii("%x", -1), "ffffffff");
  EXPECT_EQ(Ascii("%lx", -1LL), "ffffffffffffffff");
  EXPECT_EQ(Ascii("%X", 0xDEADBEEFu), "DEADBEEF");
  EXPECT_EQ(Ascii("%u", -1), "4294967295");
  EXPECT_EQ(Ascii("%d", INT32_MIN), "-2147483648");
  EXPECT_EQ(Ascii("%ld", INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(Ascii("%Lu", UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(Ascii("%lX", 0x123456789ABCDEF0ULL), "123456789ABCDEF0");
  // A 32-bit conversion must consume exactly one argument slot and leave the next intact.
  EXPECT_EQ(Ascii("%x %a", 0x7, "next"), "7 next");
  EXPECT_EQ(Ascii("%p", reinterpret_cast<void *>(0x1234)), "0000000000001234");
}

TEST(PrintLib, StatusNamesAndUnnamedStatuses) {
  EXPECT_EQ(Ascii("%r", EFI_NOT_FOUND), "EFI_NOT_FOUND");
  EXPECT_EQ(Ascii("%r", EFI_SUCCESS), "EFI_SUCCESS");
  EXPECT_EQ(Ascii("%r", EFI_NOT_AVAILABLE_YET), "EFI_NOT_AVAILABLE_YET");
  EXPECT_EQ(Ascii("%r", EFI_DBE_BOF), "EFI_DBE_BOF");
  // Unnamed: the whole 64-bit value, so an error stays distinguishable from a warning.
  EXPECT_EQ(Ascii("%r", EncodeError(34)), "8000000000000022");
  EXPECT_EQ(Ascii("%r", MAX_BIT), "8000000000000000");
  EXPECT_EQ(Ascii("%r", EncodeWarning(34)), "0000000000000022");
  EXPECT_EQ(Unicode(u"S=%r.", EFI_WARN_BUFFER_TOO_SMALL), u"S=EFI_WARN_BUFFER_TOO_SMALL.");
}

TEST(PrintLib, GuidsStringsAndCharacters) {
  EXPECT_EQ(Ascii("%g", &DebugOutputGuid), "36232936-0e76-31c8-a13a-3af2fc1c3932");
  EXPECT_EQ(Unicode(u"%g", &DebugOutputGuid), u"36232936-0e76-31c8-a13a-3af2fc1c3932");
  EXPECT_EQ(Ascii("[%a|%s|%S]", "eight", u"wide", u"Wide"), "[eight|wide|Wide]");
  EXPECT_EQ(Unicode(u"[%a|%s|%c]", "eight", u"wide", u'W'), u"[eight|wide|W]");
  EXPECT_EQ(Ascii("%-6a|%6a|%.2a", "ab", "cd", "efgh"), "ab    |    cd|ef");
  EXPECT_EQ(Ascii("%a", static_cast<const char *>(nullptr)), "<null string>");
  // A CHAR16 that does not fit 8 bits must not become a NUL in the middle of 8-bit text.
  EXPECT_EQ(Ascii("%s!", u"a\u2500b"), "a?b!");
}

// Characters placed right before an inaccessible page: reading one past them faults.
template <typename Char> class GuardedText {
public:
  explicit GuardedText(const Char *Text, size_t Count) : Page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void *Map = mmap(nullptr, 2 * Page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(Map, MAP_FAILED);
    Base_ = static_cast<char *>(Map);
    EXPECT_EQ(mprotect(Base_ + Page_, Page_, PROT_NONE), 0);
    Text_ = reinterpret_cast<Char *>(Base_ + Page_) - Count;
    std::memcpy(Text_, Text, Count * sizeof(Char));
  }
  ~GuardedText() { munmap(Base_, 2 * Page_); }
  const Char *Get() const { return Text_; }

private:
  size_t Page_;
  char *Base_ = nullptr;
  Char *Text_ = nullptr;
};

TEST(PrintLib, PrecisionBoundsTheReadOfUnterminatedStrings) {
  // A four-character table signature has no terminator; "%.4a" must read four bytes only.
  GuardedText<char> Signature("DSDT", 4);
  EXPECT_EQ(Ascii("[%.4a]", Signature.Get()), "[DSDT]");
  EXPECT_EQ(Ascii("[%.*a]", 4, Signature.Get()), "[DSDT]");
  GuardedText<char16_t> Wide(u"ABCD", 4);
  EXPECT_EQ(Unicode(u"[%.4s]", Wide.Get()), u"[ABCD]");
  EXPECT_EQ(Ascii("[%-6.4s]", Wide.Get()), "[ABCD  ]");
}

TEST(PrintLib, PercentSignsAndUnknownConversions) {
  EXPECT_EQ(Ascii("100%%"), "100%");
  EXPECT_EQ(Ascii("%q"), "q");
  EXPECT_EQ(Ascii("end%"), "end");
}

TEST(PrintLib, MixedFormatAndOutputWidths) {
  char16_t Wide[32];
  EXPECT_EQ(UnicodeSPrintAsciiFormat(Wide, sizeof(Wide), "%a=%d", "n", 7), 3u);
  EXPECT_EQ(std::u16string(Wide), u"n=7");
  char Narrow[32];
  EXPECT_EQ(AsciiSPrintUnicodeFormat(Narrow, sizeof(Narrow), u"%s=%x", u"n", 255), 4u);
  EXPECT_EQ(std::string(Narrow), "n=ff");
}

TEST(PrintLib, OutputStopsAtBufferSizeAndStaysTerminated) {
  char Narrow[8];
  std::fill(std::begin(Narrow), std::end(Narrow), 'Z');
  EXPECT_EQ(AsciiSPrint(Narrow, 6, "abcdefgh"), 5u);
  EXPECT_STREQ(Narrow, "abcde");
  EXPECT_EQ(Narrow[6], 'Z');

  // BufferSize counts bytes: 7 bytes hold three CHAR16 characters including the NUL.
  char16_t Wide[8];
  std::fill(std::begin(Wide), std::end(Wide), u'Z');
  EXPECT_EQ(UnicodeSPrint(Wide, 7, u"%d", 12345), 2u);
  EXPECT_EQ(std::u16string(Wide), u"12");
  EXPECT_EQ(Wide[3], u'Z');

  // Long conversions are cut at the limit too.
  EXPECT_EQ(AsciiSPrint(Narrow, 5, "%r", EFI_NOT_FOUND), 4u);
  EXPECT_STREQ(Narrow, "EFI_");
  EXPECT_EQ(AsciiSPrint(Narrow, 4, "%08X", 0x1234), 3u);
  EXPECT_STREQ(Narrow, "000");

  // No room even for the NUL: nothing is written.
  Narrow[0] = 'Z';
  EXPECT_EQ(AsciiSPrint(Narrow, 0, "x"), 0u);
  EXPECT_EQ(Narrow[0], 'Z');
  Wide[0] = u'Z';
  EXPECT_EQ(UnicodeSPrint(Wide, 1, u"x"), 0u);
  EXPECT_EQ(Wide[0], u'Z');
  EXPECT_EQ(AsciiSPrint(Narrow, 1, "x"), 0u);
  EXPECT_EQ(Narrow[0], '\0');
}

} // namespace
