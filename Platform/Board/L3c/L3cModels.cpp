// The L3 sizing blocks' register-level models.
#include "L3cModels.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace host {
namespace {

constexpr uint32_t kHardwareSizeShift = 24;
constexpr uint32_t kHardwareSizeMask = 0x3Fu << kHardwareSizeShift;
constexpr uint32_t kConfigSizeShift = 18;
constexpr uint32_t kConfigSizeMask = 0x3F;
constexpr uint32_t kResizeOperation = 0x12000000;
constexpr uint32_t kOperationMask = 0x7F000000;
constexpr uint32_t kCountShift = 8;
constexpr uint32_t kCountMask = 0xFFFF;
constexpr uint64_t kReleaseHoldNs = 1'000;

std::string Hex(uint64_t Value) {
  std::ostringstream Text;
  Text << "0x" << std::hex << std::uppercase << Value;
  return Text.str();
}

uint64_t Now() {
  return Platform::Current().VirtualTimeNs();
}

} // namespace

std::vector<L3cAccess> L3cAccessLog::Of(const std::string &Block) const {
  std::vector<L3cAccess> Found;
  for (const L3cAccess &Entry : Entries) {
    if (Block.empty() || Entry.Block == Block) {
      Found.push_back(Entry);
    }
  }
  return Found;
}

L3cRegisterBlock::L3cRegisterBlock(std::string Name, std::shared_ptr<L3cAccessLog> Log,
                                   RegisterFile Registers)
    : DeviceModel(std::move(Name)), Log_(std::move(Log)), Registers_(std::move(Registers)) {}

void L3cRegisterBlock::Record(uint64_t Offset, bool IsWrite, uint64_t Value) {
  Log_->Entries.push_back(
      {Name(), Offset, IsWrite, Value, Platform::Current().CpuOperations().size(), Now()});
}

uint64_t L3cRegisterBlock::Read(uint64_t Offset, unsigned Width) {
  if (!CheckAccess(Offset, Width, 4) || !Registers_.Has(Offset)) {
    ProtocolError("read of a register that is not there: +" + Hex(Offset));
    Record(Offset, false, 0);
    return 0;
  }
  uint32_t Value = ReadRegister(Offset);
  Record(Offset, false, Value);
  return Value;
}

void L3cRegisterBlock::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  Record(Offset, true, Value);
  if (!CheckAccess(Offset, Width, 4) || !Registers_.Has(Offset)) {
    ProtocolError("write of a register that is not there: +" + Hex(Offset));
    return;
  }
  WriteRegister(Offset, static_cast<uint32_t>(Value));
}

EfuseModel::EfuseModel(std::shared_ptr<L3cAccessLog> Log, uint32_t Value)
    : L3cRegisterBlock("efuse", std::move(Log), RegisterFile{{0x0, "efuse", Value, 0}}) {}

void EfuseModel::WriteRegister(uint64_t Offset, uint32_t Value) {
  ProtocolError("write " + Hex(Value) + " to the read-only efuse");
}

L3cControlBlockA::L3cControlBlockA(std::shared_ptr<L3cAccessLog> Log)
    : L3cRegisterBlock("l3c-control-a", std::move(Log), RegisterFile{{kState, "state", 0}}) {}

L3cControlBlockB::L3cControlBlockB(std::shared_ptr<L3cAccessLog> Log)
    : L3cRegisterBlock("l3c-control-b", std::move(Log),
                       RegisterFile{{kEnable, "enable", 0},
                                    {kGate, "gate", kPowerOnGate},
                                    {kReset, "reset", kPowerOnReset}}) {}

void L3cControlBlockB::Reset() {
  L3cRegisterBlock::Reset();
  LowSinceNs_ = HighSinceNs_ = 0;
  Released_ = false;
}

void L3cControlBlockB::WriteRegister(uint64_t Offset, uint32_t Value) {
  const uint32_t Old = Registers_.Get(Offset);
  Registers_.Write(Offset, Value);
  constexpr uint32_t Bit11 = 1u << 11;
  constexpr uint32_t Bit15 = 1u << 15;
  if (Offset == kReset) {
    if ((Value & (Bit11 | Bit15)) == 0 && (Old & (Bit11 | Bit15)) != 0) {
      LowSinceNs_ = Now();
    } else if ((Value & Bit11) != 0 && (Old & Bit11) == 0) {
      if ((Old & Bit15) != 0 || Now() - LowSinceNs_ < kReleaseHoldNs) {
        ProtocolError("+0x308 bit 11 raised before bits 11 and 15 were held low for 1 us");
      }
      HighSinceNs_ = Now();
    }
  } else if (Offset == kGate && (Value & kPowerOnGate) == 0 && (Old & kPowerOnGate) != 0) {
    const uint32_t Reset = Registers_.Get(kReset);
    if ((Reset & Bit11) == 0 || (Reset & Bit15) != 0 || Now() - HighSinceNs_ < kReleaseHoldNs) {
      ProtocolError("+0x300 gate opened before the +0x308 release sequence completed");
    } else {
      Released_ = true;
    }
  }
}

L3CacheController::L3CacheController(std::shared_ptr<L3cAccessLog> Log, uint32_t HardwareSizeMb,
                                     bool StuckBusy)
    : L3cRegisterBlock("l3c", std::move(Log),
                       RegisterFile{{kConfiguration, "configuration", 0},
                                    {kMask, "mask", 0},
                                    {kCommand, "command", 0},
                                    {kRangeLow, "range-low", 0},
                                    {kRangeHigh, "range-high", 0}}),
      HardwareSizeMb_(HardwareSizeMb), StuckBusy_(StuckBusy) {}

void L3CacheController::Reset() {
  L3cRegisterBlock::Reset();
  BusyUntilNs_ = 0;
  Resizing_ = false;
  PendingMb_ = SizedMb_ = 0;
}

bool L3CacheController::Busy() const {
  return Resizing_ && (StuckBusy_ || Now() < BusyUntilNs_);
}

uint32_t L3CacheController::ReadRegister(uint64_t Offset) {
  if (Resizing_ && !Busy()) {
    Resizing_ = false;
    SizedMb_ = PendingMb_;
  }
  if (Offset == kConfiguration) {
    return (Registers_.Get(kConfiguration) & ~kHardwareSizeMask) | (HardwareSizeMb_ << kHardwareSizeShift);
  }
  if (Offset == kCommand) {
    return (Registers_.Get(kCommand) & ~kBusy) | (Busy() ? kBusy : 0);
  }
  return Registers_.Get(Offset);
}

void L3CacheController::WriteRegister(uint64_t Offset, uint32_t Value) {
  if (Busy()) {
    ProtocolError("write " + Hex(Value) + " to +" + Hex(Offset) + " while a resize is running");
    return;
  }
  Registers_.Write(Offset, Value);
  if (Offset == kCommand) {
    StartResize(Value);
  }
}

void L3CacheController::StartResize(uint32_t Command) {
  if ((Command & kOperationMask) != kResizeOperation) {
    ProtocolError("unknown command " + Hex(Command));
    return;
  }
  const uint32_t Configuration = Registers_.Get(kConfiguration);
  const uint32_t SizeMb = (Configuration >> kConfigSizeShift) & kConfigSizeMask;
  const uint32_t Count = (Command >> kCountShift) & kCountMask;
  if (SizeMb == 0 || SizeMb > HardwareSizeMb_ || Count != 4 * SizeMb - 1) {
    ProtocolError("resize command " + Hex(Command) + " with configuration " + Hex(Configuration) +
                  " (hardware " + std::to_string(HardwareSizeMb_) + " MB)");
    return;
  }
  Resizing_ = true;
  PendingMb_ = SizeMb;
  BusyUntilNs_ = Now() + kResizeNs;
}

ConsoleUart::ConsoleUart(std::shared_ptr<L3cAccessLog> Log, bool NeverReady)
    : DeviceModel("uart0"), Log_(std::move(Log)), NeverReady_(NeverReady) {}

void ConsoleUart::Reset() {
  BusyUntilNs_ = 0;
  Output_.clear();
}

bool ConsoleUart::Ready() const {
  return !NeverReady_ && Now() >= BusyUntilNs_;
}

uint64_t ConsoleUart::Read(uint64_t Offset, unsigned Width) {
  if (Offset != kLineStatus) {
    return 0;
  }
  return Ready() ? (kTransmitReady | kTransmitterEmpty) : 0;
}

void ConsoleUart::Write(uint64_t Offset, unsigned Width, uint64_t Value) {
  if (Offset != kTransmit) {
    return;
  }
  if (!Ready()) {
    ProtocolError("byte " + Hex(Value & 0xFF) + " written while the transmitter is busy");
    return;
  }
  Log_->Entries.push_back({Name(), Offset, true, Value, Platform::Current().CpuOperations().size(), Now()});
  Output_.push_back(static_cast<char>(Value & 0xFF));
  BusyUntilNs_ = Now() + kCharacterNs;
}

std::optional<CpuRevision> ParseCpuRevision(const std::string &Text) {
  // Implementer 0 (reserved for software use), architecture 0xF, part 0x001.
  constexpr uint64_t kMidrBase = (0xFull << 16) | (0x001ull << 4);
  unsigned Variant = 0, Revision = 0;
  int Used = 0;
  if (std::sscanf(Text.c_str(), "r%up%u%n", &Variant, &Revision, &Used) != 2 || Variant > 0xF ||
      Revision > 0xF) {
    return std::nullopt;
  }
  CpuRevision Result;
  Result.Midr = kMidrBase | (uint64_t{Variant} << 20) | Revision;
  std::string Rest = Text.substr(static_cast<size_t>(Used));
  if (Rest.empty()) {
    return Result;
  }
  if (Rest[0] != ':' || Rest.size() == 1) {
    return std::nullopt;
  }
  char *End = nullptr;
  Result.Revidr = std::strtoull(Rest.c_str() + 1, &End, 0);
  if (End == nullptr || *End != '\0') {
    return std::nullopt;
  }
  return Result;
}

} // namespace host
