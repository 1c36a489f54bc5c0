// An AArch64 processor for the emulated board: firmware images run on an A64 JIT (dynarmic).
// RAM pages the board maps run at memory speed through the JIT's page table; every other
// address goes to the board's Bus. Privileged system instructions, cache maintenance and calls
// into host services (trap stubs) come back to this class, which answers them from the board's
// description and the registered services. Virtual time is not charged per instruction: the
// JIT counts no cycles, so the board's clock moves only where its models and services move it.
#pragma once

#include "CacheMaintenance.h"
#include "CpuProfile.h"
#include "GuestFault.h"
#include "GuestMemory.h"
#include "PeLoader.h"
#include "SystemRegisters.h"
#include "TrapStubs.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace Dynarmic {
class ExclusiveMonitor;
namespace A64 {
class Jit;
}
} // namespace Dynarmic

namespace cpu {

// Data-cache maintenance as the instruction names it (DC <op>, Xt).
enum class DataCacheOp {
  CleanInvalidateBySetWay,
  CleanInvalidateByAddress,
  CleanBySetWay,
  CleanByAddress,
  CleanByAddressToUnification,
  CleanByAddressToPersistence,
  InvalidateBySetWay,
  InvalidateByAddress,
  ZeroByAddress,
};

// What the board answers for the processor; what its instructions do to the processor's state
// (ProcessorEvents) goes there too.
class Bus : public ProcessorEvents {
public:
  // An access outside RAM (the SoC blocks, PCI windows, holes). Width is 1, 2, 4 or 8 bytes.
  // False: the access is an error the board has recorded; the processor stops with a bus error.
  virtual bool Read(uint64_t Address, unsigned Width, uint64_t &Value) = 0;
  virtual bool Write(uint64_t Address, unsigned Width, uint64_t Value) = 0;
  // DC by address (Operand is the address) or by set/way (Operand is the set/way word).
  virtual void DataCache(DataCacheOp /*Operation*/, uint64_t /*Operand*/) {}
  // CNTPCT_EL0: the board's clock in counter ticks; a read may move the clock. Starts: the read
  // follows an ISB, as the first read of a wait or measurement does.
  virtual uint64_t CounterTicks(bool Starts) = 0;
  // An error of the boot the processor found (a cache walk that stopped short).
  virtual void Error(const std::string & /*Text*/) {}
  // The JIT fetched an instruction to translate it: code run for the first time.
  virtual void CodeTranslated() {}
  // Host code is about to look at the board (a service runs, a run of guest code ended): counter
  // reads answered ahead of the clock are charged now.
  virtual void Settle() {}
};

class Aarch64Cpu final : public ProcessorEvents {
public:
  // Calls between host and guest may nest this deep.
  static constexpr size_t MaxLevels = 16;
  // JITs made before a free one is given to another image (FreeJit).
  static constexpr size_t KeptJits = 2;
  // The JITs the processor may make: more than KeptJits only while each runs at some depth, so
  // at most one per depth. The exclusive monitor has a slot for each; a call that would need
  // one more is refused (GuestFault, NestingTooDeep).
  static constexpr size_t MaxJits = MaxLevels;

  Aarch64Cpu(Bus &Board, const ProcessorDescription &Processor);
  ~Aarch64Cpu();
  Aarch64Cpu(const Aarch64Cpu &) = delete;
  Aarch64Cpu &operator=(const Aarch64Cpu &) = delete;

  GuestMemory &Ram() { return Ram_; }
  const GuestMemory &Ram() const { return Ram_; }
  // Page-granular, in mapped RAM; code loaded under pages made executable runs fresh.
  void SetAccess(uint64_t Base, uint64_t Bytes, PageAccess Access);

  // A loaded image's pages: code read-only and executable, the rest read/write; faults in it
  // are named "Name+0xOFFSET". RemoveImage makes its pages plain data again.
  void AddImage(const std::string &Name, const LoadedImage &Image);
  void RemoveImage(const LoadedImage &Image);

  // The stack of outermost calls grows down from Top; the page below Bottom becomes a guard.
  void SetStack(uint64_t Bottom, uint64_t Top);
  // The page of trap stubs (a page of RAM, made executable); services get their stubs there.
  void SetTrapPage(uint64_t Base);
  // The stub address guest code calls to reach Run.
  uint64_t AddService(std::string Name, ServiceFunction Run);
  // The stub of the host function at HostFunction: made once, whatever the number of tables
  // and records that hand the function to firmware (FirmwareCall.h's ExportFunction).
  uint64_t ExportService(uint64_t HostFunction, std::string Name,
                         const std::function<ServiceFunction()> &Make);

  bool IsGuestCode(uint64_t Address) const { return Ram_.IsExecutable(Address); }
  // The image whose code runs now (its base), for the board to charge what that code does to
  // it; 0 while code of no image (trap stubs, code outside the images) or no guest code runs.
  // A JIT runs the code of one image, so a call from one image into another's code (a protocol
  // member, a notify function) moves to a JIT of the callee and back on return.
  uint64_t RunningImage() const { return RunningImage_; }
  // The image (its base) whose code is at Address; 0 for code of no image.
  uint64_t ImageOf(uint64_t Address) const;
  // Runs the guest function at Function with the AAPCS64 convention (X0-X7, then the stack)
  // until it returns; returns X0. Calls nest: a service may call guest code again, on the stack
  // below its caller's. A fault of the guest throws GuestFault; an exception a service throws
  // passes through unchanged.
  uint64_t CallGuest(uint64_t Function, std::span<const uint64_t> Arguments);

  // From any thread: stops the guest code running now (a spin that never calls the host, which
  // the board's wall-clock watchdog ends); the call into it throws GuestFault (Interrupted). A
  // request while no guest code runs stops the next call at its start.
  void Interrupt();
  // Interrupt, only while guest code runs; false when none does.
  bool InterruptRunning();

  // The guest code that called the service running now (its return address), for services that
  // answer by their caller (whose pool, whose call); 0 while host code acts on its own (a
  // producer's member, or host code the host called).
  uint64_t ServiceCaller() const { return ServiceCaller_; }
  // The guest code that called the stub running now, whoever the service acts for: a producer
  // standing for hardware charges the bus cycles it makes to that code. 0 as above.
  uint64_t TrapCaller() const { return TrapCaller_; }
  class CallerScope {
  public:
    CallerScope(Aarch64Cpu &Cpu, uint64_t Service, uint64_t Trap)
        : Cpu_(Cpu), OuterService_(Cpu.ServiceCaller_), OuterTrap_(Cpu.TrapCaller_) {
      Cpu.ServiceCaller_ = Service;
      Cpu.TrapCaller_ = Trap;
    }
    ~CallerScope() {
      Cpu_.ServiceCaller_ = OuterService_;
      Cpu_.TrapCaller_ = OuterTrap_;
    }
    CallerScope(const CallerScope &) = delete;
    CallerScope &operator=(const CallerScope &) = delete;

  private:
    Aarch64Cpu &Cpu_;
    uint64_t OuterService_;
    uint64_t OuterTrap_;
  };

  SystemRegisters &Registers() { return Registers_; }
  // What instructions do to the board's processor state: an operation ends the cache walk or
  // range going on before it is recorded.
  void Operation(const std::string &Name) override;
  bool InterruptsEnabled() override { return Board_.InterruptsEnabled(); }
  void DataCache(DataCacheOp Operation, uint64_t Operand);
  Bus &Board() { return Board_; }
  const TrapStubs *Stubs() const { return Stubs_.get(); }
  // Wall time by part (CpuProfile.h) while Profile is set; null: not measured.
  void SetProfile(CpuProfile *Profile) { Profile_ = Profile; }
  CpuProfile *Profile() const { return Profile_; }

  // A JIT and its callbacks. It translates the code of one image at a time (and code of no
  // image); a jump into another image's code stops it there, and the call goes on in a JIT of
  // that image. A JIT cannot run again inside its own callback: a nested call into code whose
  // JIT is running further out takes another JIT.
  struct ImageJit;

  // "lr <where>, frames: <where> <where> ..." from the guest's frame-pointer chain.
  std::string Backtrace(uint64_t LinkRegister, uint64_t FramePointer) const;

private:
  ImageJit &FreeJit(uint64_t Image, uint64_t Function);
  ImageJit &SwitchTo(ImageJit &From, uint64_t Pc);
  // A JIT takes tens of milliseconds to make (its dispatch table and memory fallbacks), as long
  // as a short run of the board: the first PreparedJits are made ahead, one at a time, on a
  // helper thread, while the board gets ready and the first calls run.
  static constexpr size_t PreparedJits = 2;
  std::unique_ptr<ImageJit> MakeJit(size_t ProcessorId);
  std::unique_ptr<ImageJit> NextJit();
  void PrepareJit(size_t ProcessorId);
  uint64_t EntryStack(std::span<const uint64_t> Arguments);
  // A fault at Pc of the guest code Jit runs, with its backtrace.
  GuestFault FaultIn(const Dynarmic::A64::Jit &Jit, FaultKind Kind, uint64_t Pc, uint64_t Address,
                     const std::string &Detail) const;
  class RunScope;

  Bus &Board_;
  SystemRegisters Registers_;
  CacheMaintenance Caches_{Registers_};
  GuestMemory Ram_;
  std::unique_ptr<Dynarmic::ExclusiveMonitor> Monitor_;
  std::unique_ptr<TrapStubs> Stubs_;
  std::vector<std::unique_ptr<ImageJit>> Jits_; // every JIT made, in the order made
  std::map<uint64_t, uint64_t> Images_;         // image base -> bytes
  std::array<ImageJit *, MaxLevels> Active_{};  // the JIT running at each depth
  uint64_t Uses_ = 0;                           // JITs taken so far: the order of ImageJit::LastUsed
  uint64_t RunningImage_ = 0;                   // the image of the innermost one
  // The JITs running now, by depth, for Interrupt from another thread.
  std::array<std::atomic<Dynarmic::A64::Jit *>, MaxLevels> RunningJits_{};
  std::atomic<bool> Interrupted_{false};
  std::map<uint64_t, uint64_t> Exported_; // host function -> its stub
  size_t Depth_ = 0;                      // levels running now
  uint64_t ServiceCaller_ = 0;
  uint64_t TrapCaller_ = 0;
  CpuProfile *Profile_ = nullptr;
  uint64_t StackTop_ = 0;
  // The next JIT, being made on the helper thread (last: it uses the members above).
  std::future<std::unique_ptr<ImageJit>> Prepared_;
};

} // namespace cpu
