// L3 cache sizing: the efuse-allowed size, the processor's silicon revision, and the
// controller programming that sets the size.
#include <Library/ArmLib.h>
#include <Library/DebugLib.h>
#include <Library/IoLib.h>
#include <Library/PrintLib.h>
#include <Library/TimerLib.h>

#include "TessilL3c.h"

namespace {

constexpr UINT32 EFUSE_SIZE_FIELD_MASK = (1u << L3C_EFUSE_SIZE_BITS) - 1;

// Enabled 2 MB slices: efuse size bits that read 0.
constexpr UINT32 EfuseSizeMb(UINT32 Efuse) {
  UINT32 Field = (Efuse >> L3C_EFUSE_SIZE_SHIFT) & EFUSE_SIZE_FIELD_MASK;
  UINT32 Size = 0;
  for (UINT32 Bit = 0; Bit < L3C_EFUSE_SIZE_BITS; Bit++) {
    Size += ((Field >> Bit) & 1) == 0 ? L3C_EFUSE_MB_PER_BIT : 0;
  }
  return Size;
}
static_assert(EfuseSizeMb(0xF00) == 0 && EfuseSizeMb(0) == 8 && EfuseSizeMb(0x500) == 4);

constexpr bool IsEarlySilicon(UINTN Midr, UINTN Revidr) {
  if (((Midr >> L3C_MIDR_VARIANT_SHIFT) & L3C_MIDR_VARIANT_MASK) != 0) {
    return false;
  }
  const UINTN Revision = Midr & L3C_MIDR_REVISION_MASK;
  const UINTN RevidrLow = Revidr & L3C_REVIDR_EARLY_MASK;
  if (Revision == 0 && (RevidrLow == 1 || RevidrLow == 2)) {
    return true;
  }
  return Revision == 1 && Revidr == 1;
}
static_assert(IsEarlySilicon(0x0, 0x1) && IsEarlySilicon(0x0, 0xA) && IsEarlySilicon(0x1, 0x1));
static_assert(!IsEarlySilicon(0x0, 0x3) && !IsEarlySilicon(0x1, 0x9) && !IsEarlySilicon(0x100000, 0x1));

// The limit: the efuse size when it is below the build-time limit (read a second time), else
// the build-time limit.
UINT32 SizeLimit() {
  if (L3cGetEfuseSize() >= L3C_SIZE_CONFIG) {
    return L3C_SIZE_CONFIG;
  }
  return L3cGetEfuseSize();
}

// Releases the block-B logic once; block A remembers that it was done.
VOID RunBlockBSequence() {
  if ((MmioRead32(L3C_CONTROL_A_STATE) & L3C_CONTROL_A_BLOCK_B_DONE) != 0) {
    return;
  }
  MmioAnd32(L3C_CONTROL_B_RESET, ~L3C_CONTROL_B_RESET_BIT11);
  MmioAnd32(L3C_CONTROL_B_RESET, ~L3C_CONTROL_B_RESET_BIT15);
  MicroSecondDelay(1);
  MmioOr32(L3C_CONTROL_B_RESET, L3C_CONTROL_B_RESET_BIT11);
  MicroSecondDelay(1);
  MmioAnd32(L3C_CONTROL_B_GATE, ~L3C_CONTROL_B_GATE_BIT);
  MicroSecondDelay(1);
  MmioOr32(L3C_CONTROL_A_STATE, L3C_CONTROL_A_BLOCK_B_DONE);
}

// Waits for the controller to finish the resize; FALSE when it is still busy after the limit.
BOOLEAN WaitWhileBusy() {
  for (UINT32 Poll = 0; Poll < L3C_BUSY_POLL_LIMIT; Poll++) {
    if ((MmioRead32(L3C_COMMAND) & L3C_COMMAND_BUSY) == 0) {
      return TRUE;
    }
    MicroSecondDelay(L3C_BUSY_POLL_INTERVAL_US);
  }
  return FALSE;
}

VOID ReportOnConsole(const CHAR8 *Format, UINT32 SizeMb) {
  CHAR8 Text[L3C_REPORT_BUFFER_SIZE];
  AsciiSPrint(Text, sizeof(Text), Format, SizeMb);
  L3cSerialWrite(Text);
}

} // namespace

UINT32 L3cGetEfuseSize(VOID) {
  const UINT32 Size = EfuseSizeMb(MmioRead32(L3C_EFUSE_REGISTER));
  DEBUG((DEBUG_VERBOSE, "EfuseL3csize: %d\n", Size));
  return Size;
}

BOOLEAN L3cIsEarlySilicon(VOID) {
  return IsEarlySilicon(ArmReadMidr(), ArmReadRevidr()) ? TRUE : FALSE;
}

VOID L3cConfigure(VOID) {
  const UINT32 Limit = SizeLimit();
  if (Limit == 0) {
    return;
  }
  DEBUG((DEBUG_VERBOSE, "L3cSizeConfig: %d\n", Limit));
  RunBlockBSequence();

  const UINT32 HardwareSize = (MmioRead32(L3C_CONFIGURATION) >> L3C_HW_SIZE_SHIFT) & L3C_HW_SIZE_MASK;
  DEBUG((DEBUG_VERBOSE, "L3cSizeHW: %d\n", HardwareSize));
  const UINT32 Size = HardwareSize < Limit ? HardwareSize : Limit;
  // A controller that reports no L3 gets no resize command (its count would be -1).
  if (Size == 0) {
    return;
  }

  MmioWrite32(L3C_CONFIGURATION, L3cConfigurationWord(Size));
  MmioWrite32(L3C_RANGE_LOW, 0);
  MmioWrite32(L3C_RANGE_HIGH, 0);
  MmioWrite32(L3C_COMMAND, L3cCommandWord(Size));
  // A controller that never finishes is left alone: the hand-over goes on without the L3.
  if (!WaitWhileBusy()) {
    L3cSerialWrite("L3c Cache: not configured\n");
    return;
  }
  if (!L3cIsEarlySilicon()) {
    MmioWrite32(L3C_MASK, L3C_MASK_ALL);
    MmioOr32(L3C_CONFIGURATION, L3C_CONFIG_BIT16);
  }
  MmioOr32(L3C_CONTROL_B_ENABLE, L3C_CONTROL_B_ENABLE_BITS);
  ReportOnConsole("L3c Cache: %dMB\n", Size);
}
