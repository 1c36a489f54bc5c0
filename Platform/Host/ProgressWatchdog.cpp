// The wall-clock progress watchdog (see ProgressWatchdog.h).
#include "ProgressWatchdog.h"

#include "CoreInternal.h"

#include <link.h>
#include <ucontext.h>

#include <algorithm>
#include <cstring>

namespace host {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kStopSignal = SIGUSR2;
constexpr milliseconds kShortestTick{10};
constexpr milliseconds kLongestTick{250};
constexpr int kTicksPerLimit = 10;
constexpr int kGraceDivisor = 2; // a spin outside the core is signalled half a limit after the trip

std::atomic<ProgressWatchdog *> gActive{nullptr};

uintptr_t InterruptedAt(void *Context) {
  const auto *Machine = static_cast<const ucontext_t *>(Context);
#if defined(__x86_64__)
  return static_cast<uintptr_t>(Machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(Machine->uc_mcontext.pc);
#else
  (void)Machine;
  return 0; // no image code is ever recognised: only the checks in the core act
#endif
}

// The executable segments of the loaded object that contains Base.
struct CodeSearch {
  uintptr_t Base = 0;
  uintptr_t Start = UINTPTR_MAX;
  uintptr_t End = 0;
};

int FindCode(dl_phdr_info *Info, size_t, void *Data) {
  auto *Search = static_cast<CodeSearch *>(Data);
  uintptr_t Low = UINTPTR_MAX, High = 0;
  for (ElfW(Half) Index = 0; Index < Info->dlpi_phnum; Index++) {
    const ElfW(Phdr) &Segment = Info->dlpi_phdr[Index];
    if (Segment.p_type == PT_LOAD) {
      Low = std::min<uintptr_t>(Low, Info->dlpi_addr + Segment.p_vaddr);
      High = std::max<uintptr_t>(High, Info->dlpi_addr + Segment.p_vaddr + Segment.p_memsz);
    }
  }
  if (Search->Base < Low || Search->Base >= High) {
    return 0;
  }
  for (ElfW(Half) Index = 0; Index < Info->dlpi_phnum; Index++) {
    const ElfW(Phdr) &Segment = Info->dlpi_phdr[Index];
    if (Segment.p_type == PT_LOAD && (Segment.p_flags & PF_X) != 0) {
      Search->Start = std::min<uintptr_t>(Search->Start, Info->dlpi_addr + Segment.p_vaddr);
      Search->End = std::max<uintptr_t>(Search->End, Info->dlpi_addr + Segment.p_vaddr + Segment.p_memsz);
    }
  }
  return 1;
}

void InstallHandlerOnce(void (*Handler)(int, siginfo_t *, void *)) {
  static std::once_flag Installed;
  std::call_once(Installed, [Handler] {
    struct sigaction Action {};
    Action.sa_sigaction = Handler;
    // Not deferred: the handler leaves by an exception, never through sigreturn.
    Action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_RESTART;
    sigemptyset(&Action.sa_mask);
    sigaction(kStopSignal, &Action, nullptr);
  });
}

} // namespace

ProgressWatchdog::ProgressWatchdog(milliseconds Limit) : Limit_(Limit) {
  if (Limit_.count() == 0) {
    return;
  }
  InstallHandlerOnce(OnSignal);
  gActive.store(this);
  Monitor_ = std::thread([this] { Watch(); });
}

ProgressWatchdog::~ProgressWatchdog() {
  if (!Monitor_.joinable()) {
    return;
  }
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    Stopping_ = true;
  }
  Wake_.notify_all();
  Monitor_.join();
  gActive.store(nullptr);
}

void ProgressWatchdog::CallStarted() {
  std::lock_guard<std::mutex> Guard(Lock_);
  if (Depth_++ == 0) {
    Firmware_ = pthread_self();
  }
  Calls_++;
  Tripped_.store(false, std::memory_order_relaxed);
}

void ProgressWatchdog::CallEnded() {
  std::lock_guard<std::mutex> Guard(Lock_);
  Depth_ = Depth_ > 0 ? Depth_ - 1 : 0;
  Calls_++;
  Tripped_.store(false, std::memory_order_relaxed);
}

void ProgressWatchdog::Take() {
  Tripped_.store(false, std::memory_order_relaxed);
}

std::string ProgressWatchdog::Reason() const {
  return "progress watchdog: the virtual clock stood still for " + std::to_string(Limit_.count()) +
         " ms of wall time";
}

// Progress is the clock moving, a call into firmware starting or ending, or guest code translated
// for the first time; only a call in progress is measured.
void ProgressWatchdog::Watch() {
  const milliseconds Tick = std::clamp(Limit_ / kTicksPerLimit, kShortestTick, kLongestTick);
  const milliseconds Grace = std::max(Limit_ / kGraceDivisor, Tick);
  std::unique_lock<std::mutex> Guard(Lock_);
  uint64_t SeenClock = Clock_.load(std::memory_order_relaxed);
  uint64_t SeenCalls = Calls_;
  uint64_t SeenCode = Translated_.load(std::memory_order_relaxed);
  Clock::time_point Since = Clock::now(), SignalledAt = Since;
  while (!Wake_.wait_for(Guard, Tick, [this] { return Stopping_; })) {
    const Clock::time_point Now = Clock::now();
    const uint64_t Seen = Clock_.load(std::memory_order_relaxed);
    const uint64_t Code = Translated_.load(std::memory_order_relaxed);
    if (Depth_ == 0 || Seen != SeenClock || Calls_ != SeenCalls || Code != SeenCode) {
      SeenClock = Seen;
      SeenCalls = Calls_;
      SeenCode = Code;
      Since = Now;
      Tripped_.store(false, std::memory_order_relaxed);
    } else if (!Tripped_.load(std::memory_order_relaxed)) {
      if (Now - Since >= Limit_) {
        Tripped_.store(true, std::memory_order_relaxed);
        SignalledAt = Now;
      }
    } else if (Now - SignalledAt >= Grace) {
      // The trip was not taken: the thread makes no call into the core at all.
      if (!GuestStop_ || !GuestStop_()) {
        pthread_kill(Firmware_, kStopSignal);
      }
      SignalledAt = Now;
    }
  }
}

void ProgressWatchdog::OnSignal(int, siginfo_t *, void *Context) {
  ProgressWatchdog *Watchdog = gActive.load();
  if (Watchdog == nullptr || !Watchdog->Tripped() || !CoreAlive()) {
    return;
  }
  const char *Image = Watchdog->ImageAt(InterruptedAt(Context));
  if (Image == nullptr) {
    return; // host code: it reaches a check of the trip by itself
  }
  Watchdog->Take();
  throw Halt(Watchdog->Reason(), Image, Core().Events.NowNs());
}

void ProgressWatchdog::SetGuestStop(std::function<bool()> Stop) {
  std::lock_guard<std::mutex> Guard(Lock_);
  GuestStop_ = std::move(Stop);
}

void ProgressWatchdog::AddImageCode(uintptr_t Base, const std::string &Name) {
  CodeSearch Search;
  Search.Base = Base;
  dl_iterate_phdr(FindCode, &Search);
  if (Search.End == 0) {
    return;
  }
  for (CodeRange &Slot : Code_) {
    if (Slot.Base.load() == 0) {
      std::strncpy(Slot.Name, Name.c_str(), sizeof(Slot.Name) - 1);
      Slot.Start.store(Search.Start);
      Slot.End.store(Search.End);
      Slot.Base.store(Base);
      return;
    }
  }
}

void ProgressWatchdog::RemoveImageCode(uintptr_t Base) {
  for (CodeRange &Slot : Code_) {
    if (Slot.Base.load() == Base) {
      Slot.End.store(0);
      Slot.Start.store(0);
      Slot.Base.store(0);
    }
  }
}

const char *ProgressWatchdog::ImageAt(uintptr_t Address) const {
  for (const CodeRange &Slot : Code_) {
    if (Slot.Base.load() != 0 && Address >= Slot.Start.load() && Address < Slot.End.load()) {
      return Slot.Name;
    }
  }
  return nullptr;
}

} // namespace host
