// Host producer of the CPU architectural protocol.
#include "CpuArch.h"

#include "ProducerRecord.h"

#include <memory>
#include <sstream>

namespace host {
namespace {

std::unique_ptr<CpuArchProducer> gCpu;

// The producer of the board alive now, when This is its protocol.
bool ValidThis(EFI_CPU_ARCH_PROTOCOL *This) {
  return This != nullptr && gCpu != nullptr && This == gCpu->Protocol() && gCpu->IsOf(Platform::Current());
}

CpuArchProducer &Owner(EFI_CPU_ARCH_PROTOCOL *) {
  return *gCpu;
}

EFI_STATUS EFIAPI FlushDataCache(EFI_CPU_ARCH_PROTOCOL *This, EFI_PHYSICAL_ADDRESS Start, UINT64 Length,
                                 EFI_CPU_FLUSH_TYPE FlushType) {
  return ValidThis(This) ? Owner(This).OnFlushDataCache(Start, Length, FlushType) : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI EnableInterrupt(EFI_CPU_ARCH_PROTOCOL *This) {
  return ValidThis(This) ? Owner(This).OnSetInterrupts(true) : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI DisableInterrupt(EFI_CPU_ARCH_PROTOCOL *This) {
  return ValidThis(This) ? Owner(This).OnSetInterrupts(false) : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI GetInterruptState(EFI_CPU_ARCH_PROTOCOL *This, BOOLEAN *State) {
  return ValidThis(This) ? Owner(This).OnGetInterruptState(State) : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI Init(EFI_CPU_ARCH_PROTOCOL *, EFI_CPU_INIT_TYPE) {
  // An INIT of the boot processor would restart the board; the emulated one has none.
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI RegisterInterruptHandler(EFI_CPU_ARCH_PROTOCOL *This, EFI_EXCEPTION_TYPE InterruptType,
                                           EFI_CPU_INTERRUPT_HANDLER InterruptHandler) {
  return ValidThis(This) ? Owner(This).OnRegisterInterruptHandler(InterruptType, InterruptHandler)
                         : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI GetTimerValue(EFI_CPU_ARCH_PROTOCOL *This, UINT32 TimerIndex, UINT64 *TimerValue,
                                UINT64 *TimerPeriod) {
  return ValidThis(This) ? Owner(This).OnGetTimerValue(TimerIndex, TimerValue, TimerPeriod)
                         : EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI SetMemoryAttributes(EFI_CPU_ARCH_PROTOCOL *This, EFI_PHYSICAL_ADDRESS BaseAddress,
                                      UINT64 Length, UINT64 Attributes) {
  return ValidThis(This) ? Owner(This).OnSetMemoryAttributes(BaseAddress, Length, Attributes)
                         : EFI_INVALID_PARAMETER;
}

std::string Hex(uint64_t Value) {
  std::ostringstream Text;
  Text << "0x" << std::uppercase << std::hex << Value;
  return Text.str();
}

} // namespace

CpuArchProducer::CpuArchProducer(Platform &Board)
    : Board_(Board),
      Protocol_(NewRecord(
          Board,
          EFI_CPU_ARCH_PROTOCOL{Exported(Board, "Cpu.FlushDataCache", FlushDataCache),
                                Exported(Board, "Cpu.EnableInterrupt", EnableInterrupt),
                                Exported(Board, "Cpu.DisableInterrupt", DisableInterrupt),
                                Exported(Board, "Cpu.GetInterruptState", GetInterruptState),
                                Exported(Board, "Cpu.Init", Init),
                                Exported(Board, "Cpu.RegisterInterruptHandler", RegisterInterruptHandler),
                                Exported(Board, "Cpu.GetTimerValue", GetTimerValue),
                                Exported(Board, "Cpu.SetMemoryAttributes", SetMemoryAttributes),
                                kNumberOfTimers, kDmaBufferAlignment})) {}

EFI_CPU_INTERRUPT_HANDLER CpuArchProducer::Handler(EFI_EXCEPTION_TYPE Type) const {
  return Type >= 0 && static_cast<size_t>(Type) < Handlers_.size() ? Handlers_[Type] : nullptr;
}

EFI_STATUS CpuArchProducer::OnFlushDataCache(EFI_PHYSICAL_ADDRESS Start, UINT64 Length,
                                             EFI_CPU_FLUSH_TYPE FlushType) {
  if (FlushType >= EfiCpuMaxFlushType) {
    return EFI_UNSUPPORTED;
  }
  Flushes_.push_back({Start, Length, FlushType});
  return EFI_SUCCESS;
}

EFI_STATUS CpuArchProducer::OnSetInterrupts(bool Enabled) {
  Board_.SetInterruptsEnabled(Enabled);
  return EFI_SUCCESS;
}

EFI_STATUS CpuArchProducer::OnGetInterruptState(BOOLEAN *State) {
  if (State == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *State = Board_.InterruptsEnabled() ? TRUE : FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS CpuArchProducer::OnRegisterInterruptHandler(EFI_EXCEPTION_TYPE Type,
                                                       EFI_CPU_INTERRUPT_HANDLER Handler) {
  if (Type < 0 || static_cast<size_t>(Type) >= Handlers_.size()) {
    return EFI_UNSUPPORTED;
  }
  if (Handler != nullptr && Handlers_[Type] != nullptr) {
    return EFI_ALREADY_STARTED;
  }
  if (Handler == nullptr && Handlers_[Type] == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Handlers_[Type] = Handler;
  return EFI_SUCCESS;
}

EFI_STATUS CpuArchProducer::OnGetTimerValue(UINT32 TimerIndex, UINT64 *TimerValue, UINT64 *TimerPeriod) {
  if (TimerValue == nullptr || TimerIndex >= kNumberOfTimers) {
    return EFI_INVALID_PARAMETER;
  }
  *TimerValue = Board_.VirtualTimeNs();
  if (TimerPeriod != nullptr) {
    *TimerPeriod = kTimerPeriodFs;
  }
  return EFI_SUCCESS;
}

EFI_STATUS CpuArchProducer::OnSetMemoryAttributes(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                  UINT64 Attributes) {
  if (Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  AttributeCalls_.push_back({BaseAddress, Length, Attributes});
  Board_.Log().Append("cpu",
                      "SetMemoryAttributes " + Hex(BaseAddress) + " length " + Hex(Length) + " attributes " +
                          Hex(Attributes) + "\n",
                      Board_.VirtualTimeNs());
  return EFI_SUCCESS;
}

CpuArchProducer &InstallCpuArchProducer(Platform &Board) {
  gCpu = std::make_unique<CpuArchProducer>(Board);
  gCpu->InstallStatus_ = InstallInterface(Board, gEfiCpuArchProtocolGuid, gCpu->Protocol(), &gCpu->Handle_);
  return *gCpu;
}

} // namespace host
