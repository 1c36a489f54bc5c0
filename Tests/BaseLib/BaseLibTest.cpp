// String routines: safe-copy error returns, number parsing, width conversion.
#include <Library/BaseLib.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SafeString, CopyChecksArgumentsBeforeWriting) {
  CHAR16 Buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(StrCpyS(nullptr, 4, u"a"), RETURN_INVALID_PARAMETER);
  EXPECT_EQ(StrCpyS(Buffer, 4, nullptr), RETURN_INVALID_PARAMETER);
  EXPECT_EQ(StrCpyS(Buffer, 0, u"a"), RETURN_INVALID_PARAMETER);
  EXPECT_EQ(StrCpyS(Buffer, MAX_UNICODE_STRING_LENGTH + 1, u"a"), RETURN_INVALID_PARAMETER);
  // Four characters need five slots: too small, and the destination is untouched.
  EXPECT_EQ(StrCpyS(Buffer, 4, u"abcd"), RETURN_BUFFER_TOO_SMALL);
  EXPECT_EQ(Buffer[0], u'x');
  EXPECT_EQ(StrCpyS(Buffer, 4, u"abc"), RETURN_SUCCESS);
  EXPECT_EQ(std::u16string(Buffer), u"abc");

  CHAR8 Overlap[8] = "abcdef";
  EXPECT_EQ(AsciiStrCpyS(Overlap + 1, 7, Overlap), RETURN_ACCESS_DENIED);
  EXPECT_STREQ(Overlap, "abcdef");
}

TEST(SafeString, BoundedCopyTakesAtMostLength) {
  CHAR8 Buffer[4];
  EXPECT_EQ(AsciiStrnCpyS(Buffer, 4, "abcdefgh", 3), RETURN_SUCCESS);
  EXPECT_STREQ(Buffer, "abc");
  EXPECT_EQ(AsciiStrnCpyS(Buffer, 4, "abcdefgh", 4), RETURN_BUFFER_TOO_SMALL);
  EXPECT_EQ(AsciiStrnCpyS(Buffer, 4, "ab", 10), RETURN_SUCCESS);
  EXPECT_STREQ(Buffer, "ab");
  CHAR16 Wide[4];
  EXPECT_EQ(StrnCpyS(Wide, 4, u"wxyz", 2), RETURN_SUCCESS);
  EXPECT_EQ(std::u16string(Wide), u"wx");
}

TEST(SafeString, Concatenation) {
  CHAR16 Buffer[6] = u"ab";
  EXPECT_EQ(StrCatS(Buffer, 6, u"cd"), RETURN_SUCCESS);
  EXPECT_EQ(std::u16string(Buffer), u"abcd");
  EXPECT_EQ(StrCatS(Buffer, 6, u"ef"), RETURN_BUFFER_TOO_SMALL);
  EXPECT_EQ(std::u16string(Buffer), u"abcd");
  // No NUL within DestMax: the destination is not a string of that size.
  CHAR16 Full[3] = {u'a', u'b', u'c'};
  EXPECT_EQ(StrCatS(Full, 3, u""), RETURN_BAD_BUFFER_SIZE);
  CHAR8 Narrow[8] = "ab";
  EXPECT_EQ(AsciiStrCatS(Narrow, 8, Narrow + 1), RETURN_ACCESS_DENIED);
}

TEST(StringCompare, LengthAndOrder) {
  EXPECT_EQ(StrLen(u"abc"), 3u);
  EXPECT_EQ(StrSize(u"abc"), 8u);
  EXPECT_EQ(AsciiStrSize(""), 1u);
  EXPECT_EQ(StrnLenS(u"abcdef", 4), 4u);
  EXPECT_EQ(StrLen(nullptr), 0u);
  EXPECT_EQ(StrCmp(u"abc", u"abc"), 0);
  EXPECT_LT(StrCmp(u"ab", u"abc"), 0);
  EXPECT_GT(AsciiStrCmp("b", "a"), 0);
  EXPECT_EQ(AsciiStrnCmp("abcX", "abcY", 3), 0);
  // Bytes above 0x7F order after ASCII, whatever the signedness of char.
  EXPECT_GT(AsciiStrCmp("\xE9", "z"), 0);
}

TEST(StringToNumber, DecimalAndHex) {
  EXPECT_EQ(AsciiStrDecimalToUintn("  0042xyz"), 42u);
  EXPECT_EQ(StrDecimalToUintn(u"\t17"), 17u);
  EXPECT_EQ(AsciiStrDecimalToUintn("abc"), 0u);
  EXPECT_EQ(AsciiStrDecimalToUintn("18446744073709551615"), MAX_UINTN);
  EXPECT_EQ(AsciiStrDecimalToUintn("18446744073709551616"), MAX_UINTN);
  EXPECT_EQ(AsciiStrDecimalToUintn("99999999999999999999"), MAX_UINTN);
  EXPECT_EQ(AsciiStrHexToUintn("  0x1aF g"), 0x1AFu);
  EXPECT_EQ(StrHexToUintn(u"00FF"), 0xFFu);
  EXPECT_EQ(AsciiStrHexToUintn("x12"), 0u);
  EXPECT_EQ(AsciiStrHexToUintn("0x"), 0u);
  EXPECT_EQ(AsciiStrHexToUintn("1FFFFFFFFFFFFFFFF"), MAX_UINTN);
}

TEST(StringWidth, ConversionBothWays) {
  CHAR8 Narrow[8];
  EXPECT_EQ(UnicodeStrToAsciiStrS(u"MAC0", Narrow, 8), RETURN_SUCCESS);
  EXPECT_STREQ(Narrow, "MAC0");
  EXPECT_EQ(UnicodeStrToAsciiStrS(u"MAC0", Narrow, 4), RETURN_BUFFER_TOO_SMALL);
  Narrow[0] = 'Z';
  EXPECT_EQ(UnicodeStrToAsciiStrS(u"a\u0100", Narrow, 8), RETURN_INVALID_PARAMETER);
  EXPECT_EQ(Narrow[0], 'Z');
  CHAR16 Wide[8];
  EXPECT_EQ(AsciiStrToUnicodeStrS("e\xE9", Wide, 8), RETURN_SUCCESS);
  EXPECT_EQ(std::u16string(Wide), u"e\u00E9");
  EXPECT_EQ(AsciiStrToUnicodeStrS("abc", Wide, 0), RETURN_INVALID_PARAMETER);
}

} // namespace
