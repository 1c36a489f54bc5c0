// Host producer of the CPU architectural protocol: the boot processor's interrupt mask (the
// core's), its cache maintenance and memory attributes (recorded, as the host has neither),
// one timer (the virtual clock) and the interrupt handler table.
#pragma once

#include <HostPlatform.h>
#include <Protocol/Cpu.h>

#include <array>
#include <cstdint>
#include <vector>

namespace host {

class CpuArchProducer {
public:
  struct FlushCall {
    EFI_PHYSICAL_ADDRESS Start = 0;
    UINT64 Length = 0;
    EFI_CPU_FLUSH_TYPE FlushType = EfiCpuFlushTypeWriteBackInvalidate;
  };
  struct AttributesCall {
    EFI_PHYSICAL_ADDRESS BaseAddress = 0;
    UINT64 Length = 0;
    UINT64 Attributes = 0;
  };

  // The one timer counts the virtual clock in nanoseconds: 10^6 femtoseconds per tick.
  static constexpr UINT64 kTimerPeriodFs = 1'000'000;
  // The cache writeback granule of the board's cores.
  static constexpr UINT32 kDmaBufferAlignment = 64;
  static constexpr UINT32 kNumberOfTimers = 1;

  explicit CpuArchProducer(Platform &Board);
  CpuArchProducer(const CpuArchProducer &) = delete;
  CpuArchProducer &operator=(const CpuArchProducer &) = delete;

  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  EFI_HANDLE Handle() const { return Handle_; }
  EFI_CPU_ARCH_PROTOCOL *Protocol() { return Protocol_; } // in DRAM; null when DRAM was full
  bool IsOf(const Platform &Board) const { return &Board_ == &Board; }

  const std::vector<FlushCall> &Flushes() const { return Flushes_; }
  const std::vector<AttributesCall> &AttributeCalls() const { return AttributeCalls_; }
  EFI_CPU_INTERRUPT_HANDLER Handler(EFI_EXCEPTION_TYPE Type) const;

  EFI_STATUS OnFlushDataCache(EFI_PHYSICAL_ADDRESS Start, UINT64 Length, EFI_CPU_FLUSH_TYPE FlushType);
  EFI_STATUS OnSetInterrupts(bool Enabled);
  EFI_STATUS OnGetInterruptState(BOOLEAN *State);
  EFI_STATUS OnRegisterInterruptHandler(EFI_EXCEPTION_TYPE Type, EFI_CPU_INTERRUPT_HANDLER Handler);
  EFI_STATUS OnGetTimerValue(UINT32 TimerIndex, UINT64 *TimerValue, UINT64 *TimerPeriod);
  EFI_STATUS OnSetMemoryAttributes(EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length, UINT64 Attributes);

private:
  friend CpuArchProducer &InstallCpuArchProducer(Platform &Board);

  Platform &Board_;
  EFI_CPU_ARCH_PROTOCOL *Protocol_;
  std::vector<FlushCall> Flushes_;
  std::vector<AttributesCall> AttributeCalls_;
  std::array<EFI_CPU_INTERRUPT_HANDLER, EXCEPT_AARCH64_SERROR + 1> Handlers_{};
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
  EFI_HANDLE Handle_ = nullptr;
};

CpuArchProducer &InstallCpuArchProducer(Platform &Board);

} // namespace host
