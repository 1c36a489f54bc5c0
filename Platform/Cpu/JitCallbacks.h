// One JIT of the processor (the code of one image at a time) and the callbacks through which it
// reaches RAM outside the page table, the board, the system registers and the trap stubs. A
// callback never lets an exception through the JIT's frames: it records what happened and halts
// the JIT, and the processor raises it once the JIT has returned.
#pragma once

#include "Aarch64Cpu.h"

#include <dynarmic/interface/A64/a64.h>
#include <dynarmic/interface/A64/config.h>

#include <exception>
#include <memory>
#include <optional>

namespace cpu {

// Why a run of the JIT stopped, as recorded by the callbacks.
struct StopRecord {
  bool Returned = false;          // the guest function returned to the return stub
  std::optional<FaultKind> Fault; // the guest faulted
  std::optional<uint64_t> Pc;     // where (absent: the JIT's PC, for data accesses)
  uint64_t Address = 0;           // the data address or operand of the fault
  std::string Detail;             // what the fault message adds
  std::exception_ptr Thrown;      // a service threw this
  std::optional<uint64_t> Enter;  // the guest went into another image's code, here
};

class JitCallbacks final : public Dynarmic::A64::UserCallbacks {
public:
  // Image: the base of the image whose code this JIT translates (0: only code of no image).
  JitCallbacks(Aarch64Cpu &Cpu, uint64_t Image) : Cpu_(Cpu), Image_(Image) {}
  void Attach(Dynarmic::A64::Jit *Jit) { Jit_ = Jit; }
  // The JIT becomes another image's (its translations dropped first).
  void SetImage(uint64_t Image) { Image_ = Image; }
  StopRecord Stop;
  // Whether a counter read now follows an ISB: processor state, which moves with the call to
  // another image's JIT.
  bool AfterBarrier() const { return AfterBarrier_; }
  void SetAfterBarrier(bool After) { AfterBarrier_ = After; }

  std::optional<std::uint32_t> MemoryReadCode(Dynarmic::A64::VAddr Address) override;
  std::uint8_t MemoryRead8(Dynarmic::A64::VAddr Address) override { return Load<uint8_t>(Address); }
  std::uint16_t MemoryRead16(Dynarmic::A64::VAddr Address) override { return Load<uint16_t>(Address); }
  std::uint32_t MemoryRead32(Dynarmic::A64::VAddr Address) override { return Load<uint32_t>(Address); }
  std::uint64_t MemoryRead64(Dynarmic::A64::VAddr Address) override { return Load<uint64_t>(Address); }
  Dynarmic::A64::Vector MemoryRead128(Dynarmic::A64::VAddr Address) override;
  void MemoryWrite8(Dynarmic::A64::VAddr Address, std::uint8_t Value) override { Store(Address, Value); }
  void MemoryWrite16(Dynarmic::A64::VAddr Address, std::uint16_t Value) override { Store(Address, Value); }
  void MemoryWrite32(Dynarmic::A64::VAddr Address, std::uint32_t Value) override { Store(Address, Value); }
  void MemoryWrite64(Dynarmic::A64::VAddr Address, std::uint64_t Value) override { Store(Address, Value); }
  void MemoryWrite128(Dynarmic::A64::VAddr Address, Dynarmic::A64::Vector Value) override;
  bool MemoryWriteExclusive8(Dynarmic::A64::VAddr Address, std::uint8_t Value,
                             std::uint8_t Expected) override {
    return Exchange(Address, Value, Expected);
  }
  bool MemoryWriteExclusive16(Dynarmic::A64::VAddr Address, std::uint16_t Value,
                              std::uint16_t Expected) override {
    return Exchange(Address, Value, Expected);
  }
  bool MemoryWriteExclusive32(Dynarmic::A64::VAddr Address, std::uint32_t Value,
                              std::uint32_t Expected) override {
    return Exchange(Address, Value, Expected);
  }
  bool MemoryWriteExclusive64(Dynarmic::A64::VAddr Address, std::uint64_t Value,
                              std::uint64_t Expected) override {
    return Exchange(Address, Value, Expected);
  }

  void InterpreterFallback(Dynarmic::A64::VAddr Pc, size_t Instructions) override;
  void CallSVC(std::uint32_t Number) override;
  void ExceptionRaised(Dynarmic::A64::VAddr Pc, Dynarmic::A64::Exception Exception) override;
  void DataCacheOperationRaised(Dynarmic::A64::DataCacheOperation Operation,
                                Dynarmic::A64::VAddr Value) override;
  void InstructionCacheOperationRaised(Dynarmic::A64::InstructionCacheOperation Operation,
                                       Dynarmic::A64::VAddr Value) override;
  void AddTicks(std::uint64_t) override {}
  std::uint64_t GetTicksRemaining() override { return 0; }
  std::uint64_t GetCNTPCT() override;
  void InstructionSynchronizationBarrierRaised() override { AfterBarrier_ = true; }

private:
  template <typename T> T Load(uint64_t Address) {
    T Value{};
    Access(Address, sizeof(T), false, &Value);
    return Value;
  }
  template <typename T> void Store(uint64_t Address, T Value) { Access(Address, sizeof(T), true, &Value); }
  template <typename T> bool Exchange(uint64_t Address, T Value, T Expected);
  bool Access(uint64_t Address, unsigned Width, bool IsWrite, void *Data);
  bool RamAccess(uint64_t Address, unsigned Width, bool IsWrite, void *Data);
  bool BusAccess(uint64_t Address, unsigned Width, bool IsWrite, void *Data);
  void Fault(FaultKind Kind, std::optional<uint64_t> Pc, uint64_t Address, std::string Detail);
  void RunService(const TrapStubs::Service &Service);

  Aarch64Cpu &Cpu_;
  uint64_t Image_;
  Dynarmic::A64::Jit *Jit_ = nullptr;
  bool AfterBarrier_ = true; // no counter read since the last ISB (or the call's start)
};

struct Aarch64Cpu::ImageJit {
  ImageJit(Aarch64Cpu &Cpu, uint64_t Of) : Callbacks(Cpu, Of), Image(Of) {}
  JitCallbacks Callbacks;
  std::unique_ptr<Dynarmic::A64::Jit> Jit;
  uint64_t Image;        // whose code it translates
  bool Busy = false;     // running at some depth: a call must take another
  uint64_t LastUsed = 0; // when a call last went on in it (Aarch64Cpu's count)
};

} // namespace cpu
