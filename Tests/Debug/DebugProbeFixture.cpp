// The DebugProbe harness: installs the probe protocol and counts debug-output lookups by
// wrapping the board's LocateProtocol.
#include "DebugProbeFixture.h"

#include <BoardCheck.h>

#include <Protocol/DebugOutput.h>

namespace {

DebugProbeTest::Script gScript;
EFI_LOCATE_PROTOCOL gRealLocateProtocol = nullptr;
int gDebugOutputLookups = 0;
int gStatusCodeLookups = 0;

EFI_STATUS RunScript(const DEBUG_PROBE_FUNCTIONS *Functions) {
  return gScript(*Functions);
}

DEBUG_PROBE_PROTOCOL gProbe = {RunScript};

EFI_STATUS EFIAPI CountingLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  EFI_GUID DebugOutput = DEBUG_OUTPUT_PROTOCOL_GUID;
  EFI_GUID StatusCode = EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID;
  if (Protocol != nullptr) {
    gDebugOutputLookups += CompareGuidValues(*Protocol, DebugOutput) ? 1 : 0;
    gStatusCodeLookups += CompareGuidValues(*Protocol, StatusCode) ? 1 : 0;
  }
  return gRealLocateProtocol(Protocol, Registration, Interface);
}

} // namespace

void DebugProbeTest::SetUp() {
  Board = std::make_unique<host::Platform>();
  EFI_BOOT_SERVICES *Services = Board->BootServices();
  gRealLocateProtocol = Services->LocateProtocol;
  Services->LocateProtocol = CountingLocateProtocol;
  gDebugOutputLookups = 0;
  gStatusCodeLookups = 0;
}

void DebugProbeTest::TearDown() {
  if (Built) {
    board_test::ExpectNoUnexpectedErrors(*Built);
  }
  Board->BootServices()->LocateProtocol = gRealLocateProtocol;
  Built.reset();
  Board.reset();
  gScript = nullptr;
}

void DebugProbeTest::Boot(std::map<std::string, std::string> Settings) {
  host::BoardOptions Options;
  Options.Settings = std::move(Settings);
  Built = host::Board::Build(*Board, Options);
  EFI_GUID ProbeGuid = DEBUG_PROBE_PROTOCOL_GUID;
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(
      Board->BootServices()->InstallProtocolInterface(&Handle, &ProbeGuid, EFI_NATIVE_INTERFACE, &gProbe),
      EFI_SUCCESS);
}

host::DebugOutputProducer &DebugProbeTest::BootWithDebugOutput() {
  Boot({{"no-status-codes", ""}});
  host::DebugOutputProducer &Output = *Built->Producer<host::DebugOutputProducer>("debug-output");
  EXPECT_EQ(Output.InstallStatus(), EFI_SUCCESS);
  return Output;
}

host::StatusCodeListener &DebugProbeTest::BootWithStatusCodes() {
  Boot({{"no-debug-output", ""}});
  host::StatusCodeListener &Listener = *Built->Producer<host::StatusCodeListener>("status-codes");
  EXPECT_EQ(Listener.InstallStatus(), EFI_SUCCESS);
  return Listener;
}

host::ImageResult DebugProbeTest::RunProbe(Script Body) {
  if (!Built) {
    Boot();
  }
  gScript = std::move(Body);
  return Board->RunModule("DebugProbe");
}

int DebugProbeTest::DebugOutputLookups() const {
  return gDebugOutputLookups;
}

int DebugProbeTest::StatusCodeLookups() const {
  return gStatusCodeLookups;
}

EFI_TPL DebugProbeTest::RaiseTpl(EFI_TPL Tpl) {
  return Board->BootServices()->RaiseTPL(Tpl);
}

void DebugProbeTest::RestoreTpl(EFI_TPL Tpl) {
  Board->BootServices()->RestoreTPL(Tpl);
}
