// Processor stop points on AArch64.
#include <Library/BaseLib.h>

// Waits until a debugger writes a non-zero value into Index, then returns to the caller. The
// processor sleeps in WFI between looks (a debugger's halt request wakes it).
VOID CpuDeadLoop(VOID) {
  volatile UINTN Index = 0;
  while (Index == 0) {
    __asm__ volatile("wfi" ::: "memory");
  }
}

VOID CpuBreakpoint(VOID) {
  __asm__ volatile("brk #0xf000" ::: "memory");
}
