// Processor stop points on AArch64.
#include <Library/BaseLib.h>

// Spins until a debugger writes a non-zero value into Index, then returns to the caller.
VOID CpuDeadLoop(VOID) {
  volatile UINTN Index = 0;
  while (Index == 0) {
  }
}

VOID CpuBreakpoint(VOID) {
  __asm__ volatile("brk #0xf000" ::: "memory");
}
