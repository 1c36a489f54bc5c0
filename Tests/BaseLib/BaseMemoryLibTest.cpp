// Copy, fill and compare, including overlapping and unaligned buffers.
#include <Library/BaseMemoryLib.h>

#include <gtest/gtest.h>

#include <array>
#include <numeric>

namespace {

TEST(BaseMemoryLib, CopyHandlesOverlapInBothDirections) {
  for (size_t Offset : {1u, 3u, 8u}) {
    for (size_t Length : {5u, 16u, 40u}) {
      alignas(8) std::array<UINT8, 64> Forward{}, Backward{};
      std::iota(Forward.begin(), Forward.end(), 0);
      std::iota(Backward.begin(), Backward.end(), 0);
      CopyMem(Forward.data(), Forward.data() + Offset, Length);   // destination below source
      CopyMem(Backward.data() + Offset, Backward.data(), Length); // destination above source
      for (size_t Index = 0; Index < Length; Index++) {
        ASSERT_EQ(Forward[Index], Index + Offset) << Offset << "/" << Length;
        ASSERT_EQ(Backward[Index + Offset], Index) << Offset << "/" << Length;
      }
      EXPECT_EQ(Forward[Length], Length) << "byte after the copy changed";
    }
  }
}

TEST(BaseMemoryLib, FillsRespectTheirLength) {
  alignas(8) std::array<UINT8, 20> Bytes{};
  SetMem(Bytes.data() + 1, 17, 0xAF);
  EXPECT_EQ(Bytes[0], 0);
  EXPECT_EQ(Bytes[1], 0xAF);
  EXPECT_EQ(Bytes[17], 0xAF);
  EXPECT_EQ(Bytes[18], 0);
  alignas(8) std::array<UINT8, 16> Words{};
  SetMem(Words.data(), 16, 0x5A);
  EXPECT_EQ(Words[15], 0x5A);
  std::array<UINT16, 4> Halves{};
  SetMem16(Halves.data(), 7, 0xBEEF); // three whole elements
  EXPECT_EQ(Halves[2], 0xBEEF);
  EXPECT_EQ(Halves[3], 0);
  std::array<UINT32, 3> Fulls{};
  SetMem32(Fulls.data(), 8, 0x12345678);
  EXPECT_EQ(Fulls[1], 0x12345678u);
  EXPECT_EQ(Fulls[2], 0u);
  ZeroMem(Fulls.data(), sizeof(Fulls));
  EXPECT_EQ(Fulls[0], 0u);
}

TEST(BaseMemoryLib, CompareAndGuids) {
  const UINT8 A[] = {1, 2, 0x80};
  const UINT8 B[] = {1, 2, 0x7F};
  EXPECT_GT(CompareMem(A, B, 3), 0);
  EXPECT_EQ(CompareMem(A, B, 2), 0);
  EFI_GUID First = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EFI_GUID Second{};
  EXPECT_FALSE(CompareGuid(&First, &Second));
  EXPECT_EQ(CopyGuid(&Second, &First), &Second);
  EXPECT_TRUE(CompareGuid(&First, &Second));
}

} // namespace
