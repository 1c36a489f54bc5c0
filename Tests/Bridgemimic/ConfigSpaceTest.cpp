// The emulated configuration space through the root bridge's Pci.Read and Pci.Write: header
// contents, presence from the setup variable, the bounds of the header, the access forms, and
// the write filter that lets only a controller's own BAR address in.
#include "BridgemimicTestBoard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace bridgemimic_test {
namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;

uint64_t Address(uint8_t Bus, uint8_t Device, uint8_t Function, uint8_t Register, uint32_t Extended = 0) {
  return EFI_PCI_ADDRESS(Bus, Device, Function, Register) | (static_cast<uint64_t>(Extended) << 32);
}

struct ReadCase {
  const char *What;
  bool Ahci2, Ahci3;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
  uint64_t Address;
  UINTN Count;
  std::vector<uint8_t> Expected; // what the buffer holds afterwards
};

std::vector<uint8_t> Words(std::initializer_list<uint32_t> Values) {
  std::vector<uint8_t> Bytes;
  for (uint32_t Value : Values) {
    for (int Byte = 0; Byte < 4; Byte++) {
      Bytes.push_back(static_cast<uint8_t>(Value >> (8 * Byte)));
    }
  }
  return Bytes;
}

TEST(ConfigSpace, ReadsTheHeadersAndAllOnesElsewhere) {
  std::vector<uint32_t> Device5(16, 0);
  Device5[0] = 0x353110E8;
  Device5[1] = 0x00000006;
  Device5[2] = 0x0C033000;
  Device5[4] = 0x19800000;
  std::vector<uint8_t> Device5Count17;
  for (uint32_t Word : Device5) {
    auto Bytes = Words({Word});
    Device5Count17.insert(Device5Count17.end(), Bytes.begin(), Bytes.end());
  }
  auto Tail = Words({ALL_ONES});
  Device5Count17.insert(Device5Count17.end(), Tail.begin(), Tail.end());

  const ReadCase Cases[] = {
      {"device 4 identity", false, false, EfiPciWidthUint32, Address(0xFF, 4, 0, 0), 1, Words({0x353010E8})},
      {"device 1", false, false, EfiPciWidthUint32, Address(0xFF, 1, 0, 0), 1, Words({ALL_ONES})},
      {"device 6", true, true, EfiPciWidthUint32, Address(0xFF, 6, 0, 0), 1, Words({ALL_ONES})},
      {"bus 0", false, false, EfiPciWidthUint32, Address(0, 4, 0, 0), 1, Words({ALL_ONES})},
      {"function 1", false, false, EfiPciWidthUint32, Address(0xFF, 4, 1, 0), 1, Words({ALL_ONES})},
      {"extended register", false, false, EfiPciWidthUint32, Address(0xFF, 4, 0, 0, 1), 1, Words({ALL_ONES})},
      {"AHCI #2 off", false, true, EfiPciWidthUint32, Address(0xFF, 2, 0, 0), 1, Words({ALL_ONES})},
      {"AHCI #2 BAR off", false, false, EfiPciWidthUint32, Address(0xFF, 2, 0, 0x24), 1, Words({ALL_ONES})},
      {"AHCI #3 off", true, false, EfiPciWidthUint32, Address(0xFF, 3, 0, 0), 1, Words({ALL_ONES})},
      {"AHCI #2 on", true, false, EfiPciWidthUint32, Address(0xFF, 2, 0, 0), 1, Words({0x5501A078})},
      {"AHCI #3 on", false, true, EfiPciWidthUint32, Address(0xFF, 3, 0, 0), 1, Words({0x5502A078})},
      {"AHCI class", true, false, EfiPciWidthUint32, Address(0xFF, 2, 0, 8), 1, Words({0x01060100})},
      {"AHCI BAR5", true, false, EfiPciWidthUint32, Address(0xFF, 2, 0, 0x24), 1, Words({0xFFC00000})},
      {"byte at 0x3F", false, false, EfiPciWidthUint8, Address(0xFF, 4, 0, 0x3F), 1, {0xFF}},
      {"word at 0x3E", false, false, EfiPciWidthUint16, Address(0xFF, 4, 0, 0x3E), 1, {0x00, 0x00}},
      {"dword straddling the end", false, false, EfiPciWidthUint32, Address(0xFF, 4, 0, 0x3E), 1,
       Words({ALL_ONES})},
      {"count 17", false, false, EfiPciWidthUint32, Address(0xFF, 5, 0, 0), 17, Device5Count17},
      {"FIFO", false, false, EfiPciWidthFifoUint32, Address(0xFF, 4, 0, 0), 3,
       Words({0x353010E8, 0x353010E8, 0x353010E8})},
      {"64-bit halves", false, false, EfiPciWidthUint64, Address(0xFF, 4, 0, 0), 1, Words({0x353010E8, 0x6})},
      {"fill form reads into one element",
       false,
       false,
       EfiPciWidthFillUint16,
       Address(0xFF, 4, 0, 0),
       2,
       {0x30, 0x35}},
  };
  for (bool Ahci2 : {false, true}) {
    for (bool Ahci3 : {false, true}) {
      TestBoard Board({SetupWith(Ahci2, Ahci3)});
      ASSERT_NE(Board.RbIo(), nullptr);
      for (const ReadCase &Case : Cases) {
        if (Case.Ahci2 != Ahci2 || Case.Ahci3 != Ahci3) {
          continue;
        }
        std::vector<uint8_t> Buffer(Case.Expected.size() + 8, 0xA5);
        EXPECT_EQ(Board.RbIo()->Pci.Read(Board.RbIo(), Case.Width, Case.Address, Case.Count, Buffer.data()),
                  EFI_SUCCESS)
            << Case.What;
        std::vector<uint8_t> Guard(Buffer.begin() + Case.Expected.size(), Buffer.end());
        Buffer.resize(Case.Expected.size());
        EXPECT_EQ(Buffer, Case.Expected) << Case.What;
        EXPECT_EQ(Guard, std::vector<uint8_t>(8, 0xA5)) << Case.What << ": wrote past the elements";
      }
    }
  }
}

TEST(ConfigSpace, RejectsBadWidthsAndNullBuffers) {
  TestBoard Board;
  auto *Io = Board.RbIo();
  ASSERT_NE(Io, nullptr);
  UINT32 Value = 0x12345678;
  EXPECT_EQ(Io->Pci.Read(Io, static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH>(12), Address(0xFF, 4, 0, 0),
                         1, &Value),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Value, 0x12345678u);
  EXPECT_EQ(Io->Pci.Read(Io, EfiPciWidthUint32, Address(0xFF, 4, 0, 0), 0, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x12345678u) << "Count 0 touches nothing";
  EXPECT_EQ(Io->Pci.Read(Io, EfiPciWidthUint32, Address(0xFF, 4, 0, 0), 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->Pci.Write(Io, EfiPciWidthUint32, Address(0xFF, 4, 0, 0x10), 1, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Io->Pci.Read(Io, EfiPciWidthUint32, Address(0xFF, 4, 0, 0), 0, nullptr), EFI_SUCCESS);
}

struct WriteCase {
  const char *What;
  uint8_t Device;
  uint8_t Register;
  uint32_t Value;
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
  uint32_t ReadBack;
};

// The cases run in order on one board with both AHCI controllers on: the later cases of a
// device see what the earlier ones left.
TEST(ConfigSpace, WriteFilterLetsOnlyTheFixedBarAddressIn) {
  const WriteCase Cases[] = {
      {"AHCI #2 sizing", 2, 0x24, ALL_ONES, EfiPciWidthUint32, 0xFFC00000},
      {"AHCI #2 other controller's address", 2, 0x24, 0x1A800000, EfiPciWidthUint32, 0xFFC00000},
      {"AHCI #2 address as fill", 2, 0x24, 0x1A400000, EfiPciWidthFillUint32, 0xFFC00000},
      {"AHCI #2 address as 64-bit", 2, 0x24, 0x1A400000, EfiPciWidthUint64, 0xFFC00000},
      {"AHCI #2 address as FIFO", 2, 0x24, 0x1A400000, EfiPciWidthFifoUint32, 0xFFC00000},
      {"AHCI #2 address at BAR0", 2, 0x10, 0x1A400000, EfiPciWidthUint32, 0},
      {"AHCI #2 address", 2, 0x24, 0x1A400000, EfiPciWidthUint32, 0x1A400000},
      {"AHCI #2 sizing after", 2, 0x24, ALL_ONES, EfiPciWidthUint32, 0x1A400000},
      {"AHCI #2 command", 2, 0x04, 0, EfiPciWidthUint32, 0x00000007},
      {"AHCI #3 address", 3, 0x24, 0x1A800000, EfiPciWidthUint32, 0x1A800000},
      {"xHCI #4 sizing", 4, 0x10, ALL_ONES, EfiPciWidthUint32, 0x19000000},
      {"xHCI #4 command", 4, 0x04, 0x7, EfiPciWidthUint32, 0x00000006},
      {"xHCI #5 moved", 5, 0x10, 0x19000000, EfiPciWidthUint32, 0x19800000},
      {"xHCI #5 identity", 5, 0x00, 0, EfiPciWidthUint32, 0x353110E8},
  };
  {
    TestBoard Board({SetupWith(true, true)});
    ASSERT_NE(Board.RbIo(), nullptr);
    for (const WriteCase &Case : Cases) {
      Board.Write32(Case.Device, Case.Register, Case.Value, Case.Width);
      EXPECT_EQ(Board.Read32(Case.Device, Case.Register), Case.ReadBack) << Case.What;
    }
  }
  // An absent controller ignores its own address.
  TestBoard Hidden({SetupWith(false, false)});
  Hidden.Write32(2, 0x24, 0x1A400000);
  EXPECT_EQ(Hidden.Read32(2, 0x24), ALL_ONES);
}

} // namespace
} // namespace bridgemimic_test
