// The VGA function's PCI face (configuration space, BARs, attachment) and its VGA register
// files.
#include "VgaChip.h"

#include <Protocol/PciIo.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace host::vga {
namespace {

constexpr uint32_t MiB = 1024 * 1024;
constexpr uint8_t PciClassDisplay = 0x03;
constexpr uint8_t Revision = 0x41;
constexpr uint8_t CrtcProtect = 0x80;
constexpr uint8_t CrtcUnlockValue = 0xA8;
constexpr uint8_t CrtcUnlockIndex = 0x80;
constexpr uint8_t CrtcMemoryState = 0xD0;
constexpr uint8_t CrtcDdc = 0xB7;        // bits 0/2 drive SCL/SDA low, bits 4/5 read their levels
constexpr uint64_t FrameNs = 16'666'667; // 60 Hz
constexpr uint64_t RetraceNs = 500'000;
constexpr uint64_t BusSetUpNs = 100, BusBytesPerNs = 4; // a burst on the chip's host bus

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// What a BAR decodes to: BAR 0 the frame buffer, BAR 1 the register block.
class BarDecoder final : public MmioDevice {
public:
  BarDecoder(VgaChip &Chip, bool Registers) : Chip_(Chip), Registers_(Registers) {}
  std::string Name() const override { return Registers_ ? "vga-registers" : "vga-framebuffer"; }
  uint64_t Read(uint64_t Offset, unsigned Width) override {
    return Registers_ ? Chip_.RegisterRead(Offset, Width) : Chip_.FrameBufferRead(Offset, Width);
  }
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override {
    Registers_ ? Chip_.RegisterWrite(Offset, Width, Value) : Chip_.FrameBufferWrite(Offset, Width, Value);
  }

private:
  VgaChip &Chip_;
  bool Registers_;
};

PciFunction::Identity VgaIdentity() {
  return {VgaChip::VendorId, VgaChip::DeviceId, Revision, uint32_t(PciClassDisplay) << 16,
          VgaChip::VendorId, VgaChip::DeviceId};
}

} // namespace

VgaChipConfig VgaChipConfig::Default() {
  VgaChipConfig Config;
  for (unsigned Phase = 6; Phase <= 12; Phase++) {
    const unsigned Distance = Phase > 9 ? Phase - 9 : 9 - Phase;
    Config.StrobeEye[Phase][0] = {static_cast<uint8_t>(18 + 3 * Distance),
                                  static_cast<uint8_t>(52 - 3 * Distance)};
  }
  for (unsigned Phase = 8; Phase <= 10; Phase++) {
    Config.StrobeEye[Phase][1] = {24, 44};
  }
  for (unsigned Line = 0; Line < DataLines; Line++) {
    Config.LineEye[Line] = {static_cast<uint8_t>(12 + (Line * 5) % 7),
                            static_cast<uint8_t>(50 + (Line * 3) % 5)};
  }
  return Config;
}

uint32_t VgaChipConfig::Strap() const {
  unsigned FrameBufferCode = 0;
  while ((8u << FrameBufferCode) < FrameBufferMiB && FrameBufferCode < 3) {
    FrameBufferCode++;
  }
  return (Ddr2 ? 1u << 24 : 0) | ((TimingStrap & 3) << 25) | (((SizeCode - 1) & 3) << 27) |
         (FrameBufferCode << 2);
}

VgaChip::VgaChip(VgaChipConfig Config)
    : DeviceModel("vga"), Config_(std::move(Config)), Pci_("vga", VgaIdentity()) {
  const unsigned Mib = Config_.FrameBufferMiB;
  if (Mib != 8 && Mib != 16 && Mib != 32 && Mib != 64) {
    throw std::invalid_argument("vga: the frame buffer is 8, 16, 32 or 64 MiB");
  }
  if (Config_.SizeCode < 1 || Config_.SizeCode > 4) {
    throw std::invalid_argument("vga: the memory size code is 1 to 4");
  }
  Pci_.Define(0x3D, 1, 1); // INTA
  Pci_.DefineBar(0, PciBarKind::Memory32, uint64_t(Mib) * MiB, std::make_shared<BarDecoder>(*this, false),
                 true);
  Pci_.DefineBar(1, PciBarKind::Memory32, RegisterBarSize, std::make_shared<BarDecoder>(*this, true));
  Reset();
}

void VgaChip::ViolationAt(const char *Before, uint64_t At, const char *After) {
  Violation(Before + Hex(At) + After);
}

void VgaChip::WidthViolation(const char *Access, unsigned Width, uint64_t Offset) {
  Violation(std::string(Access) + " of " + std::to_string(Width) + " bytes at register offset " +
            Hex(Offset));
}

uint64_t VgaChip::Now() const {
  return Platform::Current().VirtualTimeNs();
}

void VgaChip::Reset() {
  Pci_.Reset();
  Pci_.ConfigWrite(PciConfig::Bar0, 4, static_cast<uint32_t>(VgaChipConfig::FrameBufferBase));
  Pci_.ConfigWrite(PciConfig::Bar0 + 4, 4, static_cast<uint32_t>(VgaChipConfig::RegisterBase));
  RefreshDecode();

  Crtc_.fill(0);
  if (Monitor_) {
    Monitor_->Reset();
  }
  Seq_.fill(0);
  Gr_.fill(0);
  Attr_.fill(0);
  Misc_ = VgaEnable_ = CrtcIndex_ = SeqIndex_ = GrIndex_ = AttrIndex_ = 0;
  AttrExpectsData_ = false;
  Engine_.fill(0);
  EngineBusy_ = false;
  WriteBackEndNs_ = 0;
  EngineCommands_.clear();
  WindowBase_ = WindowEnable_ = 0;
  Scu_.fill(0);
  Mcr_.fill(0);
  Sram_.assign(SramSize / 4, 0);
  ScuUnlocked_ = McrUnlocked_ = BeyondMemoryReported_ = false;
  TestDone_ = false;
  Scu_[SCU_STRAP / 4] = Config_.Strap();
  Mcr_[0x170 / 4] = Config_.Reference14MHz ? 1u << 13 : 0;
  if (Config_.BmcInitialised) {
    // What the BMC firmware leaves: the configuration for its straps, the PLL, a locked DLL.
    constexpr uint32_t Configuration[2][4] = {{0x130, 0x131, 0x132, 0x133}, {0x100, 0x121, 0x122, 0x123}};
    Mcr_[0x04 / 4] = Configuration[Config_.Ddr2][Config_.SizeCode - 1] | (Config_.Strap() & 0xC) |
                     (Config_.HalfWidth ? 0x40 : 0);
    Mcr_[0x120 / 4] = Config_.MemoryPll;
    Mcr_[0x64 / 4] = 0xC0000 | Config_.DllLockStep;
    SettledAtNs_ = 0;
  } else {
    SettledAtNs_ = UINT64_MAX;
  }
  // Memory holds whatever it held before power-up.
  FrameBuffer_.assign(static_cast<size_t>(Config_.FrameBufferMiB) * MiB, 0x5A);
}

// ---- PCI function ---------------------------------------------------------------------------

void VgaChip::RefreshDecode() {
  MemoryDecode_ = (Pci_.CommandRegister() & PciConfig::CommandMemorySpace) != 0;
  for (unsigned Index = 0; Index < BarBase_.size(); Index++) {
    BarBase_[Index] = Pci_.BarAddress(Index).value_or(0);
  }
  BarsChanged();
}

uint64_t VgaChip::Read(uint64_t Offset, unsigned Width) {
  const uint64_t Address = VgaChipConfig::WindowBase + Offset;
  if (MemoryDecode_ && Address - BarBase_[1] < RegisterBarSize &&
      Address - BarBase_[1] + Width <= RegisterBarSize) {
    return RegisterRead(Address - BarBase_[1], Width);
  }
  if (MemoryDecode_ && Address - BarBase_[0] < FrameBuffer_.size() &&
      Address - BarBase_[0] + Width <= FrameBuffer_.size()) {
    return FrameBufferRead(Address - BarBase_[0], Width);
  }
  ViolationAt("read at ", Address, " that no BAR decodes");
  return ~0ull;
}

void VgaChip::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  const uint64_t Address = VgaChipConfig::WindowBase + Offset;
  if (MemoryDecode_ && Address - BarBase_[1] < RegisterBarSize &&
      Address - BarBase_[1] + Width <= RegisterBarSize) {
    // RegisterWrite without its check of the decoding, which holds here.
    return Tracing_ ? TracedWrite(Address - BarBase_[1], Width, Value)
                    : WindowWrite(Address - BarBase_[1], Width, Value);
  }
  if (MemoryDecode_ && Address - BarBase_[0] < FrameBuffer_.size() &&
      Address - BarBase_[0] + Width <= FrameBuffer_.size()) {
    return FrameBufferWrite(Address - BarBase_[0], Width, Value);
  }
  ViolationAt("write at ", Address, " that no BAR decodes");
}

uint32_t VgaChip::ConfigRead(uint32_t Offset, unsigned Width) {
  return Pci_.ConfigRead(static_cast<uint16_t>(Offset), Width);
}

void VgaChip::ConfigWrite(uint32_t Offset, unsigned Width, uint32_t Value) {
  Pci_.ConfigWrite(static_cast<uint16_t>(Offset), Width, Value);
  RefreshDecode();
}

PciBarInfo VgaChip::Bar(unsigned Index) {
  if (Index >= BarBase_.size()) {
    return {};
  }
  const uint64_t Size = Index == 0 ? FrameBuffer_.size() : RegisterBarSize;
  return {true, true, Index == 0, BarBase_[Index], Size};
}

bool VgaChip::MemoryDecodes() const {
  return MemoryDecode_;
}

uint8_t *VgaChip::BarMemory(unsigned Index, uint64_t Offset, uint64_t Length) {
  if (Index != 0 || !MemoryDecodes() || Offset > FrameBuffer_.size() ||
      Length > FrameBuffer_.size() - Offset) {
    return nullptr;
  }
  return FrameBuffer_.data() + Offset;
}

// A run that stays inside BAR 0, or inside the bus window's view of the frame buffer, only
// moves bytes: the address space copies it in one piece.
uint8_t *VgaChip::Memory(uint64_t Offset, uint64_t Length, unsigned Width) {
  const uint64_t Address = VgaChipConfig::WindowBase + Offset;
  if (!MemoryDecode_) {
    return nullptr;
  }
  const uint64_t InFrameBuffer = Address - BarBase_[0];
  if (InFrameBuffer < FrameBuffer_.size() && Length <= FrameBuffer_.size() - InFrameBuffer) {
    return FrameBuffer_.data() + InFrameBuffer;
  }
  return WindowMemory(Address - BarBase_[1], Length, Width);
}

uint64_t VgaChip::BurstCostNs(uint64_t Bytes) const {
  return BusSetUpNs + Bytes / BusBytesPerNs;
}

uint64_t VgaChip::ExtraAttributes() const {
  return EFI_PCI_IO_ATTRIBUTE_VGA_IO | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO | EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY;
}

namespace {
bool LegacyVgaPort(uint64_t Port, unsigned Width) {
  return Port >= 0x3B0 && Port + Width <= 0x3E0;
}
} // namespace

std::optional<uint64_t> VgaChip::LegacyIoRead(uint64_t Port, unsigned Width) {
  if (!LegacyVgaPort(Port, Width)) {
    return std::nullopt;
  }
  uint64_t Value = 0;
  for (unsigned Byte = 0; Byte < Width; Byte++) {
    Value |= static_cast<uint64_t>(PortRead(static_cast<uint32_t>(Port + Byte))) << (8 * Byte);
  }
  return Value;
}

bool VgaChip::LegacyIoWrite(uint64_t Port, unsigned Width, uint64_t Value) {
  if (!LegacyVgaPort(Port, Width)) {
    return false;
  }
  for (unsigned Byte = 0; Byte < Width; Byte++) {
    PortWrite(static_cast<uint32_t>(Port + Byte), static_cast<uint8_t>(Value >> (8 * Byte)));
  }
  return true;
}

// ---- BAR 0: the frame buffer ----------------------------------------------------------------

uint64_t VgaChip::FrameBufferRead(uint64_t Offset, unsigned Width) {
  if (!MemoryDecodes()) {
    ViolationAt("frame buffer read at ", Offset, " while memory decoding is off");
    return ~0ull;
  }
  uint64_t Value = 0;
  std::memcpy(&Value, &FrameBuffer_[Offset], Width);
  return Value;
}

void VgaChip::FrameBufferWrite(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (!MemoryDecodes()) {
    ViolationAt("frame buffer write at ", Offset, " while memory decoding is off");
    return;
  }
  std::memcpy(&FrameBuffer_[Offset], &Value, Width);
}

// ---- BAR 1: ports, 2D engine, bus window ------------------------------------------------------

namespace {
constexpr uint64_t PortsFirst = 0x3B0, PortsEnd = 0x3E0;
constexpr uint64_t EngineFirst = 0x8000, EngineEnd = 0x8200;
constexpr uint64_t WindowEnable = 0xF000, WindowBase = 0xF004;
constexpr uint64_t WindowData = 0x10000, WindowSpan = 0x10000;
} // namespace

// Through the data port of the bus window, the frame buffer reads and writes as memory in
// 4-byte accesses while the window is on; traced accesses go one by one.
uint8_t *VgaChip::WindowMemory(uint64_t Offset, uint64_t Length, unsigned Width) {
  const uint64_t InWindow = Offset - WindowData;
  if (Width != 4 || WindowEnable_ != 1 || Tracing_ || InWindow >= WindowSpan ||
      Length > WindowSpan - InWindow) {
    return nullptr;
  }
  const uint64_t InFrameBuffer = uint64_t(WindowBase_) + InWindow - FrameBufferBusAddress();
  if (InFrameBuffer >= FrameBuffer_.size() || Length > FrameBuffer_.size() - InFrameBuffer) {
    return nullptr;
  }
  return FrameBuffer_.data() + InFrameBuffer;
}

uint64_t VgaChip::RegisterRead(uint64_t Offset, unsigned Width) {
  if (!MemoryDecodes()) {
    ViolationAt("register read at ", Offset, " while memory decoding is off");
    return ~0ull;
  }
  uint64_t Value = 0;
  if (Offset >= PortsFirst && Offset + Width <= PortsEnd) {
    Value = *LegacyIoRead(Offset, Width);
  } else if (Offset >= EngineFirst && Offset < EngineEnd && Width == 4) {
    Value = EngineRead(static_cast<uint32_t>(Offset));
  } else if (Offset == WindowEnable && Width == 4) {
    Value = WindowEnable_;
  } else if (Offset == WindowBase && Width == 4) {
    Value = WindowBase_;
  } else if (Offset >= WindowData && Width == 4) {
    if (WindowEnable_ != 1) {
      ViolationAt("bus window read at ", Offset, " with the window off");
    }
    Value = BusRead(WindowBase_ | static_cast<uint32_t>(Offset & 0xFFFF));
  } else {
    WidthViolation("read", Width, Offset);
  }
  if (Tracing_) {
    Accesses_.push_back({false, static_cast<uint32_t>(Offset), Width, static_cast<uint32_t>(Value)});
  }
  return Value;
}

void VgaChip::RegisterWrite(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (!MemoryDecodes()) {
    ViolationAt("register write at ", Offset, " while memory decoding is off");
    return;
  }
  if (Tracing_) {
    TracedWrite(Offset, Width, Value);
    return;
  }
  WindowWrite(Offset, Width, Value);
}

void VgaChip::TracedWrite(uint64_t Offset, unsigned Width, uint64_t Value) {
  Accesses_.push_back({true, static_cast<uint32_t>(Offset), Width, static_cast<uint32_t>(Value)});
  WindowWrite(Offset, Width, Value);
}

// The bus window's registers first: the words a driver moves through it are most of the
// accesses, three register writes each (inline in Write, their path).
[[gnu::always_inline]] inline void VgaChip::WindowWrite(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (Offset >= WindowData && Width == 4) {
    if (WindowEnable_ != 1) {
      ViolationAt("bus window write at ", Offset, " with the window off");
      return;
    }
    BusWrite(WindowBase_ | static_cast<uint32_t>(Offset & 0xFFFF), static_cast<uint32_t>(Value));
  } else if (Offset == WindowEnable && Width == 4) {
    WindowEnable_ = static_cast<uint32_t>(Value);
  } else if (Offset == WindowBase && Width == 4) {
    WindowBase_ = static_cast<uint32_t>(Value) & 0xFFFF0000;
  } else {
    PortOrEngineWrite(Offset, Width, Value);
  }
}

void VgaChip::PortOrEngineWrite(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (Offset >= PortsFirst && Offset + Width <= PortsEnd) {
    LegacyIoWrite(Offset, Width, Value);
  } else if (Offset >= EngineFirst && Offset < EngineEnd && Width == 4) {
    EngineWrite(static_cast<uint32_t>(Offset), static_cast<uint32_t>(Value));
  } else {
    WidthViolation("write", Width, Offset);
  }
}

// ---- VGA register files ----------------------------------------------------------------------

uint8_t VgaChip::PortRead(uint32_t Port) {
  switch (Port) {
  case 0x3C0:
    return AttrIndex_;
  case 0x3C1:
    return Attr_[AttrIndex_ & 0x1F];
  case 0x3C3:
    return VgaEnable_;
  case 0x3C4:
    return SeqIndex_;
  case 0x3C5:
    return Seq_[SeqIndex_];
  case 0x3CC:
    return Misc_;
  case 0x3CE:
    return GrIndex_;
  case 0x3CF:
    return Gr_[GrIndex_];
  case 0x3D4:
    if (Monitor_) {
      Monitor_->DelayRead();
    }
    return CrtcIndex_;
  case 0x3D5:
    return CrtcRead(CrtcIndex_);
  case 0x3DA: {
    AttrExpectsData_ = false; // reading input status 1 resets the attribute flip-flop
    return Now() % FrameNs >= FrameNs - RetraceNs ? 0x09 : 0x00;
  }
  default:
    return 0xFF;
  }
}

void VgaChip::PortWrite(uint32_t Port, uint8_t Value) {
  switch (Port) {
  case 0x3C0:
    if (AttrExpectsData_) {
      Attr_[AttrIndex_ & 0x1F] = Value;
    } else {
      AttrIndex_ = Value;
    }
    AttrExpectsData_ = !AttrExpectsData_;
    break;
  case 0x3C2:
    Misc_ = Value;
    break;
  case 0x3C3:
    VgaEnable_ = Value;
    break;
  case 0x3C4:
    SeqIndex_ = Value;
    break;
  case 0x3C5:
    Seq_[SeqIndex_] = Value;
    break;
  case 0x3CE:
    GrIndex_ = Value;
    break;
  case 0x3CF:
    Gr_[GrIndex_] = Value;
    break;
  case 0x3D4:
    CrtcIndex_ = Value;
    break;
  case 0x3D5:
    CrtcWrite(CrtcIndex_, Value);
    break;
  default:
    break; // palette and other ports keep nothing here
  }
}

uint8_t VgaChip::CrtcRead(uint8_t Index) {
  if (Index == CrtcDdc && Monitor_) {
    return Monitor_->Read(Crtc_[Index]);
  }
  if (Index != CrtcMemoryState) {
    return Crtc_[Index];
  }
  const bool Ready =
      !Config_.MemoryNeverReady && (Config_.BmcInitialised || (Scu_[SCU_HANDSHAKE / 4] & 0x40));
  return static_cast<uint8_t>((Config_.BmcInitialised ? 0x80 : 0) | (Ready ? 0x40 : 0) |
                              (Config_.Crd0Bits & 0x3F));
}

void VgaChip::CrtcWrite(uint8_t Index, uint8_t Value) {
  if (Index < CrtcUnlockIndex) {
    if (Index <= 7 && (Crtc_[0x11] & CrtcProtect)) {
      Violation("write of CR" + Hex(Index).substr(2) + " while CR11 protects CR00-CR07");
      if (Index == 7) {
        Crtc_[7] = static_cast<uint8_t>((Crtc_[7] & ~0x10) | (Value & 0x10));
      }
      return;
    }
    Crtc_[Index] = Value;
  } else if (Index == CrtcUnlockIndex) {
    Crtc_[Index] = Value;
  } else if (Crtc_[CrtcUnlockIndex] != CrtcUnlockValue) {
    Violation("write of CR" + Hex(Index).substr(2) + " while the extended registers are locked");
  } else if (Index != CrtcMemoryState) {
    Crtc_[Index] = Value;
    if (Index == CrtcDdc && Monitor_) {
      Monitor_->Drive((Value & 0x01) != 0, (Value & 0x04) != 0);
    }
  }
}

} // namespace host::vga
