// The board's generic timer as firmware reads it: CNTPCT_EL0 is the virtual clock in ticks of
// 100 MHz, and each read takes one tick, charged like any access, so that a spin on the counter
// ends. Both builds read it here: the host build's TimerLib charges a whole spin at once, the
// processor each read as the image makes it. Host-only; part of the core.
#pragma once

#include "CoreEvents.h"
#include "ImageTable.h" // CoreEvents::SpendAtOnce

#include <cstdint>

namespace host {

inline constexpr uint64_t kCounterHz = 100'000'000;
inline constexpr uint64_t kCounterTickNs = 1'000'000'000 / kCounterHz;

class GenericTimer {
public:
  explicit GenericTimer(CoreEvents &Events) : Events_(Events) {}
  // Reads reads of the counter back to back by Account's code; returns the first one's value.
  // Starts: the first read starts a wait or measurement (TimerLib's read after an ISB);
  // otherwise the reads go on with the spin before them.
  uint64_t Read(TimeAccount &Account, uint64_t Reads, bool Starts);
  // One more read of the spin Account's reads are making, when the clock moves straight on (no
  // work or timer falls due) and the spin's length in whole microseconds stays: what Read(Account,
  // 1, false) does, in a few adds, for the processor's reads one by one. False, with nothing
  // done, otherwise (Read then does it all).
  bool ContinueSpin(TimeAccount &Account, uint64_t &Value) {
    const uint64_t Now = Events_.NowNs();
    if (&Account != SpinAccount_ || Now != SpinEndNs_ || SpinReads_ == SpinRecountAt_ ||
        !Events_.SpendAtOnce(Account, &TimeAccount::StallNs, kCounterTickNs)) {
      return false;
    }
    SpinReads_++;
    SpinEndNs_ = Events_.NowNs();
    Value = Now / kCounterTickNs;
    return true;
  }

  // A spin of Reads reads waited Reads - 1 ticks: the first read is its start. Counted in whole
  // microseconds, rounded up.
  static constexpr uint64_t kNsPerUs = 1000;
  static constexpr uint64_t SpinMicroseconds(uint64_t Reads) {
    return ((Reads - 1) * kCounterTickNs + kNsPerUs - 1) / kNsPerUs;
  }
  // The length of a spin of Reads reads or more at which one more read changes its count (a
  // spin counts from its second read, and then at each whole microsecond).
  static constexpr uint64_t RecountAt(uint64_t Reads) {
    constexpr uint64_t kReadsPerUs = kNsPerUs / kCounterTickNs;
    static_assert(kReadsPerUs * kCounterTickNs == kNsPerUs, "whole ticks per microsecond");
    return Reads < 2 ? Reads : 1 + kReadsPerUs * ((Reads - 1 + kReadsPerUs - 1) / kReadsPerUs);
  }

private:
  void CountSpin(TimeAccount &Account, uint64_t ReadsBefore, uint64_t ReadsAfter);

  CoreEvents &Events_;
  // The spin going on: reads back to back by one account, each at the time the one before it ended.
  TimeAccount *SpinAccount_ = nullptr;
  uint64_t SpinEndNs_ = 0;
  uint64_t SpinReads_ = 0;
  uint64_t SpinRecountAt_ = 0; // RecountAt(SpinReads_)
};

} // namespace host
