// The chip's memory set-up when no BMC firmware has done it: strap decoding, the DDR2/DDR3
// parameter sets at 396 MHz, the controller's power-up sequence, the DLL lock and the
// calibration of the strobe and data-line input delays with the built-in memory test engine.
// Every register is a 32-bit register on the internal bus, reached through the bus window.
#include <Library/UefiBootServicesTableLib.h>

#include "VantorGraphics.h"

namespace {

// ---- Parameters ---------------------------------------------------------------------------

struct VANTOR_DRAM_PARAMS {
  UINT32 MemoryType;
  UINT32 SizeCode;
  UINT32 MemoryClock;
  UINT32 FrameBufferSize;
  UINT32 WriteTermination;
  UINT32 ReadTermination;
  UINT32 Timing2Strap;
  UINT32 ModeStrap;
  UINT32 Configuration;
  UINT32 DllControlStart;
  UINT32 DllSettingStart;
  UINT32 ModeRegister;
  UINT32 ExtendedModeRegister;
  UINT32 Timing1;
  UINT32 Timing2;
  UINT32 StrobeControl;
  UINT32 Drive;
  UINT32 IoControl;
  UINT32 DataDelay;
  UINT32 Pll;
  UINT32 DllStepLimit;
};

constexpr UINT32 DDR2 = 2;
constexpr UINT32 DDR3 = 3;
constexpr UINT32 MEMORY_CLOCK_MHZ = 396;
constexpr UINT32 SCU_MEMORY_PLL_396MHZ = 0x3F1;
constexpr UINT32 MIB = 1024 * 1024;

constexpr UINT32 STRAP_DDR2 = 1u << 24;

// Per memory type: the values of the parameter table and the constants of the sequence.
struct DRAM_TYPE_TABLE {
  UINT32 Timing1;
  UINT32 Timing2BySize[4];
  UINT32 ModeRegisterBits;
  UINT32 ExtendedModeRegister;
  UINT32 IoControl;
  UINT32 ConfigurationBySize[4];
  UINT32 ControlA, ControlB;                 // MCR18, twice
  UINT32 Drive40, Drive44, Drive48, Drive4C; // MCR40..MCR4C
  UINT32 PowerControl;                       // MCR0C before the mode registers
  UINT32 Termination;                        // the write-termination bits of MCR34
};

constexpr DRAM_TYPE_TABLE DDR2_TABLE = {0x33302714, {0xCC00B016, 0xCC00B01B, 0xCC00B02B, 0xCC00B03F},
                                        0xC02,      0x40,
                                        0x13,       {0x100, 0x121, 0x122, 0x123},
                                        0x4040A130, 0x2330,
                                        0xFF808000, 0x88848466,
                                        0x44440008, 0,
                                        0x00,       0x500};
constexpr DRAM_TYPE_TABLE DDR3_TABLE = {0x33302825, {0xCC009617, 0xCC009617, 0xCC009622, 0xCC00963F},
                                        0x4001600,  0,
                                        0x23,       {0x130, 0x131, 0x132, 0x133},
                                        0x4040A170, 0x2370,
                                        0xFF444444, 0x22222222,
                                        0x22222222, 2,
                                        0x40,       0x300};

constexpr UINT32 Ddr2Timing2Strap(UINT32 T) {
  return ((T << 20) | (T << 16)) + 0x110000;
}
constexpr UINT32 Ddr2ModeStrap(UINT32 T) {
  return (T << 4) | 0x40;
}
constexpr UINT32 Ddr3Timing2Strap(UINT32 T) {
  return (((T & 2) << 19) + 0x300000) | ((T << 16) + 0x20000);
}
constexpr UINT32 Ddr3ModeStrap(UINT32 T) {
  return ((T << 4) + 0x10) | ((T & 2) << 18);
}
static_assert(Ddr2Timing2Strap(3) == 0x440000);
static_assert(Ddr3Timing2Strap(2) == 0x440000);
static_assert(Ddr3ModeStrap(3) == 0x80040);

// ---- Memory controller registers and the test engine ----------------------------------------

constexpr UINT32 MCR_POWER_CONTROL = 0x0C;
constexpr UINT32 MCR_CONTROL = 0x18;
constexpr UINT32 MCR_MODE_COMMAND = 0x28;
constexpr UINT32 MCR_MODE_REGISTER = 0x2C;
constexpr UINT32 MCR_EXTENDED_MODE_REGISTER = 0x30;
constexpr UINT32 MCR_TERMINATION = 0x34;
constexpr UINT32 MCR_DLL_CONTROL = 0x64;
constexpr UINT32 MCR_DLL_SETTING = 0x68;
constexpr UINT32 MCR_TEST_CONTROL = 0x70;
constexpr UINT32 MCR_TEST_LENGTH = 0x74;
constexpr UINT32 MCR_TEST_ERRORS = 0x78;
constexpr UINT32 MCR_TEST_PATTERN = 0x7C;
constexpr UINT32 MCR_LINE_ADJUST_LOW = 0x80;
constexpr UINT32 MCR_LINE_ADJUST_HIGH = 0x84;

constexpr UINT32 MCR_STATUS_SETTLED = 1u << 27;
constexpr UINT32 MCR_DLL_ENABLE = 0xC0000;
constexpr UINT32 MCR_CONTROL_DLL_RESET = 0x200;
constexpr UINT32 TEST_DONE = 1u << 12;
constexpr UINT32 TEST_FAILED = 1u << 13;
constexpr UINTN TEST_POLLS = 5000001;
constexpr UINT32 TEST_TIMED_OUT = 0xFFFFFFFF;
constexpr UINT32 ALL_LINES = 0xFFFF;

constexpr UINT32 PATTERNS[] = {0xFF00FF00, 0xCC33CC33, 0xAA55AA55, 0x88778877,
                               0x92CC4D6E, 0x543D3CDE, 0xF1E843C7, 0x7C61D253};
constexpr UINTN TEST_TRIES = 5;
constexpr UINT32 DELAY_SETTINGS = 76;
constexpr UINT32 STROBE_PHASES = 32;
constexpr UINT8 EMPTY_LO = 0xFF;
constexpr UINT32 DATA_LINES = 16;

// One run of the set-up: the record, its parameters and whether the test engine stopped
// answering (which ends the calibration).
struct DRAM_RUN {
  VANTOR_PRIVATE_DATA *Private;
  VANTOR_DRAM_PARAMS Params;
  BOOLEAN EngineStuck;
};

UINT32 McrRead(DRAM_RUN &Run, UINT32 Offset) {
  return VantorSocRead(Run.Private, Mcr(Offset));
}
VOID McrWrite(DRAM_RUN &Run, UINT32 Offset, UINT32 Value) {
  VantorSocWrite(Run.Private, Mcr(Offset), Value);
}
VOID Stall(UINTN Microseconds) {
  gBS->Stall(Microseconds);
}

VOID DecodeStrap(DRAM_RUN &Run) {
  VANTOR_DRAM_PARAMS &P = Run.Params;
  const UINT32 Strap = VantorSocRead(Run.Private, Scu(SCU_STRAP));
  const UINT32 T = (Strap >> 25) & 3;
  P.MemoryType = (Strap & STRAP_DDR2) ? DDR2 : DDR3;
  P.SizeCode = ((Strap >> 27) & 3) + 1;
  P.FrameBufferSize = VantorStrapFrameBufferSize(Strap);
  P.Timing2Strap = P.MemoryType == DDR2 ? Ddr2Timing2Strap(T) : Ddr3Timing2Strap(T);
  P.ModeStrap = P.MemoryType == DDR2 ? Ddr2ModeStrap(T) : Ddr3ModeStrap(T);
}

const DRAM_TYPE_TABLE &TypeTable(const DRAM_RUN &Run) {
  return Run.Params.MemoryType == DDR2 ? DDR2_TABLE : DDR3_TABLE;
}

VOID SetParameters(DRAM_RUN &Run) {
  VANTOR_DRAM_PARAMS &P = Run.Params;
  const DRAM_TYPE_TABLE &Table = TypeTable(Run);
  VantorSocWrite(Run.Private, Scu(SCU_PROTECTION), VANTOR_SCU_KEY);
  P.DllControlStart = 0x34C4C;
  P.DllSettingStart = 0x1800;
  P.ReadTermination = 0;
  VantorSocWrite(Run.Private, Scu(SCU_MEMORY_PLL), SCU_MEMORY_PLL_396MHZ);
  P.MemoryClock = MEMORY_CLOCK_MHZ;
  P.WriteTermination = 1;
  P.Timing1 = Table.Timing1;
  P.Timing2 = P.Timing2Strap | Table.Timing2BySize[P.SizeCode - 1];
  P.StrobeControl = 0xE2;
  P.ModeRegister = P.ModeStrap | Table.ModeRegisterBits;
  P.ExtendedModeRegister = Table.ExtendedModeRegister;
  P.Drive = 0xFA;
  P.IoControl = Table.IoControl;
  P.DataDelay = 0x89;
  P.Pll = 0x5040;
  P.DllStepLimit = 96;
  constexpr UINT32 FrameBufferBits[4] = {0, 4, 8, 12};
  P.Configuration = Table.ConfigurationBySize[P.SizeCode - 1];
  for (UINT32 Code = 0; Code < 4; Code++) {
    if (P.FrameBufferSize == ((8 * MIB) << Code)) {
      P.Configuration |= FrameBufferBits[Code];
    }
  }
}

// ---- Power-up ---------------------------------------------------------------------------------

EFI_STATUS WaitSettled(DRAM_RUN &Run) {
  for (UINTN Poll = 0; Poll < VANTOR_DRAM_STATUS_POLLS; Poll++) {
    if ((McrRead(Run, MCR_STATUS) & MCR_STATUS_SETTLED) != 0) {
      return EFI_SUCCESS;
    }
  }
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: the memory controller did not settle (MCR1C %08x)\n",
                   McrRead(Run, MCR_STATUS));
  return EFI_DEVICE_ERROR;
}

VOID StartController(DRAM_RUN &Run) {
  const VANTOR_DRAM_PARAMS &P = Run.Params;
  const DRAM_TYPE_TABLE &Table = TypeTable(Run);
  McrWrite(Run, MCR_PROTECTION, VANTOR_MCR_KEY);
  McrWrite(Run, MCR_DLL_CONTROL, 0);
  McrWrite(Run, MCR_TERMINATION, 0);
  McrWrite(Run, MCR_CONTROL, 0x100);
  McrWrite(Run, 0x24, 0);
  if (P.MemoryType == DDR3) {
    Stall(10);
  }
  McrWrite(Run, MCR_DLL_CONTROL, P.DllControlStart);
  McrWrite(Run, MCR_DLL_SETTING, P.DllSettingStart);
  Stall(10);
  McrWrite(Run, MCR_DLL_CONTROL, P.DllControlStart | MCR_DLL_ENABLE);
  Stall(10);
  McrWrite(Run, MCR_CONFIGURATION, P.Configuration);
  McrWrite(Run, 0x08, 0x0090040F);
  McrWrite(Run, 0x10, P.Timing1);
  McrWrite(Run, 0x14, P.Timing2);
  McrWrite(Run, 0x20, P.StrobeControl);
  McrWrite(Run, MCR_LINE_ADJUST_LOW, 0);
  McrWrite(Run, MCR_LINE_ADJUST_HIGH, 0x00FFFFFF);
  McrWrite(Run, 0x88, P.DataDelay);
  McrWrite(Run, MCR_CONTROL, Table.ControlA);
  McrWrite(Run, MCR_CONTROL, Table.ControlB);
  McrWrite(Run, 0x38, 0);
  McrWrite(Run, 0x40, Table.Drive40);
  McrWrite(Run, 0x44, Table.Drive44);
  McrWrite(Run, 0x48, Table.Drive48);
  McrWrite(Run, 0x4C, Table.Drive4C);
  McrWrite(Run, 0x50, 0x80000000);
  McrWrite(Run, 0x50, 0);
  McrWrite(Run, 0x54, 0);
  McrWrite(Run, 0x60, P.Drive);
  McrWrite(Run, 0x6C, P.IoControl);
  McrWrite(Run, MCR_TEST_CONTROL, 0);
  McrWrite(Run, MCR_TEST_LENGTH, 0);
  McrWrite(Run, MCR_TEST_ERRORS, 0);
  McrWrite(Run, MCR_TEST_PATTERN, 0);
}

BOOLEAN DllLocked(UINT32 D) {
  return (D & 8) == 0 && (D & 7) >= 2 && D >= 4;
}

// Steps the DLL until the controller reports it locked or the step limit is reached.
EFI_STATUS LockDll(DRAM_RUN &Run) {
  UINT32 D = (McrRead(Run, MCR_STATUS) >> 8) & 0xFF;
  while (!DllLocked(D)) {
    const UINT32 V = (McrRead(Run, MCR_DLL_CONTROL) & 0xFFF3FFFF) + 4;
    const UINT32 Step = V & 0xFF;
    if (Step > Run.Params.DllStepLimit) {
      break;
    }
    McrWrite(Run, MCR_DLL_CONTROL, V);
    const UINT32 S = (V & (1u << 20)) ? Step / 8 + 3 : Step / 4 + 5;
    const UINT32 Setting = McrRead(Run, MCR_DLL_SETTING);
    McrWrite(Run, MCR_DLL_SETTING, (Setting & 0xFFFF00FF) | ((S + (Setting & 0xFF)) << 8));
    Stall(10);
    McrWrite(Run, MCR_DLL_CONTROL, McrRead(Run, MCR_DLL_CONTROL) | MCR_DLL_ENABLE);
    Stall(10);
    const UINT32 W = McrRead(Run, MCR_CONTROL) & 0xFFFFF1FF;
    McrWrite(Run, MCR_CONTROL, W);
    McrWrite(Run, MCR_CONTROL, W | MCR_CONTROL_DLL_RESET);
    EFI_STATUS Status = WaitSettled(Run);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    D = (McrRead(Run, MCR_STATUS) >> 8) & 0xFF;
  }
  return EFI_SUCCESS;
}

VOID ProgramModeRegisters(DRAM_RUN &Run) {
  const VANTOR_DRAM_PARAMS &P = Run.Params;
  McrWrite(Run, MCR_MODE_REGISTER, P.ModeRegister | 0x100);
  McrWrite(Run, MCR_EXTENDED_MODE_REGISTER, P.ExtendedModeRegister);
  constexpr UINT32 INITIAL_COMMANDS[] = {5, 7, 3, 1};
  for (UINT32 Command : INITIAL_COMMANDS) {
    McrWrite(Run, MCR_MODE_COMMAND, Command);
  }
  if (P.MemoryType == DDR2) {
    McrWrite(Run, MCR_POWER_CONTROL, 0x5C08);
    McrWrite(Run, MCR_MODE_REGISTER, P.ModeRegister);
    McrWrite(Run, MCR_MODE_COMMAND, 1);
    // Off-chip driver calibration: default, then exit.
    McrWrite(Run, MCR_EXTENDED_MODE_REGISTER, P.ExtendedModeRegister | 0x380);
    McrWrite(Run, MCR_MODE_COMMAND, 3);
    McrWrite(Run, MCR_EXTENDED_MODE_REGISTER, P.ExtendedModeRegister);
    McrWrite(Run, MCR_MODE_COMMAND, 3);
    McrWrite(Run, MCR_POWER_CONTROL, 0x7FFF5C01);
  } else {
    McrWrite(Run, MCR_MODE_REGISTER, P.ModeRegister);
    McrWrite(Run, MCR_POWER_CONTROL, 0x5C08);
    McrWrite(Run, MCR_MODE_COMMAND, 1);
    McrWrite(Run, MCR_POWER_CONTROL, 0x5C01);
  }
}

UINT32 TerminationBits(const DRAM_RUN &Run) {
  const VANTOR_DRAM_PARAMS &P = Run.Params;
  UINT32 Bits = P.WriteTermination ? TypeTable(Run).Termination : 0;
  if (P.ReadTermination) {
    Bits |= ((P.Timing2 & 0x60000) >> 3) | 0x3000;
  }
  return Bits;
}

// ---- Memory test primitives -------------------------------------------------------------------

VOID StartTest(DRAM_RUN &Run, UINT32 Generator, UINT32 Control) {
  McrWrite(Run, MCR_TEST_CONTROL, 0);
  McrWrite(Run, MCR_TEST_CONTROL, (Generator << 3) | Control);
}

VOID EngineTimedOut(DRAM_RUN &Run) {
  McrWrite(Run, MCR_TEST_CONTROL, 0);
  Run.EngineStuck = TRUE;
}

EFI_STATUS EngineStuckError() {
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: the memory test engine does not finish\n");
  return EFI_DEVICE_ERROR;
}

BOOLEAN BurstTest(DRAM_RUN &Run, UINT32 Generator, UINT32 Control) {
  StartTest(Run, Generator, Control);
  for (UINTN Poll = 0; Poll < TEST_POLLS; Poll++) {
    const UINT32 State = McrRead(Run, MCR_TEST_CONTROL);
    if (State & TEST_FAILED) {
      return FALSE;
    }
    if (State & TEST_DONE) {
      McrWrite(Run, MCR_TEST_CONTROL, 0);
      return TRUE;
    }
  }
  EngineTimedOut(Run);
  return FALSE;
}

// The failing data lines of one test, or TEST_TIMED_OUT.
UINT32 ErrorTest(DRAM_RUN &Run, UINT32 Generator, UINT32 Control) {
  StartTest(Run, Generator, Control);
  for (UINTN Poll = 0; Poll < TEST_POLLS; Poll++) {
    if (McrRead(Run, MCR_TEST_CONTROL) & TEST_DONE) {
      const UINT32 Errors = McrRead(Run, MCR_TEST_ERRORS);
      McrWrite(Run, MCR_TEST_CONTROL, 0);
      return (Errors | (Errors >> 16)) & ALL_LINES;
    }
  }
  EngineTimedOut(Run);
  return TEST_TIMED_OUT;
}

// Bit 0: the low byte lane passed, bit 1: the high byte lane passed.
UINT32 LaneTest(DRAM_RUN &Run) {
  UINT32 Errors = ErrorTest(Run, 0, 0x05);
  for (UINT32 Generator = 0; Generator < 8 && !Run.EngineStuck; Generator++) {
    if ((Errors & 0x00FF) != 0 && (Errors & 0xFF00) != 0) {
      return 0;
    }
    Errors |= ErrorTest(Run, Generator, 0x41);
  }
  if (Run.EngineStuck || ((Errors & 0x00FF) != 0 && (Errors & 0xFF00) != 0)) {
    return 0;
  }
  return ((Errors & 0x00FF) == 0 ? 1u : 0u) | ((Errors & 0xFF00) == 0 ? 2u : 0u);
}

// The data lines that passed.
UINT32 BitTest(DRAM_RUN &Run) {
  const UINT32 First = ErrorTest(Run, 0, 0x41);
  if (First == ALL_LINES || First == TEST_TIMED_OUT) {
    return 0;
  }
  const UINT32 Second = ErrorTest(Run, 0, 0x05);
  if (Second == TEST_TIMED_OUT || (First | Second) == ALL_LINES) {
    return 0;
  }
  return ~(First | Second) & ALL_LINES;
}

BOOLEAN BurstPair(DRAM_RUN &Run) {
  return BurstTest(Run, 0, 0xC1) && BurstTest(Run, 0, 0x85);
}

// Runs Test over every pattern (up to five tries each until non-zero) and ANDs the results.
template <class TEST> UINT32 PatternScan(DRAM_RUN &Run, UINT32 Start, TEST Test) {
  UINT32 Result = Start;
  for (UINT32 Pattern : PATTERNS) {
    McrWrite(Run, MCR_TEST_PATTERN, Pattern);
    UINT32 Value = 0;
    for (UINTN Try = 0; Try < TEST_TRIES && Value == 0 && !Run.EngineStuck; Try++) {
      Value = Test(Run);
    }
    Result &= Value;
    if (Result == 0) {
      return 0;
    }
  }
  return Result;
}

UINT32 LaneScan(DRAM_RUN &Run) {
  return PatternScan(Run, 3, LaneTest);
}
UINT32 BitScan(DRAM_RUN &Run) {
  return PatternScan(Run, ALL_LINES, BitTest);
}

BOOLEAN BurstScan(DRAM_RUN &Run) {
  for (UINT32 Pattern : PATTERNS) {
    McrWrite(Run, MCR_TEST_PATTERN, Pattern);
    if (!BurstPair(Run) && (Run.EngineStuck || !BurstPair(Run))) {
      return FALSE;
    }
  }
  return TRUE;
}

// ---- Calibration ------------------------------------------------------------------------------

struct WINDOW {
  UINT8 Lo = EMPTY_LO;
  UINT8 Hi = 0;
  VOID Widen(UINT32 K) {
    Lo = Lo < K ? Lo : static_cast<UINT8>(K);
    Hi = Hi > K ? Hi : static_cast<UINT8>(K);
  }
  BOOLEAN Empty() const { return Hi < Lo; }
  // Both ends found and more than nine settings apart.
  BOOLEAN Usable() const { return Hi > Lo && Hi - Lo > 9; }
};

VOID ApplyDelay(DRAM_RUN &Run, UINT32 K, UINT32 Low) {
  McrWrite(Run, MCR_DLL_SETTING, (K << 24) | (K << 16) | Low);
}

constexpr UINT32 STROBE_DELAY_BITS = 0x1300;
constexpr UINT32 LINE_DELAY_BITS = 0x1400;

struct STROBE_SCAN {
  WINDOW Windows[STROBE_PHASES][2];
  BOOLEAN Marks[2][DELAY_SETTINGS];
};

// Sweeps the delays for one strobe phase and half; TRUE when any setting passed.
BOOLEAN SweepStrobe(DRAM_RUN &Run, STROBE_SCAN &Scan, UINT32 Phase, UINT32 Half) {
  WINDOW &Window = Scan.Windows[Phase][Half];
  UINT32 Passes = 0;
  BOOLEAN AnyPass = FALSE;
  for (UINT32 K = 0; K < DELAY_SETTINGS && !Run.EngineStuck; K++) {
    ApplyDelay(Run, K, STROBE_DELAY_BITS);
    McrWrite(Run, MCR_TEST_CONTROL, 0);
    McrWrite(Run, MCR_TEST_LENGTH, 0x3FF);
    if (BurstScan(Run)) {
      AnyPass = TRUE;
      if (K == 0) {
        break;
      }
      Scan.Marks[Half][K] = TRUE;
      Passes++;
      Window.Widen(K);
    } else if (Passes > 4) {
      break;
    } else {
      Window = WINDOW{};
    }
  }
  return AnyPass;
}

UINT32 MarkedRun(const BOOLEAN *Marks, INT32 From, INT32 Step) {
  UINT32 Count = 0;
  for (INT32 K = From; K > 0 && K < static_cast<INT32>(DELAY_SETTINGS) && Marks[K]; K += Step) {
    Count++;
  }
  return Count;
}

EFI_STATUS CalibrateStrobe(DRAM_RUN &Run) {
  const UINT32 S18 = McrRead(Run, MCR_CONTROL) & 0xFFFF;
  McrWrite(Run, MCR_CONTROL, S18);
  const UINT32 S0C = McrRead(Run, MCR_POWER_CONTROL);
  STROBE_SCAN Scan = {};
  for (UINT32 Phase = 0; Phase < STROBE_PHASES; Phase++) {
    BOOLEAN PhasePassed = FALSE;
    for (UINT32 Half = 0; Half < 2; Half++) {
      Scan.Windows[Phase][Half] = WINDOW{};
      McrWrite(Run, MCR_POWER_CONTROL, 0);
      McrWrite(Run, MCR_CONTROL, S18 | (Phase << 16) | (Half << 23));
      McrWrite(Run, MCR_POWER_CONTROL, S0C);
      PhasePassed |= SweepStrobe(Run, Scan, Phase, Half);
    }
    if (Run.EngineStuck) {
      return EngineStuckError();
    }
    if (!PhasePassed) {
      Phase++; // a phase without any pass skips its neighbour
    }
  }

  UINT32 Margin = 0, Side = 0, BestPhase = 0, BestHalf = 0;
  for (UINT32 Phase = 0; Phase < STROBE_PHASES; Phase++) {
    for (UINT32 Half = 0; Half < 2; Half++) {
      const WINDOW &W = Scan.Windows[Phase][Half];
      if (W.Empty() || static_cast<UINT32>(W.Hi - W.Lo) + 2 < Margin) {
        continue;
      }
      const UINT32 Width = W.Hi - W.Lo;
      const UINT32 Below = MarkedRun(Scan.Marks[Half], W.Lo, -1);
      const UINT32 Above = MarkedRun(Scan.Marks[Half], W.Hi, +1);
      const UINT32 ThisSide = Below < Above ? Below : Above;
      const UINT32 Gain = ThisSide > Side ? ThisSide - Side : 0;
      if (Width > Margin + 1 && (Gain > 0 || ThisSide > 8)) {
        Margin = Width;
      } else if (Gain > 1 && Side < 8) {
        Margin = Margin > Width ? Margin : Width;
      } else {
        continue;
      }
      Side = ThisSide;
      BestPhase = Phase;
      BestHalf = Half;
    }
  }
  McrWrite(Run, MCR_CONTROL, S18 | (BestPhase << 16) | (BestHalf << 23));
  return EFI_SUCCESS;
}

// The 3-bit input-delay adjustment of a data line from its window's low end and the average.
UINT32 LineAdjustment(UINT32 Line, UINT32 Lo, UINT32 Average) {
  const auto Scaled = [](UINT32 Difference) { return (Difference * 19) >> 5; };
  const auto Min = [](UINT32 A, UINT32 B) { return A < B ? A : B; };
  if (Line < 8) {
    return Average >= Lo ? Min(Scaled(Average - Lo), 3) : (0u - Min(Scaled(Lo - Average), 4)) & 7;
  }
  if (Average >= Lo) {
    const UINT32 A = Scaled(Average - Lo);
    return A > 3 ? 3 : (A - 1) & 7;
  }
  return (0u - Min(Scaled(Lo - Average) + 1, 4)) & 7;
}

// One sweep of the delay settings: applies each setting, runs Scan and widens Windows[i] for
// every bit i of its result; a failing setting ends the sweep once more than nine passed.
template <UINTN N, class SCAN>
VOID SweepDelays(DRAM_RUN &Run, UINT32 DelayBits, UINT32 TestLength, SCAN Scan, WINDOW (&Windows)[N]) {
  for (WINDOW &Window : Windows) {
    Window = WINDOW{};
  }
  UINT32 Passes = 0;
  for (UINT32 K = 0; K < DELAY_SETTINGS && !Run.EngineStuck; K++) {
    ApplyDelay(Run, K, DelayBits);
    McrWrite(Run, MCR_TEST_LENGTH, TestLength);
    const UINT32 Passed = Scan(Run);
    for (UINT32 Index = 0; Index < N; Index++) {
      if (Passed & (1u << Index)) {
        Windows[Index].Widen(K);
      }
    }
    if (Passed != 0) {
      Passes++;
    } else if (Passes > 9) {
      break;
    }
  }
}

template <UINTN N> BOOLEAN AllUsable(const WINDOW (&Windows)[N]) {
  for (const WINDOW &Window : Windows) {
    if (!Window.Usable()) {
      return FALSE;
    }
  }
  return TRUE;
}

EFI_STATUS NoWindowError(const CHAR8 *What) {
  VantorDebugPrint(VANTOR_DEBUG_ERROR, "Vidframe: no usable %a delay window after %d sweeps\n", What,
                   VANTOR_CALIBRATION_SWEEPS);
  return EFI_DEVICE_ERROR;
}

VOID RecordLineAdjustments(DRAM_RUN &Run, const WINDOW (&Lines)[DATA_LINES]) {
  UINT32 Sum = 0;
  for (const WINDOW &Line : Lines) {
    Sum += Line.Lo;
  }
  const UINT32 Average = Sum / DATA_LINES;
  UINT32 Adjust[2] = {0, 0};
  for (UINT32 Line = 0; Line < DATA_LINES; Line++) {
    Adjust[Line / 8] |= LineAdjustment(Line, Lines[Line].Lo, Average) << (3 * (Line % 8));
  }
  McrWrite(Run, MCR_LINE_ADJUST_LOW, Adjust[0]);
  McrWrite(Run, MCR_LINE_ADJUST_HIGH, Adjust[1]);
  for (UINT32 Line = 0; Line < DATA_LINES; Line++) {
    VantorSocWrite(Run.Private, VANTOR_SRAM_LINE_WINDOWS + 4 * Line, Lines[Line].Lo | (Lines[Line].Hi << 8));
  }
}

EFI_STATUS CalibrateDataLines(DRAM_RUN &Run) {
  WINDOW Lines[DATA_LINES];
  for (UINTN Sweep = 0; Sweep < VANTOR_CALIBRATION_SWEEPS; Sweep++) {
    SweepDelays(Run, LINE_DELAY_BITS, 0xFFF, BitScan, Lines);
    if (Run.EngineStuck) {
      return EngineStuckError();
    }
    if (AllUsable(Lines)) {
      RecordLineAdjustments(Run, Lines);
      return EFI_SUCCESS;
    }
  }
  return NoWindowError("data-line");
}

EFI_STATUS CalibrateDll(DRAM_RUN &Run) {
  WINDOW Lane[2];
  for (UINTN Sweep = 0; Sweep < VANTOR_CALIBRATION_SWEEPS; Sweep++) {
    SweepDelays(Run, STROBE_DELAY_BITS, 0xFFFF, LaneScan, Lane);
    if (Run.EngineStuck) {
      return EngineStuckError();
    }
    if (!AllUsable(Lane)) {
      continue;
    }
    const UINT32 Centre0 = (Lane[0].Lo + Lane[0].Hi) / 2;
    const UINT32 Centre1 = (Lane[1].Lo + Lane[1].Hi) / 2;
    VantorSocWrite(Run.Private, VANTOR_SRAM_LANE0_WINDOW, Lane[0].Lo | (Lane[0].Hi << 8) | (Centre0 << 16));
    VantorSocWrite(Run.Private, VANTOR_SRAM_LANE1_WINDOW, Lane[1].Lo | (Lane[1].Hi << 8) | (Centre1 << 16));
    const UINT32 Recorded = VantorSocRead(Run.Private, VANTOR_SRAM_DLL_SETTING);
    McrWrite(Run, MCR_DLL_SETTING, Recorded | (((Centre1 << 8) + Centre0) << 16));
    return EFI_SUCCESS;
  }
  return NoWindowError("byte-lane");
}

EFI_STATUS Calibrate(DRAM_RUN &Run) {
  EFI_STATUS Status = CalibrateStrobe(Run);
  if (!EFI_ERROR(Status)) {
    Status = CalibrateDataLines(Run);
  }
  if (!EFI_ERROR(Status)) {
    Status = CalibrateDll(Run);
  }
  return Status;
}

EFI_STATUS PowerUp(DRAM_RUN &Run) {
  const DRAM_TYPE_TABLE &Table = TypeTable(Run);
  StartController(Run);
  EFI_STATUS Status = WaitSettled(Run);
  if (!EFI_ERROR(Status)) {
    Status = LockDll(Run);
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  VantorSocWrite(Run.Private, VANTOR_SRAM_DLL_SETTING, McrRead(Run, MCR_DLL_SETTING) & 0xFFFF);
  McrWrite(Run, MCR_CONTROL, McrRead(Run, MCR_CONTROL) | 0xC00);
  McrWrite(Run, MCR_TERMINATION, 1);
  McrWrite(Run, MCR_POWER_CONTROL, Table.PowerControl);
  Stall(50);
  ProgramModeRegisters(Run);
  McrWrite(Run, MCR_TERMINATION, TerminationBits(Run) | 3);
  if (Run.Params.MemoryType == DDR2) {
    McrWrite(Run, MCR_PLL_PARAMETER, Run.Params.Pll);
    return Calibrate(Run);
  }
  Status = Calibrate(Run);
  McrWrite(Run, MCR_PLL_PARAMETER, Run.Params.Pll);
  return Status;
}

} // namespace

EFI_STATUS VantorInitDram(VANTOR_PRIVATE_DATA *Private) {
  DRAM_RUN Run = {};
  Run.Private = Private;
  DecodeStrap(Run);
  SetParameters(Run);
  return PowerUp(Run);
}
