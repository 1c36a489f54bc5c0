// Processor stop points on the host: both become a halt that unwinds to the harness.
#include <HostAbi.h>
#include <Library/BaseLib.h>

VOID CpuDeadLoop(VOID) {
  HostAbiHalt("CpuDeadLoop");
}

VOID CpuBreakpoint(VOID) {
  HostAbiHalt("CpuBreakpoint");
}
