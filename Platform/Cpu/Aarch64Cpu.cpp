// The processor: its JITs (each runs one image's code at a time), calls into guest code, and faults.
#include "Aarch64Cpu.h"

#include "CpuCommon.h"
#include "JitCallbacks.h"

#include <dynarmic/interface/exclusive_monitor.h>

#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace cpu {

namespace {

constexpr uint64_t StackAlignment = 16;
constexpr unsigned FramePointerRegister = 29;
constexpr unsigned LinkRegisterIndex = 30;
constexpr size_t BacktraceFrames = 16;
constexpr size_t CodeCacheBytes = 16u << 20; // per JIT; the JIT wants at least about 8 MiB
// Every width the JIT may access through the page table: misaligned ones come to the callbacks,
// which decide by the MMU and alignment-check settings.
constexpr uint8_t AllAccessWidths = 8 | 16 | 32 | 64 | 128;

} // namespace

const char *FaultName(FaultKind Kind) {
  switch (Kind) {
  case FaultKind::UndefinedInstruction:
    return "undefined instruction";
  case FaultKind::ForbiddenException:
    return "exception call from an image";
  case FaultKind::Breakpoint:
    return "halt";
  case FaultKind::DeadLoop:
    return "dead loop";
  case FaultKind::WriteToCode:
    return "write to code";
  case FaultKind::ExecuteData:
    return "jump into data";
  case FaultKind::StackOverflow:
    return "stack overflow";
  case FaultKind::AlignmentFault:
    return "alignment fault";
  case FaultKind::BusError:
    return "bus error";
  case FaultKind::StackImbalance:
    return "stack pointer not restored";
  case FaultKind::NestingTooDeep:
    return "calls nested too deeply";
  case FaultKind::Interrupted:
    return "interrupted";
  }
  return "fault";
}

Aarch64Cpu::Aarch64Cpu(Bus &Board, const ProcessorDescription &Processor)
    : Board_(Board), Registers_(Processor), Monitor_(std::make_unique<Dynarmic::ExclusiveMonitor>(MaxJits)) {
  PrepareJit(0);
}

// A JIT still being made is waited for: it refers to this processor.
Aarch64Cpu::~Aarch64Cpu() {
  if (Prepared_.valid()) {
    Prepared_.wait();
  }
}

// The JITs keep translations of code pages: new code under a page made executable must be
// translated afresh.
void Aarch64Cpu::SetAccess(uint64_t Base, uint64_t Bytes, PageAccess Access) {
  Ram_.SetAccess(Base, Bytes, Access);
  for (const std::unique_ptr<ImageJit> &Each : Jits_) {
    Each->Jit->InvalidateCacheRange(Base, Bytes);
  }
}

void Aarch64Cpu::AddImage(const std::string &Name, const LoadedImage &Image) {
  SetAccess(Image.Base, Image.Bytes, PageAccess::ReadWrite);
  for (const LoadedSection &Section : Image.Sections) {
    SetAccess(Section.Base, Section.Bytes,
              Section.Executable ? PageAccess::ReadExecute : PageAccess::ReadWrite);
  }
  Ram_.NameRange(Image.Base, Image.Bytes, Name);
  Images_[Image.Base] = Image.Bytes;
}

void Aarch64Cpu::RemoveImage(const LoadedImage &Image) {
  SetAccess(Image.Base, Image.Bytes, PageAccess::ReadWrite);
  Ram_.ForgetRange(Image.Base);
  Images_.erase(Image.Base);
}

uint64_t Aarch64Cpu::ImageOf(uint64_t Address) const {
  auto Next = Images_.upper_bound(Address);
  if (Next == Images_.begin()) {
    return 0;
  }
  --Next;
  return Address - Next->first < Next->second ? Next->first : 0;
}

void Aarch64Cpu::SetStack(uint64_t Bottom, uint64_t Top) {
  SetAccess(Bottom - GuestMemory::PageBytes, GuestMemory::PageBytes, PageAccess::Guard);
  StackTop_ = Top & ~(StackAlignment - 1);
}

void Aarch64Cpu::SetTrapPage(uint64_t Base) {
  uint8_t *Host = Ram_.HostOf(Base);
  if (Host == nullptr) {
    throw std::invalid_argument("the trap page " + Hex(Base) + " is not in RAM");
  }
  Stubs_ = std::make_unique<TrapStubs>(Base, Host);
  SetAccess(Base, GuestMemory::PageBytes, PageAccess::ReadExecute);
  Ram_.NameRange(Base, GuestMemory::PageBytes, "trap stubs");
}

uint64_t Aarch64Cpu::AddService(std::string Name, ServiceFunction Run) {
  if (!Stubs_) {
    throw std::logic_error("a service before the trap page: " + Name);
  }
  const uint64_t Stub = Stubs_->Add(std::move(Name), std::move(Run));
  for (const std::unique_ptr<ImageJit> &Each : Jits_) {
    Each->Jit->InvalidateCacheRange(Stub, TrapStubs::StubBytes);
  }
  return Stub;
}

void Aarch64Cpu::Operation(const std::string &Name) {
  Caches_.Close(Board_);
  Board_.Operation(Name);
}

void Aarch64Cpu::DataCache(DataCacheOp Operation, uint64_t Operand) {
  Board_.DataCache(Operation, Operand);
  Caches_.Apply(Operation, Operand, Board_);
}

uint64_t Aarch64Cpu::ExportService(uint64_t HostFunction, std::string Name,
                                   const std::function<ServiceFunction()> &Make) {
  auto Found = Exported_.find(HostFunction);
  if (Found == Exported_.end()) {
    Found = Exported_.emplace(HostFunction, AddService(std::move(Name), Make())).first;
  }
  return Found->second;
}

// A JIT for Image's code that is not running at any depth: one of the image's own, or else the
// free one used longest ago, which becomes the image's (its translations dropped). Images run
// mostly by turns (the entry points one after another, then the calls into them), so they
// translate little twice, while making a JIT costs tens of milliseconds of the JIT library's
// own code generation. A new one is made only while every JIT runs at some depth (and below
// KeptJits), so there are at most as many as calls nest. Code of no image (Image 0: a call of a
// trap stub) runs on any JIT.
Aarch64Cpu::ImageJit &Aarch64Cpu::FreeJit(uint64_t Image, uint64_t Function) {
  ImageJit *Oldest = nullptr;
  for (const std::unique_ptr<ImageJit> &Each : Jits_) {
    if (Each->Busy) {
      continue;
    }
    if (Each->Image == Image || Image == 0) {
      return *Each;
    }
    Oldest = Oldest == nullptr || Each->LastUsed < Oldest->LastUsed ? Each.get() : Oldest;
  }
  if (Oldest != nullptr && Jits_.size() >= KeptJits) {
    Oldest->Jit->ClearCache();
    Oldest->Image = Image;
    Oldest->Callbacks.SetImage(Image);
    return *Oldest;
  }
  if (Jits_.size() >= MaxJits) {
    throw GuestFault(FaultKind::NestingTooDeep, Function, 0,
                     std::string(FaultName(FaultKind::NestingTooDeep)) + " calling " +
                         Ram_.Describe(Function) + ": the processor has made its " + std::to_string(MaxJits) +
                         " JITs");
  }
  Jits_.push_back(NextJit());
  Jits_.back()->Image = Image;
  Jits_.back()->Callbacks.SetImage(Image);
  return *Jits_.back();
}

// A JIT with its callbacks, of no image yet. Safe on the helper thread: it reads only what the
// processor fixes at its making (the description's counter frequency and cache type, the page
// table's address, the exclusive monitor); the JIT translates nothing until it runs.
std::unique_ptr<Aarch64Cpu::ImageJit> Aarch64Cpu::MakeJit(size_t ProcessorId) {
  auto Created = std::make_unique<ImageJit>(*this, 0);
  Dynarmic::A64::UserConfig Config;
  Config.callbacks = &Created->Callbacks;
  Config.processor_id = ProcessorId;
  Config.global_monitor = Monitor_.get();
  Config.enable_cycle_counting = false; // virtual time is the board's, not instruction counts
  Config.wall_clock_cntpct = true;      // CNTPCT_EL0 always from GetCNTPCT
  Config.hook_data_cache_operations = true;
  Config.hook_isb = true; // an ISB marks the start of a counter wait
  Config.cntfrq_el0 = Registers_.Processor().Cntfrq;
  if (Registers_.Processor().Ctr != 0) {
    Config.ctr_el0 = Registers_.Processor().Ctr;
  }
  Config.page_table = Ram_.PageTable();
  Config.page_table_address_space_bits = GuestMemory::AddressBits;
  Config.silently_mirror_page_table = false;
  Config.detect_misaligned_access_via_page_table = AllAccessWidths;
  Config.check_halt_on_memory_access = true;
  Config.code_cache_size = CodeCacheBytes;
  Created->Jit = std::make_unique<Dynarmic::A64::Jit>(Config);
  Created->Callbacks.Attach(Created->Jit.get());
  return Created;
}

// Without a thread to spare the JIT is made when it is needed.
void Aarch64Cpu::PrepareJit(size_t ProcessorId) {
  if (ProcessorId >= PreparedJits) {
    return;
  }
  try {
    Prepared_ = std::async(std::launch::async, [this, ProcessorId] { return MakeJit(ProcessorId); });
  } catch (const std::system_error &) {
    Prepared_ = {};
  }
}

// The JIT made ahead when there is one (a failure to make it passes on here), else one made now.
std::unique_ptr<Aarch64Cpu::ImageJit> Aarch64Cpu::NextJit() {
  const size_t ProcessorId = Jits_.size();
  std::unique_ptr<ImageJit> Next = Prepared_.valid() ? Prepared_.get() : MakeJit(ProcessorId);
  PrepareJit(ProcessorId + 1);
  return Next;
}

// The guest went into the code of another image at Pc: the processor's state moves to a JIT of
// that image, which goes on from there at the same depth (the call is not nested).
Aarch64Cpu::ImageJit &Aarch64Cpu::SwitchTo(ImageJit &From, uint64_t Pc) {
  ImageJit &To = FreeJit(ImageOf(Pc), Pc);
  Dynarmic::A64::Jit &Source = *From.Jit, &Target = *To.Jit;
  Target.SetRegisters(Source.GetRegisters());
  Target.SetVectors(Source.GetVectors());
  Target.SetSP(Source.GetSP());
  Target.SetPC(Pc);
  Target.SetFpcr(Source.GetFpcr());
  Target.SetFpsr(Source.GetFpsr());
  Target.SetPstate(Source.GetPstate());
  // One processor has one local monitor: no exclusive pair spans a call between images.
  Source.ClearExclusiveState();
  Target.ClearExclusiveState();
  To.Callbacks.SetAfterBarrier(From.Callbacks.AfterBarrier());
  From.Busy = false;
  To.Busy = true;
  return To;
}

// One call's place in the processor: the JIT running at its depth (which changes as the call
// moves between images), marked busy and running (for Interrupt) until the call ends, however
// it ends.
class Aarch64Cpu::RunScope {
public:
  RunScope(Aarch64Cpu &Cpu, ImageJit &First, uint64_t Image)
      : Cpu_(Cpu), Depth_(Cpu.Depth_), Outer_(Cpu.RunningImage_) {
    Cpu_.Depth_++;
    Enter(First, Image);
  }
  ~RunScope() {
    Cpu_.RunningJits_[Depth_].store(nullptr);
    Cpu_.Active_[Depth_]->Busy = false;
    Cpu_.Active_[Depth_] = nullptr;
    Cpu_.RunningImage_ = Outer_;
    Cpu_.Depth_--;
  }
  // Image: whose code runs (0: code of no image, which may run on another image's JIT).
  void Enter(ImageJit &Jit, uint64_t Image) {
    Jit.Busy = true;
    Jit.LastUsed = ++Cpu_.Uses_;
    Cpu_.Active_[Depth_] = &Jit;
    Cpu_.RunningImage_ = Image;
    Cpu_.RunningJits_[Depth_].store(Jit.Jit.get());
  }
  RunScope(const RunScope &) = delete;
  RunScope &operator=(const RunScope &) = delete;

private:
  Aarch64Cpu &Cpu_;
  size_t Depth_;
  uint64_t Outer_;
};

// Outermost calls start on the board's stack; a nested call continues below its caller's stack
// pointer. Arguments past the eighth go on the stack, the ninth at the new stack pointer.
uint64_t Aarch64Cpu::EntryStack(std::span<const uint64_t> Arguments) {
  if (Depth_ == 0 && StackTop_ == 0) {
    throw std::logic_error("a call into guest code before the processor has a stack");
  }
  uint64_t Sp = Depth_ == 0 ? StackTop_ : Active_[Depth_ - 1]->Jit->GetSP() & ~(StackAlignment - 1);
  if (Arguments.size() > ArgumentRegisters) {
    const uint64_t StackArguments = Arguments.size() - ArgumentRegisters;
    Sp -= (StackArguments * ArgumentBytes + StackAlignment - 1) & ~(StackAlignment - 1);
    if (!Ram_.Write(Sp, Arguments.data() + ArgumentRegisters, StackArguments * ArgumentBytes)) {
      throw std::logic_error("the guest stack " + Hex(Sp) + " is not in RAM");
    }
  }
  return Sp;
}

// "<fault> at <where>[: <detail>]; lr <where>, frames: ..."
GuestFault Aarch64Cpu::FaultIn(const Dynarmic::A64::Jit &Jit, FaultKind Kind, uint64_t Pc, uint64_t Address,
                               const std::string &Detail) const {
  return GuestFault(Kind, Pc, Address,
                    std::string(FaultName(Kind)) + " at " + Ram_.Describe(Pc) + (Detail.empty() ? "" : ": ") +
                        Detail + "; " +
                        Backtrace(Jit.GetRegister(LinkRegisterIndex), Jit.GetRegister(FramePointerRegister)));
}

uint64_t Aarch64Cpu::CallGuest(uint64_t Function, std::span<const uint64_t> Arguments) {
  if (!Stubs_) {
    throw std::logic_error("a call into guest code before the trap page");
  }
  if (Depth_ >= MaxLevels) {
    throw GuestFault(FaultKind::NestingTooDeep, Function, 0,
                     std::string(FaultName(FaultKind::NestingTooDeep)) + " calling " +
                         Ram_.Describe(Function));
  }
  const uint64_t Sp = EntryStack(Arguments);
  const uint64_t Image = ImageOf(Function);
  ImageJit *Current = &FreeJit(Image, Function);
  Dynarmic::A64::Jit *Jit = Current->Jit.get();
  Jit->SetRegisters({});
  for (size_t Index = 0; Index < Arguments.size() && Index < ArgumentRegisters; Index++) {
    Jit->SetRegister(Index, Arguments[Index]);
  }
  Jit->SetRegister(LinkRegisterIndex, Stubs_->ReturnAddress());
  Jit->SetSP(Sp);
  Jit->SetPC(Function);
  RunScope Running(*this, *Current, Image);
  ProfileScope Profiled(Profile_, CpuProfile::Guest);
  for (;;) {
    Current->Callbacks.Stop = {};
    if (!Interrupted_.load()) {
      Jit->Run(); // an Interrupt from here on halts it (the halt waits in the JIT's state)
    }
    Board_.Settle();
    if (Interrupted_.exchange(false)) {
      throw FaultIn(*Jit, FaultKind::Interrupted, Jit->GetPC(), 0, "");
    }
    StopRecord Stop = std::move(Current->Callbacks.Stop);
    if (Stop.Thrown) {
      std::rethrow_exception(Stop.Thrown);
    }
    if (Stop.Fault) {
      throw FaultIn(*Jit, *Stop.Fault, Stop.Pc.value_or(Jit->GetPC()), Stop.Address, Stop.Detail);
    }
    if (Stop.Returned) {
      if (Depth_ == 1) {
        Caches_.Close(Board_); // a walk not finished by the outermost call's end stays incomplete
      }
      break;
    }
    if (Stop.Enter) {
      Current = &SwitchTo(*Current, *Stop.Enter);
      Jit = Current->Jit.get();
      Running.Enter(*Current, Current->Image);
    }
    // Otherwise halted for the JIT's own reasons (a cache invalidation): go on where it stopped.
  }
  if (Jit->GetSP() != Sp) {
    throw GuestFault(FaultKind::StackImbalance, Jit->GetPC(), Jit->GetSP(),
                     std::string(FaultName(FaultKind::StackImbalance)) + ": " + Ram_.Describe(Function) +
                         " returned with SP " + Hex(Jit->GetSP()) + " instead of " + Hex(Sp));
  }
  return Jit->GetRegister(0);
}

void Aarch64Cpu::Interrupt() {
  Interrupted_.store(true);
  for (std::atomic<Dynarmic::A64::Jit *> &Level : RunningJits_) {
    if (Dynarmic::A64::Jit *Jit = Level.load()) {
      Jit->HaltExecution(Dynarmic::HaltReason::UserDefined3);
    }
  }
}

bool Aarch64Cpu::InterruptRunning() {
  for (std::atomic<Dynarmic::A64::Jit *> &Level : RunningJits_) {
    if (Level.load() != nullptr) {
      Interrupt();
      return true;
    }
  }
  return false;
}

// The frame record at the frame pointer holds the caller's frame pointer and the return address.
// The images are built without frame pointers (the flash budget has no room for them), so X29 is
// often an ordinary register: the chain is followed only while it looks like one (records in RAM
// at rising addresses, return addresses in code), and the link register is always given.
std::string Aarch64Cpu::Backtrace(uint64_t LinkRegister, uint64_t FramePointer) const {
  std::string Text = "lr " + Ram_.Describe(LinkRegister);
  for (size_t Frame = 0; Frame < BacktraceFrames && FramePointer != 0; Frame++) {
    uint64_t Record[2] = {};
    if (FramePointer % sizeof(uint64_t) != 0 || !Ram_.Read(FramePointer, Record, sizeof(Record)) ||
        !Ram_.IsExecutable(Record[1]) || (Record[0] != 0 && Record[0] <= FramePointer)) {
      break;
    }
    Text += (Frame == 0 ? ", frames: " : " ") + Ram_.Describe(Record[1]);
    FramePointer = Record[0];
  }
  return Text;
}

} // namespace cpu
