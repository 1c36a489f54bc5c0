// The generic timer's counter reads, and the spins they make counted among the stalls.
#include "GenericTimer.h"

#include "CoreEvents.h"

namespace host {

namespace {

constexpr uint64_t kNsPerUs = 1000;

// A spin of Reads reads waited Reads - 1 ticks: the first read is its start. Counted in whole
// microseconds, rounded up.
constexpr uint64_t SpinMicroseconds(uint64_t Reads) {
  return ((Reads - 1) * kCounterTickNs + kNsPerUs - 1) / kNsPerUs;
}

// A spin of 2 to 101 reads waited 1 us; the 102nd read makes it 2.
static_assert(SpinMicroseconds(101) == 1 && SpinMicroseconds(102) == 2);

} // namespace

uint64_t GenericTimer::Read(TimeAccount &Account, uint64_t Reads, bool Starts) {
  const uint64_t Now = Events_.NowNs();
  const uint64_t Value = Now / kCounterTickNs;
  if (Starts || &Account != SpinAccount_ || Now != SpinEndNs_) {
    SpinAccount_ = &Account;
    SpinReads_ = 0;
  }
  const uint64_t Before = SpinReads_;
  const uint64_t Spent = Reads > UINT64_MAX / kCounterTickNs ? UINT64_MAX : Reads * kCounterTickNs;
  SpinReads_ = Before + Reads;
  Events_.Spend(Account, &TimeAccount::StallNs, Spent);
  SpinEndNs_ = Events_.NowNs();
  CountSpin(Account, Before, Before + Reads);
  return Value;
}

// A spin is counted once, by its length so far: a spin that goes on moves to its new length.
void GenericTimer::CountSpin(TimeAccount &Account, uint64_t ReadsBefore, uint64_t ReadsAfter) {
  if (ReadsAfter < 2 || (ReadsBefore >= 2 && SpinMicroseconds(ReadsBefore) == SpinMicroseconds(ReadsAfter))) {
    return;
  }
  if (ReadsBefore >= 2) {
    const auto Counted = Account.StallsByUs.find(SpinMicroseconds(ReadsBefore));
    if (Counted != Account.StallsByUs.end() && --Counted->second == 0) {
      Account.StallsByUs.erase(Counted);
    }
  }
  Account.StallsByUs[SpinMicroseconds(ReadsAfter)]++;
}

} // namespace host
