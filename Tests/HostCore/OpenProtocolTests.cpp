// OpenProtocol attributes, their conflicts, and uninstalling an interface that is in use.
#include "CoreTestSupport.h"

using namespace coretest;

namespace {

class OpenProtocolRules : public CoreTest {
protected:
  EFI_HANDLE Agent(int &Storage) { return NewHandle(kGuidC, &Storage); }
  int A = 0;
  int AgentOne = 0;
  int AgentTwo = 0;
  EFI_GUID Guid = kGuidA;
};

TEST_F(OpenProtocolRules, ByDriverIsExclusiveBetweenDrivers) {
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EFI_HANDLE One = Agent(AgentOne);
  EFI_HANDLE Two = Agent(AgentTwo);
  VOID *Interface = nullptr;
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_SUCCESS);
  EXPECT_EQ(Interface, &A);
  // The same driver again: already started, and it still gets the interface.
  Interface = nullptr;
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_ALREADY_STARTED);
  EXPECT_EQ(Interface, &A);
  // Another driver: denied.
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Two, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_ACCESS_DENIED);
  // Plain lookups are never blocked.
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Two, Controller, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, nullptr, Two, Controller, EFI_OPEN_PROTOCOL_TEST_PROTOCOL),
            EFI_SUCCESS);

  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries = nullptr;
  UINTN Count = 0;
  ASSERT_EQ(BS->OpenProtocolInformation(Controller, &Guid, &Entries, &Count), EFI_SUCCESS);
  ASSERT_EQ(Count, 3u);
  EXPECT_EQ(Entries[0].AgentHandle, One);
  EXPECT_EQ(Entries[0].Attributes, EFI_OPEN_PROTOCOL_BY_DRIVER);
  EXPECT_EQ(Entries[0].OpenCount, 1u);
  BS->FreePool(Entries);

  EXPECT_EQ(BS->CloseProtocol(Controller, &Guid, One, Controller), EFI_SUCCESS);
  EXPECT_EQ(BS->CloseProtocol(Controller, &Guid, One, Controller), EFI_NOT_FOUND);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Two, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_SUCCESS);
}

TEST_F(OpenProtocolRules, ParametersAreCheckedPerAttribute) {
  Board.ExpectError("OpenProtocol: core: "); // each refusal is an error of the boot too
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EFI_HANDLE One = Agent(AgentOne);
  VOID *Interface = &A;
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, nullptr, One, Controller, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, nullptr, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(
      BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER),
      EFI_INVALID_PARAMETER); // a controller cannot be its own child
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, 0x40), EFI_INVALID_PARAMETER);
  EFI_GUID Missing = kGuidB;
  EXPECT_EQ(
      BS->OpenProtocol(Controller, &Missing, &Interface, One, Controller, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
      EFI_UNSUPPORTED);
  EXPECT_EQ(Interface, nullptr);
}

// EFI_ALREADY_STARTED belongs to the same agent and controller only; an agent is required by
// every attribute that records a user of the interface.
TEST_F(OpenProtocolRules, AlreadyStartedNeedsTheSameAgentAndController) {
  Board.ExpectError("OpenProtocol: core: "); // each refusal is an error of the boot too
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EFI_HANDLE One = Agent(AgentOne);
  EFI_HANDLE Other = Agent(AgentTwo);
  VOID *Interface = nullptr;
  ASSERT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_SUCCESS);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Other, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_ACCESS_DENIED);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, One, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_ALREADY_STARTED);
  for (UINT32 Attributes : {EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER, EFI_OPEN_PROTOCOL_EXCLUSIVE,
                            EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE}) {
    EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, nullptr, Other, Attributes),
              EFI_INVALID_PARAMETER)
        << Attributes;
  }
}

TEST_F(OpenProtocolRules, ExclusiveTakesTheInterfaceFromItsDriver) {
  std::vector<std::string> Calls;
  HostDriver Driver;
  Driver.Name = "drv";
  Driver.Calls = &Calls;
  Driver.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);

  EFI_HANDLE App = Agent(AgentOne);
  VOID *Interface = nullptr;
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, App, nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE),
            EFI_SUCCESS);
  EXPECT_EQ(Calls.back(), "drv.Stop(0)");
  // While it is held exclusively the driver cannot bind again, nor can another exclusive user.
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Driver.Binding.DriverBindingHandle, Controller,
                             EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_ACCESS_DENIED);
  EFI_HANDLE Other = Agent(AgentTwo);
  EXPECT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Other, nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE),
            EFI_ACCESS_DENIED);
}

TEST_F(OpenProtocolRules, ExclusiveIsDeniedWhenTheDriverWillNotStop) {
  HostDriver Driver;
  Driver.Name = "stubborn";
  Driver.RefuseStop = true;
  Driver.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  VOID *Interface = nullptr;
  EXPECT_EQ(
      BS->OpenProtocol(Controller, &Guid, &Interface, Agent(AgentOne), nullptr, EFI_OPEN_PROTOCOL_EXCLUSIVE),
      EFI_ACCESS_DENIED);
}

TEST_F(OpenProtocolRules, UninstallStopsByDriverUsersAndIgnoresLookups) {
  std::vector<std::string> Calls;
  HostDriver Driver;
  Driver.Name = "drv";
  Driver.Calls = &Calls;
  Driver.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  int Keep = 0;
  EFI_GUID Other = kGuidB;
  ASSERT_EQ(BS->InstallProtocolInterface(&Controller, &Other, EFI_NATIVE_INTERFACE, &Keep), EFI_SUCCESS);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  VOID *Interface = nullptr;
  ASSERT_EQ(BS->OpenProtocol(Controller, &Guid, &Interface, Agent(AgentOne), Controller,
                             EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);

  EXPECT_EQ(BS->UninstallProtocolInterface(Controller, &Guid, &A), EFI_SUCCESS);
  EXPECT_EQ(Calls.back(), "drv.Stop(0)");
  EXPECT_EQ(BS->HandleProtocol(Controller, &Guid, &Interface), EFI_UNSUPPORTED);
}

TEST_F(OpenProtocolRules, UninstallIsDeniedAndUndoneWhenTheDriverWillNotStop) {
  std::vector<std::string> Calls;
  HostDriver Driver;
  Driver.Name = "stubborn";
  Driver.Calls = &Calls;
  Driver.RefuseStop = true;
  Driver.Install(BS, 0x10);
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  ASSERT_EQ(BS->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(BS->UninstallProtocolInterface(Controller, &Guid, &A), EFI_ACCESS_DENIED);
  VOID *Interface = nullptr;
  EXPECT_EQ(BS->HandleProtocol(Controller, &Guid, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &A);
}

TEST_F(OpenProtocolRules, AChildHoldsItsParentsInterface) {
  EFI_HANDLE Controller = NewHandle(kGuidA, &A);
  EFI_HANDLE Child = NewHandle(kGuidB, &A);
  EFI_HANDLE Driver = Agent(AgentOne);
  VOID *Interface = nullptr;
  ASSERT_EQ(
      BS->OpenProtocol(Controller, &Guid, &Interface, Driver, Child, EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER),
      EFI_SUCCESS);
  EXPECT_EQ(BS->UninstallProtocolInterface(Controller, &Guid, &A), EFI_ACCESS_DENIED);
  ASSERT_EQ(BS->CloseProtocol(Controller, &Guid, Driver, Child), EFI_SUCCESS);
  EXPECT_EQ(BS->UninstallProtocolInterface(Controller, &Guid, &A), EFI_SUCCESS);
}

} // namespace
