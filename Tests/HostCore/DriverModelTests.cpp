// ConnectController and DisconnectController driving Supported, Start and Stop.
#include "CoreTestSupport.h"

#include <algorithm>

using namespace coretest;

namespace {

class DriverModel : public CoreTest {
protected:
  std::vector<std::string> Calls;
  int A = 0;
};

TEST_F(DriverModel, HigherVersionsAreAskedFirstAndOnlyOneDriverGetsTheController) {
  HostDriver Low;
  Low.Name = "low";
  Low.Calls = &Calls;
  Low.Install(BS, 0x10);
  HostDriver High;
  High.Name = "high";
  High.Calls = &Calls;
  High.Install(BS, 0x20);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);

  EXPECT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  // high starts; low is then asked but cannot open the interface BY_DRIVER.
  std::vector<std::string> Expected = {"high.Supported", "high.Start", "low.Supported", "low.Start"};
  EXPECT_EQ(Calls, Expected);

  // A driver named by the caller goes first.
  Calls.clear();
  EXPECT_EQ(BS->DisconnectController(Controller, nullptr, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Calls, std::vector<std::string>{"high.Stop(0)"});
  Calls.clear();
  EFI_HANDLE Named[] = {Low.Binding.DriverBindingHandle, nullptr};
  EXPECT_EQ(BS->ConnectController(Controller, Named, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Calls.at(0), "low.Supported");
  EXPECT_EQ(Calls.at(1), "low.Start");
}

TEST_F(DriverModel, NothingToConnectIsNotFound) {
  HostDriver Driver;
  Driver.Name = "drv";
  Driver.Install(BS, 1);
  EFI_HANDLE Unrelated = NewHandle(kGuidC, &A);
  EXPECT_EQ(BS->ConnectController(Unrelated, nullptr, nullptr, FALSE), EFI_NOT_FOUND);
  EXPECT_EQ(BS->ConnectController(nullptr, nullptr, nullptr, FALSE), EFI_INVALID_PARAMETER);
  // Nobody manages it, so there is nothing to disconnect.
  EXPECT_EQ(BS->DisconnectController(Unrelated, nullptr, nullptr), EFI_SUCCESS);
}

TEST_F(DriverModel, RecursiveConnectReachesChildrenAndDisconnectStopsChildrenFirst) {
  HostDriver Bus;
  Bus.Name = "bus";
  Bus.Calls = &Calls;
  Bus.CreateChild = true;
  Bus.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);

  EXPECT_EQ(BS->ConnectController(Controller, nullptr, nullptr, TRUE), EFI_SUCCESS);
  ASSERT_EQ(Bus.Children.size(), 1u);
  // The child (kGuidB only) was offered to the driver too.
  EXPECT_EQ(std::count(Calls.begin(), Calls.end(), "bus.Supported"), 2);

  Calls.clear();
  EFI_HANDLE Child = Bus.Children.front();
  EXPECT_EQ(BS->DisconnectController(Controller, nullptr, nullptr), EFI_SUCCESS);
  std::vector<std::string> Expected = {"bus.Stop(1)", "bus.Stop(0)"};
  EXPECT_EQ(Calls, Expected);
  EXPECT_TRUE(Bus.Children.empty());
  VOID *Interface = nullptr;
  EFI_GUID ChildGuid = kGuidB;
  EXPECT_EQ(BS->HandleProtocol(Child, &ChildGuid, &Interface), EFI_INVALID_PARAMETER);
}

TEST_F(DriverModel, DisconnectingOneChildKeepsTheDriverOnTheController) {
  HostDriver Bus;
  Bus.Name = "bus";
  Bus.Calls = &Calls;
  Bus.CreateChild = true;
  Bus.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  // A second start is refused by the driver (already started), creating no second child.
  ASSERT_EQ(Bus.Children.size(), 1u);
  Calls.clear();
  EFI_HANDLE Child = Bus.Children.front();
  EXPECT_EQ(BS->DisconnectController(Controller, Bus.Binding.DriverBindingHandle, Child), EFI_SUCCESS);
  // That was the only child, so the driver stops on the controller as well.
  std::vector<std::string> Expected = {"bus.Stop(1)", "bus.Stop(0)"};
  EXPECT_EQ(Calls, Expected);
  EXPECT_EQ(BS->DisconnectController(Controller, nullptr, Child), EFI_INVALID_PARAMETER);
}

TEST_F(DriverModel, AFailingStopIsADeviceError) {
  HostDriver Driver;
  Driver.Name = "stubborn";
  Driver.RefuseStop = true;
  Driver.Install(BS, 1);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(BS->DisconnectController(Controller, nullptr, nullptr), EFI_DEVICE_ERROR);
}

} // namespace
