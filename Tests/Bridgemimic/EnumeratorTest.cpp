// The board's PCI enumerator over Bridgemimic, end to end: what it finds with the setup
// variable fresh and with both AHCI controllers on, and that every buffer handed out comes
// back, so the core reports nothing outstanding for either side. Then boardsim: two boots
// on one NVRAM file with `boardsim setup` in between.
#include "BridgemimicTestBoard.h"
#include "ScratchFiles.h"

#include <Pci/PciBusDriver.h>
#include <PciEnumerator.h>

#include <TextFiles.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace bridgemimic_test {
namespace {

struct Expected {
  uint8_t Device;
  uint16_t DeviceId;
  uint8_t BaseClass;
  unsigned Bar;
  uint64_t Base;
};

const Expected AHCI2 = {2, 0x5501, 0x01, 5, 0x1A400000};
const Expected AHCI3 = {3, 0x5502, 0x01, 5, 0x1A800000};
const Expected XHCI4 = {4, 0x3530, 0x0C, 0, 0x19000000};
const Expected XHCI5 = {5, 0x3531, 0x0C, 0, 0x19800000};

TEST(Enumerator, FindsTheControllersTheSetupEnables) {
  struct Case {
    bool Ahci2, Ahci3;
    std::vector<Expected> Functions;
  };
  const Case Cases[] = {
      {false, false, {XHCI4, XHCI5}},
      {true, true, {AHCI2, AHCI3, XHCI4, XHCI5}},
      {false, true, {AHCI3, XHCI4, XHCI5}},
  };
  for (const Case &C : Cases) {
    TestBoard Board({SetupWith(C.Ahci2, C.Ahci3)});
    ASSERT_TRUE(Board.Board().ConnectAllControllers());
    const auto &Enumerations = Board.Board().Producer<host::PciBusDriver>("pci-bus")->Enumerations();
    ASSERT_EQ(Enumerations.size(), 1u) << "one host bridge, enumerated once";
    const host::PciEnumeration &Found = Enumerations.front();
    EXPECT_TRUE(Found.Problems.empty()) << Found.Problems.front();
    EXPECT_EQ(Found.HostBridges, 1u);
    ASSERT_EQ(Found.Functions.size(), C.Functions.size());
    for (size_t Index = 0; Index < C.Functions.size(); Index++) {
      const host::PciFunctionEntry &Entry = Found.Functions[Index];
      const Expected &Want = C.Functions[Index];
      EXPECT_EQ(Entry.Segment, 0xFFu);
      EXPECT_EQ(Entry.Bus, 0xFF);
      EXPECT_EQ(Entry.Device, Want.Device);
      EXPECT_EQ(Entry.DeviceId, Want.DeviceId);
      EXPECT_EQ(Entry.BaseClass, Want.BaseClass);
      ASSERT_EQ(Entry.Bars.size(), 1u);
      EXPECT_EQ(Entry.Bars[0].Index, Want.Bar);
      EXPECT_EQ(Entry.Bars[0].Address, Want.Base);
    }
    // Every list the protocols handed out went back to the pool.
    EXPECT_EQ(Board.Core().OutstandingPoolBytes(Board.Image()), 0u);
    EXPECT_EQ(Board.Core().OutstandingPoolBytes(Board.Core().FirmwareHandle()), 0u);
    EXPECT_TRUE(Board.Board().UnexpectedErrors().empty());
    EXPECT_TRUE(Board.LogContains("    FF   FF   04    00 ==> Serial Bus Controllers - USB"));
  }
}

// An AHCI BAR that is never given its address keeps reading as sized, outside the window,
// and the enumerator says so.
TEST(Enumerator, ReportsABarOutsideTheWindow) {
  TestBoard Board({SetupWith(true, false)});
  host::PciEnumeration Found = host::EnumeratePci(Board.Core(), {});
  ASSERT_EQ(Found.Problems.size(), 1u);
  EXPECT_NE(Found.Problems[0].find("FF:FF:02.0 BAR5 at 0xFFC00000 lies outside"), std::string::npos)
      << Found.Problems[0];
}

std::string RunCommand(const std::string &Command) {
  std::string Output;
  FILE *Pipe = popen((Command + " 2>&1").c_str(), "r");
  char Chunk[4096];
  for (size_t Read; (Read = fread(Chunk, 1, sizeof(Chunk), Pipe)) > 0;) {
    Output.append(Chunk, Read);
  }
  EXPECT_EQ(pclose(Pipe), 0) << Command << "\n" << Output;
  return Output;
}

TEST(Enumerator, BoardsimBootsListTheControllers) {
  const board_test::Scratch Scratch("bridgemimic-scenario");
  const std::filesystem::path &Dir = Scratch.Path();
  const std::string Nvram = (Dir / "nvram.bin").string();
  const std::string Boardsim = BOARDSIM;
  RunCommand(Boardsim + " boot --quiet --out " + (Dir / "boot1").string() + " --nvram " + Nvram);
  const std::string First = board_test::ReadFile(Dir / "boot1" / "board.log");
  EXPECT_NE(First.find("created the variable Setup"), std::string::npos);
  EXPECT_NE(First.find("2 function(s)"), std::string::npos) << First;
  EXPECT_NE(First.find("Vendor 10E8 Device 3531 Prog Interface 30"), std::string::npos);

  EXPECT_EQ(RunCommand(Boardsim + " setup --nvram " + Nvram + " ahci2 on ahci3 on"), "ahci2 on\nahci3 on\n");
  RunCommand(Boardsim + " boot --quiet --out " + (Dir / "boot2").string() + " --nvram " + Nvram);
  const std::string Second = board_test::ReadFile(Dir / "boot2" / "board.log");
  EXPECT_EQ(Second.find("created the variable Setup"), std::string::npos);
  EXPECT_NE(Second.find("PciEM: AhciController#3 Enable - 1"), std::string::npos);
  EXPECT_NE(Second.find("4 function(s)"), std::string::npos) << Second;
  EXPECT_NE(Second.find("BAR5 Mem32 base 0x1A800000 size 0x00400000"), std::string::npos);
  EXPECT_EQ(Second.find("problem:"), std::string::npos);

  EXPECT_EQ(RunCommand(Boardsim + " setup --nvram " + Nvram + " ahci2 off"), "ahci2 off\nahci3 on\n");
}

} // namespace
} // namespace bridgemimic_test
