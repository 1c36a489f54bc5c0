// PkgLength decoding in its one- to four-byte forms.
#include <IndustryStandard/Acpi.h>
#include <Library/EfiLib.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct PkgLengthCase {
  std::vector<UINT8> Bytes;
  UINTN Length;
  UINT8 Following;
};

TEST(DecodePkgLength, AllEncodedForms) {
  const PkgLengthCase Cases[] = {
      {{0x00}, 0, 0},
      {{0x3F}, 0x3F, 0},
      {{0x47, 0x0E}, 0xE7, 1}, // low nibble of the lead, then the byte shifted by 4
      {{0x4F, 0xFF}, 0xFFF, 1},
      {{0x84, 0x08, 0x01}, 0x1084, 2},
      {{0xC1, 0x23, 0x45, 0x67}, 0x6745231, 3},
      {{0xCF, 0xFF, 0xFF, 0xFF}, 0x0FFFFFFF, 3}, // the 28-bit maximum
  };
  for (const PkgLengthCase &Case : Cases) {
    SCOPED_TRACE(::testing::PrintToString(Case.Bytes));
    UINT8 Following = 0xEE;
    EXPECT_EQ(DecodePkgLength(Case.Bytes.data(), &Following), Case.Length);
    EXPECT_EQ(Following, Case.Following);
    EXPECT_EQ(DecodePkgLength(Case.Bytes.data(), nullptr), Case.Length);
  }
}

TEST(DecodePkgLength, OneByteFormIgnoresNothingButTheCountBits) {
  // With no following bytes all six low bits count; with following bytes only four do.
  const UINT8 Short[] = {0x30};
  const UINT8 Long[] = {0x70, 0x01};
  EXPECT_EQ(DecodePkgLength(Short, nullptr), 0x30u);
  EXPECT_EQ(DecodePkgLength(Long, nullptr), 0x10u);
}

TEST(FindNameSeg, MatchesTheFirstWholeSegmentInRange) {
  UINT8 Bytes[] = {'X', '_', 'S', 'B', '_', '_', 'S', 'B', '_'};
  const UINT32 Seg = SIGNATURE_32('_', 'S', 'B', '_');
  EXPECT_EQ(FindNameSeg(Bytes, Seg, sizeof(Bytes)), Bytes + 1);
  EXPECT_EQ(FindNameSeg(Bytes + 2, Seg, sizeof(Bytes) - 2), Bytes + 5);
  EXPECT_EQ(FindNameSeg(Bytes + 2, Seg, sizeof(Bytes) - 3), nullptr);
  EXPECT_EQ(FindNameSeg(nullptr, Seg, 8), nullptr);
}

TEST(FindAmlObject, ShortNamesArePaddedWithUnderscores) {
  // Name (_SB, 1) with and without a root prefix in front of the segment.
  UINT8 Plain[] = {AML_NAME_OP, '_', 'S', 'B', '_', 0x01};
  UINT8 Rooted[] = {AML_NAME_OP, AML_ROOT_CHAR, '_', 'S', 'B', '_', 0x01};
  AML_OBJECT_INFO Info;
  ASSERT_EQ(FindAmlObject(Plain, sizeof(Plain), "_SB", AmlName, &Info), EFI_SUCCESS);
  EXPECT_EQ(Info.Object, Plain);
  EXPECT_EQ(Info.Name, Plain + 1);
  ASSERT_EQ(FindAmlObject(Rooted, sizeof(Rooted), "_SB", AmlName, &Info), EFI_SUCCESS);
  EXPECT_EQ(Info.Object, Rooted);
  EXPECT_EQ(Info.Name, Rooted + 1); // the root prefix counts as part of the name
  EXPECT_EQ(Info.DataStart, Rooted + 6);
  EXPECT_EQ(FindAmlObject(Plain, sizeof(Plain), "_SB_X", AmlName, &Info), EFI_SUCCESS); // four used
  EXPECT_EQ(FindAmlObject(Plain, sizeof(Plain), "_S", AmlName, &Info), EFI_NOT_FOUND);
}

} // namespace
