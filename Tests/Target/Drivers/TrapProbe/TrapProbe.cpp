// TrapProbe: commits the fault of one trap class, chosen by the value passed as the image handle
// (0 commits none and returns EFI_SUCCESS), so that the emulated board's processor can show the
// error each must produce. Never loaded by real firmware.
#include <Uefi.h>

namespace {

enum class TRAP_CLASS : UINTN {
  None,
  UndefinedInstruction,
  Svc,
  Hvc,
  Smc,
  Brk,
  WriteToCode,
  JumpIntoData,
  StackOverflow,
};

// Would read as "ret" if data could run.
UINT32 mNotCode[4] = {0xD65F03C0};
// Never reached: keeps the recursion below from being infinite in the compiler's eyes.
volatile UINTN mDepthLimit = 0;

UINTN Recurse(UINTN Depth) {
  volatile UINT8 Frame[512];
  Frame[Depth % sizeof(Frame)] = static_cast<UINT8>(Depth);
  if (Depth + 1 == mDepthLimit) {
    return 0;
  }
  return Recurse(Depth + 1) + Frame[0]; // not a tail call: every level keeps its frame
}

} // namespace

EFI_STATUS EFIAPI TrapProbeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  switch (static_cast<TRAP_CLASS>(reinterpret_cast<UINTN>(ImageHandle))) {
  case TRAP_CLASS::None:
    break;
  case TRAP_CLASS::UndefinedInstruction:
    __asm__ volatile("udf #0" ::: "memory");
    break;
  case TRAP_CLASS::Svc:
    __asm__ volatile("svc #0" ::: "memory");
    break;
  case TRAP_CLASS::Hvc:
    __asm__ volatile("hvc #0" ::: "memory");
    break;
  case TRAP_CLASS::Smc:
    __asm__ volatile("smc #0" ::: "memory");
    break;
  case TRAP_CLASS::Brk:
    __asm__ volatile("brk #1" ::: "memory");
    break;
  case TRAP_CLASS::WriteToCode:
    *reinterpret_cast<volatile UINT32 *>(reinterpret_cast<UINTN>(&TrapProbeEntry)) = 0;
    break;
  case TRAP_CLASS::JumpIntoData:
    reinterpret_cast<VOID (*)(VOID)>(reinterpret_cast<UINTN>(mNotCode))();
    break;
  case TRAP_CLASS::StackOverflow:
    return static_cast<EFI_STATUS>(Recurse(0));
  }
  return EFI_SUCCESS;
}
