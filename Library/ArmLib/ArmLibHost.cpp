// ArmLib on the host: each operation is recorded by the emulated board under its own name,
// and the board keeps the interrupt mask those records imply.
#include <HostAbi.h>
#include <Library/ArmLib.h>

VOID ArmDisableInterrupts(VOID) {
  HostAbiCpuOperation("ArmDisableInterrupts");
}
VOID ArmEnableInterrupts(VOID) {
  HostAbiCpuOperation("ArmEnableInterrupts");
}
BOOLEAN ArmGetInterruptState(VOID) {
  return HostAbiInterruptsEnabled();
}
VOID ArmDisableDataCache(VOID) {
  HostAbiCpuOperation("ArmDisableDataCache");
}
VOID ArmEnableDataCache(VOID) {
  HostAbiCpuOperation("ArmEnableDataCache");
}
VOID ArmDisableInstructionCache(VOID) {
  HostAbiCpuOperation("ArmDisableInstructionCache");
}
VOID ArmEnableInstructionCache(VOID) {
  HostAbiCpuOperation("ArmEnableInstructionCache");
}
VOID ArmDisableMmu(VOID) {
  HostAbiCpuOperation("ArmDisableMmu");
}
VOID ArmEnableMmu(VOID) {
  HostAbiCpuOperation("ArmEnableMmu");
}
VOID ArmCleanInvalidateDataCache(VOID) {
  HostAbiCpuOperation("ArmCleanInvalidateDataCache");
}
VOID ArmCleanDataCache(VOID) {
  HostAbiCpuOperation("ArmCleanDataCache");
}
VOID ArmInvalidateDataCache(VOID) {
  HostAbiCpuOperation("ArmInvalidateDataCache");
}
VOID ArmDisableFiq(VOID) {
  HostAbiCpuOperation("ArmDisableFiq");
}
VOID ArmInvalidateInstructionCache(VOID) {
  HostAbiCpuOperation("ArmInvalidateInstructionCache");
}
VOID ArmDataSynchronizationBarrier(VOID) {
  HostAbiCpuOperation("ArmDataSynchronizationBarrier");
}
VOID ArmInstructionSynchronizationBarrier(VOID) {
  HostAbiCpuOperation("ArmInstructionSynchronizationBarrier");
}
VOID ArmCleanDataCacheRange(UINTN Address, UINTN Length) {
  HostAbiCpuOperation("ArmCleanDataCacheRange");
}
VOID ArmInvalidateDataCacheRange(UINTN Address, UINTN Length) {
  HostAbiCpuOperation("ArmInvalidateDataCacheRange");
}
VOID ArmCleanInvalidateDataCacheRange(UINTN Address, UINTN Length) {
  HostAbiCpuOperation("ArmCleanInvalidateDataCacheRange");
}
UINTN ArmReadMidr(VOID) {
  return HostAbiReadSystemRegister("MIDR_EL1");
}
UINTN ArmReadRevidr(VOID) {
  return HostAbiReadSystemRegister("REVIDR_EL1");
}
