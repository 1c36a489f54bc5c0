// The board's generic timer as firmware reads it: CNTPCT_EL0 is the virtual clock in ticks of
// 100 MHz, and each read takes one tick, charged like any access, so that a spin on the counter
// ends. Both builds read it here: the host build's TimerLib charges a whole spin at once, the
// processor each read as the image makes it. Host-only; part of the core.
#pragma once

#include <cstdint>

namespace host {

class CoreEvents;
struct TimeAccount;

inline constexpr uint64_t kCounterHz = 100'000'000;
inline constexpr uint64_t kCounterTickNs = 1'000'000'000 / kCounterHz;

class GenericTimer {
public:
  explicit GenericTimer(CoreEvents &Events) : Events_(Events) {}
  // Reads reads of the counter back to back by Account's code; returns the first one's value.
  // Starts: the first read starts a wait or measurement (TimerLib's read after an ISB);
  // otherwise the reads go on with the spin before them.
  uint64_t Read(TimeAccount &Account, uint64_t Reads, bool Starts);

private:
  void CountSpin(TimeAccount &Account, uint64_t ReadsBefore, uint64_t ReadsAfter);

  CoreEvents &Events_;
  // The spin going on: reads back to back by one account, each at the time the one before it ended.
  TimeAccount *SpinAccount_ = nullptr;
  uint64_t SpinEndNs_ = 0;
  uint64_t SpinReads_ = 0;
};

} // namespace host
