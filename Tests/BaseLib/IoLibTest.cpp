// The host IoLib forwards each access with its width; the read-modify-write helpers combine
// the read value as documented. A register file stands in for the board.
#include <HostAbi.h>
#include <Library/IoLib.h>

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

namespace {

std::map<UINT64, UINT64> Registers;
std::vector<std::pair<UINT64, UINT32>> Accesses; // (address, width)

} // namespace

extern "C" {
UINT64 HostAbiMmioRead(UINT64 Address, UINT32 Width) {
  Accesses.emplace_back(Address, Width);
  return Registers[Address];
}
VOID HostAbiMmioWrite(UINT64 Address, UINT32 Width, UINT64 Value) {
  Accesses.emplace_back(Address, Width);
  Registers[Address] = Value;
}
VOID HostAbiMemoryFence(VOID) {}
}

namespace {

TEST(IoLib, WidthsAndReadModifyWrite) {
  Registers = {{0x1000, 0xF0F0F0F0}};
  Accesses.clear();
  EXPECT_EQ(MmioAndThenOr32(0x1000, 0xFFFF0000, 0x00000005), 0xF0F00005u);
  EXPECT_EQ(Registers[0x1000], 0xF0F00005u);
  EXPECT_EQ(MmioOr32(0x1000, 0x0F000000), 0xFFF00005u);
  EXPECT_EQ(MmioAnd32(0x1000, 0x000000FF), 0x5u);
  EXPECT_EQ(MmioWrite8(0x2000, 0xAB), 0xAB);
  EXPECT_EQ(MmioRead16(0x2000), 0xAB);
  EXPECT_EQ(MmioWrite64(0x3000, 0x1122334455667788ULL), 0x1122334455667788ULL);
  std::vector<std::pair<UINT64, UINT32>> Expected = {{0x1000, 4}, {0x1000, 4}, {0x1000, 4},
                                                     {0x1000, 4}, {0x1000, 4}, {0x1000, 4},
                                                     {0x2000, 1}, {0x2000, 2}, {0x3000, 8}};
  EXPECT_EQ(Accesses, Expected);
}

} // namespace
