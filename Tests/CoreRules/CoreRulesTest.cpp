// The core's rules, one probe module per family run on the board: every misuse the probe
// commits is an error of the boot naming the probe (and the test fails on any other error);
// the wiring probe's failing constructor keeps its entry from running.
#include "CoreRulesProbe.h"

#include <BoardCheck.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(CoreRules, EachMisuseOfAProbeIsAnErrorOfTheBoot) {
  struct Case {
    const char *Module;
    EFI_STATUS Status;
    bool ExitBootServices; // the misuse is in its exit-boot-services notification
    std::vector<std::string> Errors;
  } Cases[] = {
      {"CoreRulesUnload",
       EFI_DEVICE_ERROR,
       false,
       {"unload: CoreRulesUnload: left a BY_DRIVER open on handle ",
        "unload: CoreRulesUnload: left 1 protocol interface(s) installed on handle ",
        "unload: CoreRulesUnload: left 1 configuration table(s) reaching into the image at unload; removed",
        // What the probe published it could not free: the existing leak rule.
        "memory: CoreRulesUnload leaked"}},
      {"CoreRulesExitBoot",
       EFI_SUCCESS,
       true,
       {"exit-boot-services notification: CoreRulesExitBoot: AddMemorySpace inside the notification",
        "exit-boot-services notification: CoreRulesExitBoot: AllocateMemorySpace inside the notification",
        "exit-boot-services notification: CoreRulesExitBoot: CreateEvent inside the notification",
        "exit-boot-services notification: CoreRulesExitBoot: InstallProtocolInterface inside the "
        "notification",
        "TPL: CoreRulesExitBoot: RestoreTPL(4) inside a notification called at TPL 8: below it"}},
      {"CoreRulesArguments",
       EFI_SUCCESS,
       false,
       {"event type: CoreRulesArguments: CreateEvent of type 0x20000000, not a type UEFI defines: refused",
        "event type: CoreRulesArguments: CreateEvent of a notify type at TPL 31: refused",
        "event type: CoreRulesArguments: CreateEventEx of type 0x201 with an event group: refused",
        "event type: CoreRulesArguments: SetTimer on an event without EVT_TIMER: refused",
        "event type: CoreRulesArguments: CheckEvent or WaitForEvent on an EVT_NOTIFY_SIGNAL event: refused",
        "OpenProtocol: CoreRulesArguments: open with an agent that is not a handle: refused",
        "OpenProtocol: CoreRulesArguments: open with a child that is its own controller: refused",
        "OpenProtocol: CoreRulesArguments: open with attributes 64, no combination UEFI defines: refused"}},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Module);
    host::Platform Core;
    std::unique_ptr<host::Board> Built = host::Board::Build(Core, {});
    int Controller = 0;
    EFI_HANDLE Handle = nullptr;
    EFI_GUID Guid = kCoreRulesControllerGuid;
    ASSERT_EQ(
        Core.BootServices()->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &Controller),
        EFI_SUCCESS);
    EXPECT_EQ(Core.RunModule(C.Module).Status, C.Status);
    if (C.ExitBootServices) {
      EXPECT_EQ(Core.ExitBootServices(), EFI_SUCCESS);
    }
    const std::vector<std::string> Errors = Built->Errors();
    for (const std::string &Expected : C.Errors) {
      EXPECT_TRUE(
          std::any_of(Errors.begin(), Errors.end(),
                      [&](const std::string &Error) { return Error.find(Expected) != std::string::npos; }))
          << "no error " << Expected;
    }
    board_test::ExpectNoUnexpectedErrors(*Built, C.Errors);
  }
}

TEST(CoreRules, AFailedConstructorStopsTheEntry) {
  host::Platform Core;
  std::unique_ptr<host::Board> Built = host::Board::Build(Core, {});
  const host::ImageResult Result = Core.RunModule("CoreRulesWiring");
  EXPECT_EQ(Result.Status, EFI_ABORTED);
  EXPECT_TRUE(Result.Unloaded);
  VOID *Interface = nullptr;
  EFI_GUID Guid = kCoreRulesProbeGuid;
  EXPECT_EQ(Core.BootServices()->LocateProtocol(&Guid, nullptr, &Interface), EFI_NOT_FOUND);
  board_test::ExpectNoUnexpectedErrors(*Built);
}

} // namespace
