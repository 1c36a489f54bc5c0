// The wall-clock progress watchdog: it ends a call into firmware that runs on without moving the
// virtual clock (a spin on a memory flag, a zero-length delay loop, a fence in a loop), which
// the virtual-time watchdog can never see.
//
// A monitor thread watches the virtual clock and the calls into firmware. When a call has run
// for the limit of wall time without the clock moving, it trips the watchdog. The firmware's
// thread takes the trip at its next call into the core (every seam and service checks it) and
// raises a halt there, which unwinds to the harness like any other. A spin that makes no call
// into the core at all never reaches such a check: after a grace period the monitor signals the
// firmware's thread, and the handler raises the halt itself, but only when the thread was
// interrupted in an image's code, which holds no host lock and no half-changed host state
// (firmware code is built with asynchronous unwind tables, so it unwinds from any instruction).
// Interrupted in host code, the thread is left alone: it reaches a check soon. Code running on
// the AArch64 processor is JIT code the handler cannot unwind from: the monitor stops the
// processor instead, and the call into it ends with the same halt.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace host {

class ProgressWatchdog {
public:
  // Limit zero: the watchdog is off.
  explicit ProgressWatchdog(std::chrono::milliseconds Limit);
  ~ProgressWatchdog();
  ProgressWatchdog(const ProgressWatchdog &) = delete;
  ProgressWatchdog &operator=(const ProgressWatchdog &) = delete;

  // The firmware's thread reports the clock's movement and the calls into firmware.
  void ClockMoved(uint64_t NowNs) { Clock_.store(NowNs, std::memory_order_relaxed); }
  // The AArch64 processor translated guest code it had not run before: a run that reaches new
  // code is going somewhere, while a spin runs code it translated long ago. (A sanitized JIT's
  // first translations take seconds of a loaded machine's wall time with the clock standing.)
  void CodeTranslated() { Translated_.fetch_add(1, std::memory_order_relaxed); }
  void CallStarted();
  void CallEnded();
  // Whether the watchdog tripped; Take clears the trip as the halt is raised.
  bool Tripped() const { return Tripped_.load(std::memory_order_relaxed); }
  void Take();
  std::string Reason() const; // the halt's reason

  // Stops the AArch64 processor's guest code; false when none runs (empty: no processor).
  void SetGuestStop(std::function<bool()> Stop);

  // The code of the loaded images, which the signal handler may unwind from.
  void AddImageCode(uintptr_t Base, const std::string &Name);
  void RemoveImageCode(uintptr_t Base);

private:
  struct CodeRange {
    std::atomic<uintptr_t> Base{0}; // the image's load address; 0: a free slot
    std::atomic<uintptr_t> Start{0};
    std::atomic<uintptr_t> End{0};
    char Name[64] = {};
  };
  static constexpr size_t kCodeRanges = 64;

  void Watch();
  void Trip(uint64_t SeenClock, uint64_t SeenCalls);
  static void OnSignal(int Signal, siginfo_t *Info, void *Context);
  const char *ImageAt(uintptr_t Address) const; // async-signal-safe

  const std::chrono::milliseconds Limit_;
  std::atomic<uint64_t> Clock_{0};
  std::atomic<bool> Tripped_{false};
  std::atomic<uint64_t> Translated_{0};
  std::mutex Lock_; // orders trips against calls starting and ending
  uint64_t Calls_ = 0;
  size_t Depth_ = 0;
  pthread_t Firmware_{};
  bool Stopping_ = false;
  std::condition_variable Wake_;
  std::array<CodeRange, kCodeRanges> Code_;
  std::function<bool()> GuestStop_; // guarded by Lock_
  std::thread Monitor_;
};

} // namespace host
