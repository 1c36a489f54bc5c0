// The MAC text check and the byte-pattern search, on their own.
#include <gtest/gtest.h>

#include <Library/EfiLib.h>

#include "Nicpatch.h"

#include <cstring>
#include <string>

namespace {

TEST(ValidateMacText, AcceptsUnicastTextsInEitherCase) {
  EXPECT_EQ(ValidateMacText("00:11:22:33:44:55"), EFI_SUCCESS);
  EXPECT_EQ(ValidateMacText("02:5A:fF:00:00:01"), EFI_SUCCESS);
  EXPECT_EQ(ValidateMacText("fe:ff:ff:ff:ff:ff"), EFI_SUCCESS);
  // Only bit 0 of the first byte is the group bit; later bytes may be odd.
  EXPECT_EQ(ValidateMacText("00:00:00:00:00:01"), EFI_SUCCESS);
}

TEST(ValidateMacText, RejectsGroupAndAllZeroAddresses) {
  EXPECT_EQ(ValidateMacText("01:00:5e:00:00:01"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ValidateMacText("FF:FF:FF:FF:FF:FF"), EFI_INVALID_PARAMETER);
  EXPECT_EQ(ValidateMacText("00:00:00:00:00:00"), EFI_INVALID_PARAMETER);
}

TEST(ValidateMacText, RejectsMalformedTexts) {
  const char *Malformed[] = {
      "",                   // empty
      "00:11:22:33:44:5",   // 16 characters
      "00:11:22:33:44:555", // 18 characters
      "00:11:22:33:44:55 ", // trailing blank
      "00-11-22-33-44-55",  // wrong separator
      "0:011:22:33:44:55",  // separator out of place
      "00:11:22:33:44:5g",  // not a hex digit
      "00:11:22:33:44::5",  // separator where a digit belongs
      " 0:11:22:33:44:55",  // blank as a digit
  };
  for (const char *Text : Malformed) {
    EXPECT_EQ(ValidateMacText(Text), EFI_INVALID_PARAMETER) << '"' << Text << '"';
  }
  EXPECT_EQ(ValidateMacText(nullptr), EFI_INVALID_PARAMETER);
}

TEST(ValidateMacText, NeverReadsPastTheTerminator) {
  // A short text at the very end of a buffer: the check must stop at its NUL.
  char Buffer[6] = {'0', '0', ':', '1', '1', '\0'};
  EXPECT_EQ(ValidateMacText(Buffer), EFI_INVALID_PARAMETER);
}

const UINT8 *Bytes(const char *Text) {
  return reinterpret_cast<const UINT8 *>(Text);
}

TEST(FindBytes, FindsTheFirstOccurrenceInsideTheData) {
  const char *Data = "xxabcabc";
  EXPECT_EQ(FindBytes(Bytes(Data), 8, Bytes("abc"), 3), Bytes(Data) + 2);
  // A match that ends exactly at the last byte counts.
  EXPECT_EQ(FindBytes(Bytes(Data), 8, Bytes("cabc"), 4), Bytes(Data) + 4);
  // A partial match overlapping the real one does not hide it.
  EXPECT_EQ(FindBytes(Bytes("aaab"), 4, Bytes("aab"), 3), Bytes("aaab") + 1);
  EXPECT_EQ(FindBytes(Bytes(Data), 8, Bytes(Data), 8), Bytes(Data));
}

TEST(FindBytes, ReturnsNullWhenThePatternCannotLieInsideTheData) {
  const char *Data = "xxabcabc";
  EXPECT_EQ(FindBytes(Bytes(Data), 8, Bytes("abd"), 3), nullptr);
  // The pattern continues past DataLength: not a match.
  EXPECT_EQ(FindBytes(Bytes(Data), 7, Bytes("cabc"), 4), nullptr);
  EXPECT_EQ(FindBytes(Bytes(Data), 2, Bytes("xxa"), 3), nullptr);
  EXPECT_EQ(FindBytes(Bytes(Data), 0, Bytes("x"), 1), nullptr);
  EXPECT_EQ(FindBytes(Bytes(Data), 8, Bytes(""), 0), nullptr);
  EXPECT_EQ(FindBytes(nullptr, 8, Bytes("x"), 1), nullptr);
  EXPECT_EQ(FindBytes(Bytes(Data), 8, nullptr, 1), nullptr);
}

TEST(FindBytes, MatchesBinaryBytesIncludingNul) {
  const UINT8 Data[] = {0x00, 0x0D, 0x00, 0x0D, 0x41, 0x00};
  const UINT8 Pattern[] = {0x0D, 0x41, 0x00};
  EXPECT_EQ(FindBytes(Data, sizeof(Data), Pattern, sizeof(Pattern)), Data + 3);
}

} // namespace
