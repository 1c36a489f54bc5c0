// The DebugProbe harness: installs the probe protocol and counts debug-output lookups by
// wrapping the board's LocateProtocol.
#include "DebugProbeFixture.h"

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
  EFI_GUID ProbeGuid = DEBUG_PROBE_PROTOCOL_GUID;
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Services->InstallProtocolInterface(&Handle, &ProbeGuid, EFI_NATIVE_INTERFACE, &gProbe),
            EFI_SUCCESS);
}

void DebugProbeTest::TearDown() {
  Board->BootServices()->LocateProtocol = gRealLocateProtocol;
  Board.reset();
  gScript = nullptr;
}

host::ImageResult DebugProbeTest::RunProbe(Script Body) {
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
