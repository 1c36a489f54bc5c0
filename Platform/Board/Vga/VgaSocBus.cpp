// The chip's internal bus behind the BAR 1 window: the system control unit and the memory
// controller behind their keys, the DLL and the settle status, the memory test engine whose
// results follow the configured data eyes, the on-chip memory and the chip's DRAM with the
// frame buffer at its top.
#include "VgaChip.h"

#include <cstdio>
#include <cstring>

namespace host::vga {
namespace {

constexpr uint32_t DramFirst = 0x40000000, DramEnd = 0x80000000;
constexpr uint32_t MemoryEnd[4] = {0x44000000, 0x48000000, 0x50000000, 0x60000000};
constexpr uint32_t EightMiB = 8 * 1024 * 1024;
constexpr uint32_t McrConfiguration = 0x04, McrControl = 0x18, McrStatus = 0x1C, McrModeCommand = 0x28;
constexpr uint32_t McrDllControl = 0x64, McrDllSetting = 0x68, McrTestControl = 0x70, McrTestErrors = 0x78;
constexpr uint32_t ControlDllReset = 0x200;
constexpr uint32_t StatusSettled = 1u << 27;
constexpr uint32_t DllEnable = 0xC0000;
constexpr uint32_t TestDone = 1u << 12, TestFailed = 1u << 13;
constexpr uint32_t TestBurstMode = 0x80;
constexpr uint32_t AllLines = 0xFFFF;

std::string Hex(uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%08X", Value);
  return Text;
}

bool Within(uint32_t Address, uint32_t Base, uint32_t Size) {
  return Address >= Base && Address - Base < Size;
}

} // namespace

uint32_t VgaChip::FrameBufferBusAddress() const {
  const uint32_t Configuration = Mcr_[McrConfiguration / 4];
  return MemoryEnd[Configuration & 3] - (EightMiB << ((Configuration >> 2) & 3));
}

// The chip's memory ends where MCR04 bits 0-1 put it; the bus decodes nothing from there to
// the end of the DRAM range, and an access there is the driver's error.
bool VgaChip::InChipMemory(uint32_t Address, const char *What) {
  const uint32_t End = MemoryEnd[Mcr_[McrConfiguration / 4] & 3];
  if (Address < End) {
    return true;
  }
  BeyondChipMemory(Address, End, What);
  return false;
}

void VgaChip::BeyondChipMemory(uint32_t Address, uint32_t End, const char *What) {
  if (!BeyondMemoryReported_) { // once per reset: a runaway loop would repeat it millions of times
    BeyondMemoryReported_ = true;
    Violation(std::string("bus ") + What + " at " + Hex(Address) +
              ": beyond the chip's memory, which ends at " + Hex(End) + " (later ones not listed)");
  }
}

// The frame buffer's bytes at a bus address in the chip's memory, or nullptr outside it (memory
// outside the frame buffer keeps nothing of interest).
uint8_t *VgaChip::FrameBufferAt(uint32_t Address) {
  const uint32_t Start = FrameBufferBusAddress();
  const uint64_t Offset = static_cast<uint64_t>(Address) - Start;
  return Address >= Start && Offset + 4 <= FrameBuffer_.size() ? FrameBuffer_.data() + Offset : nullptr;
}

uint32_t VgaChip::BusRead(uint32_t Address) {
  if (Address >= DramFirst && Address < DramEnd) { // the frame buffer first: the hot path
    if (!InChipMemory(Address, "read")) {
      return 0xFFFFFFFF;
    }
    uint32_t Value = 0;
    if (const uint8_t *Bytes = FrameBufferAt(Address)) {
      std::memcpy(&Value, Bytes, 4);
    }
    return Value;
  }
  if (Within(Address, ScuBase, UnitSize)) {
    const uint32_t Offset = Address - ScuBase;
    return Offset == 0 ? (ScuUnlocked_ ? 1 : 0) : Scu_[Offset / 4];
  }
  if (Within(Address, McrBase, UnitSize)) {
    return McrRead(Address - McrBase);
  }
  if (Within(Address, SramBase, SramSize)) {
    return Sram_[(Address - SramBase) / 4];
  }
  Violation("bus read at " + Hex(Address) + ": nothing there");
  return 0xFFFFFFFF;
}

void VgaChip::BusWrite(uint32_t Address, uint32_t Value) {
  if (Address < DramFirst || Address >= DramEnd) {
    UnitWrite(Address, Value);
  } else if (uint8_t *Bytes = InChipMemory(Address, "write") ? FrameBufferAt(Address) : nullptr) {
    std::memcpy(Bytes, &Value, 4);
  }
}

void VgaChip::UnitWrite(uint32_t Address, uint32_t Value) {
  if (Within(Address, ScuBase, UnitSize)) {
    ScuWrite(Address - ScuBase, Value);
  } else if (Within(Address, McrBase, UnitSize)) {
    McrWrite(Address - McrBase, Value);
  } else if (Within(Address, SramBase, SramSize)) {
    Sram_[(Address - SramBase) / 4] = Value;
  } else {
    Violation("bus write at " + Hex(Address) + ": nothing there");
  }
}

void VgaChip::ScuWrite(uint32_t Offset, uint32_t Value) {
  if (Offset == 0) {
    ScuUnlocked_ = Value == ScuKey;
    return;
  }
  if (!ScuUnlocked_) {
    Violation("SCU write at " + Hex(ScuBase + Offset) + " while the unit is locked");
    return;
  }
  if (Offset != SCU_STRAP) { // the straps are read-only here
    Scu_[Offset / 4] = Value;
  }
}

bool VgaChip::Settled() const {
  return !Config_.MemoryNeverReady && Now() >= SettledAtNs_;
}

bool VgaChip::DllLocked() const {
  const uint32_t Control = Mcr_[McrDllControl / 4];
  return !Config_.DllNeverLocks && (Control & DllEnable) == DllEnable &&
         (Control & 0xFF) >= Config_.DllLockStep;
}

uint32_t VgaChip::McrRead(uint32_t Offset) {
  switch (Offset) {
  case 0:
    return McrUnlocked_ ? 1 : 0;
  case McrStatus:
    return (Settled() ? StatusSettled : 0) |
           (uint32_t(DllLocked() ? Config_.DllStatusLocked : Config_.DllStatusUnlocked) << 8);
  case McrTestControl: {
    const uint32_t Errors = Mcr_[McrTestErrors / 4];
    return Mcr_[McrTestControl / 4] | (TestDone_ ? TestDone : 0) |
           (TestDone_ && Errors != 0 ? TestFailed : 0);
  }
  default:
    return Mcr_[Offset / 4];
  }
}

void VgaChip::McrWrite(uint32_t Offset, uint32_t Value) {
  if (Offset == 0) {
    McrUnlocked_ = Value == McrKey;
    return;
  }
  if (!McrUnlocked_) {
    Violation("MCR write at " + Hex(McrBase + Offset) + " while the controller is locked");
    return;
  }
  McrLog_.emplace_back(Offset, Value);
  const uint32_t Previous = Mcr_[Offset / 4];
  switch (Offset) {
  case McrStatus:
    return; // read-only
  case McrConfiguration:
    ConfigurationWrites_++;
    break;
  case McrControl: {
    if ((Value & ControlDllReset) && !(Previous & ControlDllReset)) {
      SettledAtNs_ = Now() + Config_.SettleNs; // a controller reset settles after a while
    }
    const std::pair<unsigned, unsigned> Strobe{(Value >> 16) & 0x1F, (Value >> 23) & 1};
    if (StrobeSettings_.empty() || StrobeSettings_.back() != Strobe) {
      StrobeSettings_.push_back(Strobe);
    }
    break;
  }
  case McrModeCommand:
    if (!Settled()) {
      Violation("memory mode command before the controller settled");
    }
    break;
  case McrTestControl:
    Mcr_[Offset / 4] = Value;
    if (Value == 0) {
      TestDone_ = false;
    } else {
      StartTest(Value);
    }
    return;
  default:
    break;
  }
  Mcr_[Offset / 4] = Value;
}

void VgaChip::StartTest(uint32_t Control) {
  MemoryTests_++;
  if (!Settled() || !DllLocked()) {
    Violation("memory test started before the controller settled and its DLL locked");
  }
  if (Config_.TestEngineStuck) {
    TestDone_ = false;
    return;
  }
  const uint32_t Errors =
      MemoryTests_ == Config_.FailingTest ? AllLines : TestErrors((Control & TestBurstMode) != 0);
  Mcr_[McrTestErrors / 4] = Errors | (Errors << 16);
  TestDone_ = true;
}

// Failing data lines for the current strobe setting and delays: a burst test passes or fails
// as a whole by the strobe eye, an error test line by line by the data eyes.
uint32_t VgaChip::TestErrors(bool Burst) const {
  if (Config_.NoEye || !Settled() || !DllLocked()) {
    return AllLines;
  }
  const uint32_t Control = Mcr_[McrControl / 4], Setting = Mcr_[McrDllSetting / 4];
  const unsigned Phase = (Control >> 16) & 0x1F, Half = (Control >> 23) & 1;
  const unsigned Delay[2] = {(Setting >> 16) & 0xFF, (Setting >> 24) & 0xFF};
  if (Burst) {
    const EyeWindow &Eye = Config_.StrobeEye[Phase][Half];
    return Eye.Contains(Delay[0]) && Eye.Contains(Delay[1]) ? 0 : AllLines;
  }
  uint32_t Errors = 0;
  for (unsigned Line = 0; Line < DataLines; Line++) {
    if (!Config_.LineEye[Line].Contains(Delay[Line / 8])) {
      Errors |= 1u << Line;
    }
  }
  return Errors;
}

std::vector<uint32_t> VgaChip::McrWrites(uint32_t Offset) const {
  std::vector<uint32_t> Values;
  for (const auto &[At, Value] : McrLog_) {
    if (At == Offset) {
      Values.push_back(Value);
    }
  }
  return Values;
}

} // namespace host::vga
