// ConnectController and DisconnectController driving Supported, Start and Stop.
#include "CoreTestSupport.h"

#include <Protocol/BusSpecificDriverOverride.h>
#include <Protocol/DriverFamilyOverride.h>
#include <Protocol/PlatformDriverOverride.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>

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

// A driver whose answers the test scripts: Supported returns what Supports says for the
// controller, Start returns StartStatus (and runs OnStart), Stop closes what Start opened.
// Each call is recorded with the TPL it ran at.
struct ScriptedDriver {
  EFI_DRIVER_BINDING_PROTOCOL Binding{};
  std::string Name;
  std::vector<std::string> *Calls = nullptr;
  std::function<EFI_STATUS(EFI_HANDLE)> Supports = [](EFI_HANDLE) { return EFI_SUCCESS; };
  EFI_STATUS StartStatus = EFI_SUCCESS;
  std::function<void(EFI_HANDLE)> OnStart = [](EFI_HANDLE) {};

  static std::map<EFI_DRIVER_BINDING_PROTOCOL *, ScriptedDriver *> &All() {
    static std::map<EFI_DRIVER_BINDING_PROTOCOL *, ScriptedDriver *> Map;
    return Map;
  }
  static EFI_TPL Tpl() {
    EFI_BOOT_SERVICES *BS = host::Platform::Current().BootServices();
    EFI_TPL Now = BS->RaiseTPL(TPL_HIGH_LEVEL);
    BS->RestoreTPL(Now);
    return Now;
  }
  void Record(const std::string &Call) { Calls->push_back(Name + "." + Call + "@" + std::to_string(Tpl())); }
  static EFI_STATUS EFIAPI Supported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                     EFI_DEVICE_PATH_PROTOCOL *) {
    ScriptedDriver *Self = All().at(This);
    Self->Record("Supported");
    return Self->Supports(Controller);
  }
  static EFI_STATUS EFIAPI Start(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                 EFI_DEVICE_PATH_PROTOCOL *) {
    ScriptedDriver *Self = All().at(This);
    Self->Record("Start");
    if (EFI_ERROR(Self->StartStatus)) {
      return Self->StartStatus;
    }
    EFI_GUID Guid = kGuidA;
    VOID *Interface = nullptr;
    host::Platform::Current().BootServices()->OpenProtocol(
        Controller, &Guid, &Interface, This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
    Self->OnStart(Controller);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Stop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN,
                                EFI_HANDLE *) {
    ScriptedDriver *Self = All().at(This);
    Self->Record("Stop");
    EFI_GUID Guid = kGuidA;
    return host::Platform::Current().BootServices()->CloseProtocol(Controller, &Guid,
                                                                   This->DriverBindingHandle, Controller);
  }
  void Install(EFI_BOOT_SERVICES *BS, UINT32 Version) {
    Binding = {Supported, Start, Stop, Version, nullptr, nullptr};
    All()[&Binding] = this;
    EFI_GUID Guid = kDriverBindingGuid;
    ASSERT_EQ(
        BS->InstallProtocolInterface(&Binding.DriverBindingHandle, &Guid, EFI_NATIVE_INTERFACE, &Binding),
        EFI_SUCCESS);
    Binding.ImageHandle = Binding.DriverBindingHandle;
  }
  ~ScriptedDriver() { All().erase(&Binding); }
};

class DriverModelRules : public DriverModel {
protected:
  ScriptedDriver &Driver(const std::string &Name, UINT32 Version) {
    Drivers.push_back(std::make_unique<ScriptedDriver>());
    Drivers.back()->Name = Name;
    Drivers.back()->Calls = &Calls;
    Drivers.back()->Install(BS, Version);
    return *Drivers.back();
  }
  bool Has(EFI_HANDLE Handle, EFI_GUID Guid) {
    VOID *Interface = nullptr;
    return BS->HandleProtocol(Handle, &Guid, &Interface) == EFI_SUCCESS;
  }
  std::vector<std::unique_ptr<ScriptedDriver>> Drivers;
  int C = 0;
};

TEST_F(DriverModelRules, ARefusedDriverIsAskedAgainAfterAnotherStarted) {
  // "upper" needs what "lower" adds to the controller when it starts.
  ScriptedDriver &Upper = Driver("upper", 0x20);
  Upper.Supports = [&](EFI_HANDLE Controller) {
    return Has(Controller, kGuidC) ? EFI_SUCCESS : EFI_UNSUPPORTED;
  };
  Upper.StartStatus = EFI_SUCCESS;
  ScriptedDriver &Lower = Driver("lower", 0x10);
  Lower.OnStart = [&](EFI_HANDLE Controller) {
    EFI_GUID Guid = kGuidC;
    BS->InstallProtocolInterface(&Controller, &Guid, EFI_NATIVE_INTERFACE, &C);
  };
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EXPECT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  std::vector<std::string> Expected = {"upper.Supported@4", "lower.Supported@4", "lower.Start@4",
                                       "upper.Supported@4", "upper.Start@4"};
  EXPECT_EQ(Calls, Expected);
}

TEST_F(DriverModelRules, AWarningIsNotARefusalAndAnEndNodeNeedsNoDriver) {
  ScriptedDriver &Warned = Driver("warned", 0x10);
  Warned.Supports = [](EFI_HANDLE) { return EFI_WARN_UNKNOWN_GLYPH; };
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EXPECT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Calls, (std::vector<std::string>{"warned.Supported@4", "warned.Start@4"}));

  Warned.Supports = [](EFI_HANDLE) { return EFI_UNSUPPORTED; };
  EFI_HANDLE Other = NewHandle(kGuidA, &C);
  EFI_DEVICE_PATH_PROTOCOL End = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}};
  EXPECT_EQ(BS->ConnectController(Other, nullptr, &End, FALSE), EFI_SUCCESS);
  EXPECT_EQ(BS->ConnectController(Other, nullptr, nullptr, FALSE), EFI_NOT_FOUND);
}

// The overrides each name one driver; a driver's Start fails so that every driver is asked in turn.
struct Overrides {
  EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL Platform{};
  EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL Bus{};
  EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL Family{};
  static inline EFI_HANDLE PlatformChoice = nullptr;
  static inline EFI_HANDLE BusChoice = nullptr;
  static EFI_STATUS EFIAPI PlatformGetDriver(EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL *, EFI_HANDLE,
                                             EFI_HANDLE *Driver) {
    return Next(PlatformChoice, Driver);
  }
  static EFI_STATUS EFIAPI BusGetDriver(EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL *, EFI_HANDLE *Driver) {
    return Next(BusChoice, Driver);
  }
  static UINT32 EFIAPI FamilyVersion(EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL *) { return 1; }
  static EFI_STATUS Next(EFI_HANDLE Choice, EFI_HANDLE *Driver) {
    if (*Driver != nullptr) {
      return EFI_NOT_FOUND;
    }
    *Driver = Choice;
    return EFI_SUCCESS;
  }
};

TEST_F(DriverModelRules, OverridesComeBeforeTheVersionOrder) {
  ScriptedDriver &ByPlatform = Driver("platform", 0x10);
  ScriptedDriver &ByFamily = Driver("family", 0x20);
  ScriptedDriver &ByBus = Driver("bus", 0x30);
  Driver("version", 0x40);
  for (auto &Each : Drivers) {
    Each->StartStatus = EFI_DEVICE_ERROR;
  }
  Overrides Table;
  Table.Platform.GetDriver = Overrides::PlatformGetDriver;
  Table.Bus.GetDriver = Overrides::BusGetDriver;
  Table.Family.GetVersion = Overrides::FamilyVersion;
  Overrides::PlatformChoice = ByPlatform.Binding.ImageHandle;
  Overrides::BusChoice = ByBus.Binding.ImageHandle;
  NewHandle(EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL_GUID, &Table.Platform);
  EFI_GUID FamilyGuid = EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL_GUID;
  ASSERT_EQ(BS->InstallProtocolInterface(&ByFamily.Binding.DriverBindingHandle, &FamilyGuid,
                                         EFI_NATIVE_INTERFACE, &Table.Family),
            EFI_SUCCESS);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EFI_GUID BusGuid = EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL_GUID;
  ASSERT_EQ(BS->InstallProtocolInterface(&Controller, &BusGuid, EFI_NATIVE_INTERFACE, &Table.Bus),
            EFI_SUCCESS);

  EXPECT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_NOT_FOUND);
  std::vector<std::string> Started;
  std::copy_if(Calls.begin(), Calls.end(), std::back_inserter(Started),
               [](const std::string &Call) { return Call.find(".Start") != std::string::npos; });
  std::vector<std::string> Expected = {"platform.Start@4", "family.Start@4", "bus.Start@4",
                                       "version.Start@4"};
  EXPECT_EQ(Started, Expected);
}

TEST_F(DriverModelRules, StartAndStopRunAtTheCallersTplWhenAnInterfaceChanges) {
  Driver("drv", 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  Calls.clear();
  EFI_GUID Guid = kGuidA;
  EFI_TPL Old = BS->RaiseTPL(TPL_CALLBACK);
  ASSERT_EQ(BS->ReinstallProtocolInterface(Controller, &Guid, &A, &C), EFI_SUCCESS);
  ASSERT_EQ(BS->UninstallProtocolInterface(Controller, &Guid, &C), EFI_SUCCESS);
  BS->RestoreTPL(Old);
  std::vector<std::string> Expected = {"drv.Stop@8", "drv.Supported@8", "drv.Start@8", "drv.Stop@8"};
  EXPECT_EQ(Calls, Expected);
}

} // namespace
