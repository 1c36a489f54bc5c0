// The driver's entry: what it prints, how the setup variable decides the optional
// controllers, the assertions on a missing variable and a missing CPU architectural protocol,
// and a failed root bridge installation that leaves nothing behind.
#include "BridgemimicTestBoard.h"

#include <Pci/PlatformSetup.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace bridgemimic_test {
namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;

TEST(Entry, PrintsTheSetupAndInstallsBothProtocols) {
  TestBoard Board({SetupWith(true, false)});
  ASSERT_EQ(Board.Result().Status, EFI_SUCCESS);
  for (const char *Line : {"PciEM: GetVariable - EFI_SUCCESS", "PciEM: AhciController#2 Enable - 1",
                           "PciEM: AhciController#3 Enable - 0",
                           "PciEm: InstallMultipleProtocolInterfaces(ResAlloc)=EFI_SUCCESS",
                           "PciEm: InstallMultipleProtocolInterfaces(RbIo; DevPath)=EFI_SUCCESS"}) {
    EXPECT_TRUE(Board.LogContains(Line)) << Line;
  }
  ASSERT_NE(Board.RbIo(), nullptr);
  ASSERT_NE(Board.ResAlloc(), nullptr);
  VOID *Path = nullptr;
  ASSERT_EQ(Board.Core().BootServices()->HandleProtocol(Board.RbHandle(), &gEfiDevicePathProtocolGuid, &Path),
            EFI_SUCCESS);
  const std::vector<uint8_t> Expected = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A,
                                         0xFF, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0x04, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t *>(Path), static_cast<uint8_t *>(Path) + 16), Expected);
  VOID *Alloc = nullptr;
  EXPECT_EQ(Board.Core().BootServices()->HandleProtocol(
                Board.RbIo()->ParentHandle, &gEfiPciHostBridgeResourceAllocationProtocolGuid, &Alloc),
            EFI_SUCCESS);
  EXPECT_EQ(Alloc, Board.ResAlloc());
}

// A missing or oversized variable is a failed assertion: with the debug-output protocol the
// driver stops there; without it the driver goes on with the optional controllers hidden.
TEST(Entry, SetupVariableThatCannotBeReadAsserts) {
  std::vector<uint8_t> Oversized = SetupWith(true, true);
  Oversized.resize(101, 0);
  for (const std::optional<std::vector<uint8_t>> &Setup :
       {std::optional<std::vector<uint8_t>>{}, {Oversized}}) {
    {
      TestBoard Halting({Setup, true});
      ASSERT_TRUE(Halting.Result().Halted.has_value());
      EXPECT_TRUE(Halting.LogContains("ASSERT_EFI_ERROR (Status = EFI_")) << Halting.Core().Log().Text();
      EXPECT_TRUE(Halting.LogContains("!EFI_ERROR (Status)"));
      EXPECT_EQ(Halting.RbIo(), nullptr);
    }

    TestBoard Going({Setup, false});
    EXPECT_FALSE(Going.Result().Halted.has_value());
    EXPECT_EQ(Going.Result().Status, EFI_SUCCESS);
    ASSERT_NE(Going.RbIo(), nullptr);
    EXPECT_EQ(Going.Read32(2, 0), ALL_ONES);
    EXPECT_EQ(Going.Read32(3, 0), ALL_ONES);
    EXPECT_EQ(Going.Read32(4, 0), 0x353010E8u);
  }
}

TEST(Entry, MissingCpuArchProtocolAsserts) {
  TestBoard Board({SetupWith(false, false), true, false});
  ASSERT_TRUE(Board.Result().Halted.has_value());
  EXPECT_TRUE(Board.LogContains("!EFI_ERROR (Status)")) << Board.Core().Log().Text();
}

// The root bridge's device path already belongs to another handle: the second installation
// fails and the driver takes its host bridge back before the image is unloaded.
TEST(Entry, FailedRootBridgeInstallationUninstallsTheHostBridge) {
  host::Platform Core;
  host::BoardOptions Options;
  Options.Modules = {"Bridgemimic"};
  auto Board = host::Board::Build(Core, Options);
  static const uint8_t Path[] = {0x02, 0x01, 0x0C, 0x00, 0xD0, 0x41, 0x03, 0x0A,
                                 0xFF, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0x04, 0x00};
  EFI_HANDLE Other = nullptr;
  ASSERT_EQ(Core.BootServices()->InstallProtocolInterface(&Other, &gEfiDevicePathProtocolGuid,
                                                          EFI_NATIVE_INTERFACE, const_cast<uint8_t *>(Path)),
            EFI_SUCCESS);
  const host::ImageResult Result = Board->Dispatch().front();
  EXPECT_TRUE(EFI_ERROR(Result.Status));
  EXPECT_TRUE(Result.Unloaded);
  VOID *Interface = nullptr;
  EXPECT_EQ(Core.BootServices()->LocateProtocol(&gEfiPciHostBridgeResourceAllocationProtocolGuid, nullptr,
                                                &Interface),
            EFI_NOT_FOUND);
  EXPECT_TRUE(Board->UnexpectedErrors().empty());
}

} // namespace
} // namespace bridgemimic_test
