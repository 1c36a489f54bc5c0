// Register-level model of the BMC's VGA function: the PCI function (configuration space and
// two memory BARs), the VGA register files with the locked extended CRTC range, the internal
// bus window onto the system control unit, the memory controller with its DLL and memory test
// engine, the on-chip memory, and the frame buffer as host memory.
//
// The model is attached at the board's PCI memory window for the function and routes each
// access through the function's BAR decode, as the root complex does. It checks the rules a
// driver must keep and records every breach as a protocol error: writes to locked registers,
// bus-window data accesses without an enabled window, memory tests started before the
// controller settled, accesses while memory decoding is off, 2D engine commands written while
// the engine is busy or off, copies that leave the frame buffer.
#pragma once

#include "Common/DeviceModel.h"
#include "Common/PciFunction.h"
#include "DdcMonitor.h"

#include <HostPlatform.h>
#include <PciIo.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace host::vga {

// Delay settings k with Lo <= k <= Hi pass; Hi < Lo is a window without passes.
struct EyeWindow {
  uint8_t Lo = 1;
  uint8_t Hi = 0;
  bool Contains(unsigned K) const { return K >= Lo && K <= Hi; }
  bool Empty() const { return Hi < Lo; }
};

// The chip's internal bus.
constexpr uint32_t ScuBase = 0x1E6E2000, McrBase = 0x1E6E0000, SramBase = 0x1E720000;
constexpr uint32_t UnitSize = 0x1000, SramSize = 0x8000;
constexpr uint32_t ScuKey = 0x1688A8A8, McrKey = 0xFC600309;
constexpr uint32_t SCU_STRAP = 0x70, SCU_HANDSHAKE = 0x40;

constexpr unsigned StrobePhases = 32;
constexpr unsigned DataLines = 16;

struct VgaChipConfig {
  // Straps and BMC state.
  bool BmcInitialised = false; // CRD0 bit 7: the BMC firmware has set the memory up
  uint8_t Crd0Bits = 0x01;     // further CRD0 bits the BMC reports (bit 0: wide-screen modes)
  bool Ddr2 = false;
  unsigned SizeCode = 1;        // 1 to 4
  unsigned TimingStrap = 0;     // 0 to 3
  unsigned FrameBufferMiB = 16; // 8, 16, 32 or 64
  bool Reference14MHz = false;  // MCR170 bit 13
  bool HalfWidth = false;       // a BMC set-up with a 16-bit memory bus (MCR04 bit 6)
  // Behaviour of the memory controller.
  uint16_t MemoryPll = 0x5040; // the PLL word (MCR120) a BMC set-up leaves
  uint8_t DllLockStep = 0x54;  // the DLL locks once MCR64's low byte reaches this
  // MCR1C bits 8-15 with the DLL locked and not locked.
  uint8_t DllStatusLocked = 0x06, DllStatusUnlocked = 0x09;
  uint64_t SettleNs = 2000; // MCR1C bit 27 this long after a controller reset
  std::array<std::array<EyeWindow, 2>, StrobePhases> StrobeEye{}; // burst tests, per phase and half
  std::array<EyeWindow, DataLines> LineEye{};                     // error tests, per data line
  // Fault knobs.
  bool MemoryNeverReady = false; // CRD0 bit 6 and MCR1C bit 27 never set
  bool DllNeverLocks = false;
  bool TestEngineStuck = false; // the memory test engine never reports done
  bool NoEye = false;           // every memory test fails
  bool EngineStuck = false;     // the 2D engine never finishes a copy (0x804C stays busy)
  uint64_t FailingTest = 0;     // this memory test (counted from 1) fails on every line; 0: none
  // The PCI memory window the function's BARs are assigned in, as the enumeration does.
  static constexpr uint64_t WindowBase = 0x58000000;
  static constexpr uint64_t WindowSize = 0x08000000;
  static constexpr uint64_t FrameBufferBase = WindowBase;           // BAR 0, up to 64 MiB
  static constexpr uint64_t RegisterBase = WindowBase + 0x04000000; // BAR 1

  // A board's chip: DDR3, 16 MiB frame buffer, eyes with one clear best strobe setting.
  static VgaChipConfig Default();
  uint32_t Strap() const;
};

// One access to BAR 1, when tracing.
struct RegisterAccess {
  bool Write;
  uint32_t Offset;
  unsigned Width;
  uint32_t Value;
  bool operator==(const RegisterAccess &) const = default;
};

class VgaChip : public DeviceModel, public PciFunctionModel {
public:
  static constexpr uint16_t VendorId = 0x1A03;
  static constexpr uint16_t DeviceId = 0x2000;
  static constexpr uint64_t RegisterBarSize = 0x20000;

  explicit VgaChip(VgaChipConfig Config = VgaChipConfig::Default());
  // Power-on state; the board's enumeration then assigns the BARs in the window.
  void Reset() override;
  // The window: accesses go to the BAR that decodes them.
  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  // The frame buffer as plain memory: BAR 0, and the bus window's view of it (see Memory).
  uint8_t *Memory(uint64_t Offset, uint64_t Length, unsigned Width) override;
  uint64_t BurstCostNs(uint64_t Bytes) const override;
  PciFunction &Function() { return Pci_; }
  const VgaChipConfig &Config() const { return Config_; }
  VgaChipConfig &MutableConfig() { return Config_; }

  // PciFunctionModel.
  uint32_t ConfigRead(uint32_t Offset, unsigned Width) override;
  void ConfigWrite(uint32_t Offset, unsigned Width, uint32_t Value) override;
  PciBarInfo Bar(unsigned Index) override;
  uint8_t *BarMemory(unsigned Index, uint64_t Offset, uint64_t Length) override;
  uint64_t ExtraAttributes() const override;
  std::optional<uint64_t> LegacyIoRead(uint64_t Port, unsigned Width) override;
  bool LegacyIoWrite(uint64_t Port, unsigned Width, uint64_t Value) override;

  // BAR 1 and BAR 0 contents.
  uint64_t RegisterRead(uint64_t Offset, unsigned Width);
  void RegisterWrite(uint64_t Offset, unsigned Width, uint64_t Value);
  uint64_t FrameBufferRead(uint64_t Offset, unsigned Width);
  void FrameBufferWrite(uint64_t Offset, unsigned Width, uint64_t Value);

  // What tests and boardsim look at.
  std::vector<uint8_t> &FrameBuffer() { return FrameBuffer_; }
  uint8_t Crtc(uint8_t Index) const { return Crtc_[Index]; }
  uint8_t Sequencer(uint8_t Index) const { return Seq_[Index]; }
  uint8_t Graphics(uint8_t Index) const { return Gr_[Index]; }
  uint8_t Attribute(uint8_t Index) const { return Attr_[Index & 0x1F]; }
  uint8_t MiscOutput() const { return Misc_; }
  uint32_t Scu(uint32_t Offset) const { return Scu_[Offset / 4]; }
  uint32_t Mcr(uint32_t Offset) const { return Mcr_[Offset / 4]; }
  uint32_t Sram(uint32_t Offset) const { return Sram_[Offset / 4]; }
  uint32_t Engine(uint32_t Offset) const { return Engine_[(Offset - 0x8000) / 4]; }
  // 2D engine: the commands it accepted, in order, and whether a copy is under way.
  const std::vector<uint32_t> &EngineCommands() const { return EngineCommands_; }
  bool EngineBusy() const { return EngineBusy_ || Now() < WriteBackEndNs_; }
  void Trace(bool On) {
    Tracing_ = On;
    Accesses_.clear();
  }
  const std::vector<RegisterAccess> &Accesses() const { return Accesses_; }
  // Counters of what the driver made the chip do.
  unsigned ConfigurationWrites() const { return ConfigurationWrites_; } // MCR04: one per memory set-up
  const std::vector<std::pair<unsigned, unsigned>> &StrobeSettings() const { return StrobeSettings_; }
  unsigned MemoryTests() const { return MemoryTests_; }
  std::vector<uint32_t> McrWrites(uint32_t Offset) const; // values written to one MCR register, in order
  const std::vector<std::pair<uint32_t, uint32_t>> &McrLog() const { return McrLog_; } // (offset, value)

  // The display on the DDC lines of CRB7 (none: CRB7 reads back as written).
  void ConnectMonitor(std::shared_ptr<DdcMonitor> Monitor) { Monitor_ = std::move(Monitor); }
  DdcMonitor *Monitor() const { return Monitor_.get(); }

  // The bus address range of the frame buffer as MCR04 places it.
  uint32_t FrameBufferBusAddress() const;

private:
  void Violation(const std::string &Text) { ProtocolError(Text); }
  // A violation whose text names an offset or address, built out of line: the register paths
  // run millions of times per mode set and should not carry the text's building.
  [[gnu::cold]] void ViolationAt(const char *Before, uint64_t At, const char *After);
  [[gnu::cold]] void WidthViolation(const char *Access, unsigned Width, uint64_t Offset);
  // VGA ports (BAR 1 offsets 0x3B0 to 0x3DF).
  uint8_t PortRead(uint32_t Port);
  void PortWrite(uint32_t Port, uint8_t Value);
  void CrtcWrite(uint8_t Index, uint8_t Value);
  // BAR 1 writes after the decode and trace: the bus window, then the ports and the 2D engine.
  void WindowWrite(uint64_t Offset, unsigned Width, uint64_t Value);
  [[gnu::noinline]] void TracedWrite(uint64_t Offset, unsigned Width, uint64_t Value);
  [[gnu::noinline]] void PortOrEngineWrite(uint64_t Offset, unsigned Width, uint64_t Value);
  uint8_t CrtcRead(uint8_t Index);
  // Internal bus.
  uint32_t BusRead(uint32_t Address);
  bool InChipMemory(uint32_t Address, const char *What);
  [[gnu::cold]] void BeyondChipMemory(uint32_t Address, uint32_t End, const char *What);
  uint8_t *FrameBufferAt(uint32_t Address);
  void BusWrite(uint32_t Address, uint32_t Value);
  void UnitWrite(uint32_t Address, uint32_t Value); // the bus outside the chip's DRAM
  void ScuWrite(uint32_t Offset, uint32_t Value);
  void McrWrite(uint32_t Offset, uint32_t Value);
  uint32_t McrRead(uint32_t Offset);
  bool Settled() const;
  bool DllLocked() const;
  void StartTest(uint32_t Control);
  uint32_t TestErrors(bool Burst) const;
  bool MemoryDecodes() const;
  uint64_t Now() const;
  uint8_t *WindowMemory(uint64_t Offset, uint64_t Length, unsigned Width);
  // 2D engine (BAR 1 0x8000 to 0x81FF).
  uint32_t EngineRead(uint32_t Offset);
  void EngineWrite(uint32_t Offset, uint32_t Value);
  void EngineCommand(uint32_t Command);
  void EngineCopy(uint32_t Command);

  VgaChipConfig Config_;
  PciFunction Pci_;
  // The decode of the function's configuration, refreshed on every configuration write: the
  // register paths run millions of times per mode set.
  void RefreshDecode();
  std::array<uint64_t, 2> BarBase_{};
  bool MemoryDecode_ = false;
  std::array<uint8_t, 256> Crtc_{}, Seq_{}, Gr_{};
  std::array<uint8_t, 32> Attr_{};
  uint8_t Misc_ = 0, VgaEnable_ = 0, CrtcIndex_ = 0, SeqIndex_ = 0, GrIndex_ = 0, AttrIndex_ = 0;
  bool AttrExpectsData_ = false;
  std::array<uint32_t, 0x80> Engine_{}; // BAR 1 0x8000..0x81FF
  bool EngineBusy_ = false;
  uint64_t WriteBackEndNs_ = 0; // the copy's write-back runs until then
  std::vector<uint32_t> EngineCommands_;
  uint32_t WindowBase_ = 0, WindowEnable_ = 0;
  std::array<uint32_t, 0x400> Scu_{}, Mcr_{}; // 4 KiB each
  std::vector<uint32_t> Sram_;
  bool ScuUnlocked_ = false, McrUnlocked_ = false;
  bool BeyondMemoryReported_ = false;
  uint64_t SettledAtNs_ = 0;
  bool TestDone_ = false;
  std::vector<uint8_t> FrameBuffer_;
  bool Tracing_ = false;
  std::vector<RegisterAccess> Accesses_;
  std::vector<std::pair<uint32_t, uint32_t>> McrLog_;
  unsigned ConfigurationWrites_ = 0, MemoryTests_ = 0;
  std::vector<std::pair<unsigned, unsigned>> StrobeSettings_;
  std::shared_ptr<DdcMonitor> Monitor_;
};

} // namespace host::vga
