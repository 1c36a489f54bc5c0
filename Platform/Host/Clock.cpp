// The virtual clock: its queue of timers and model work, run in order as the clock moves, and
// the time accounts every step of it is charged to.
#include "CoreEvents.h"

#include "ImageTable.h"

namespace host {

namespace {

uint64_t SaturatingAdd(uint64_t A, uint64_t B) {
  return A > UINT64_MAX - B ? UINT64_MAX : A + B;
}

} // namespace

void CoreEvents::Schedule(uint64_t DueNs, std::function<void()> Work) {
  DueQueue_.emplace(DueKey{DueNs, NextDueOrder_++}, DueItem{nullptr, std::move(Work)});
}

// The first item that can run now: model work always, a timer only while the timer interrupt
// can be taken.
std::map<DueKey, DueItem>::iterator CoreEvents::NextDue() {
  auto Item = DueQueue_.begin();
  if (!TimersCanFire()) {
    while (Item != DueQueue_.end() && Item->second.Timer != nullptr) {
      ++Item;
    }
  }
  return Item;
}

bool CoreEvents::RunNextDue(uint64_t Until) {
  auto Item = NextDue();
  if (Item == DueQueue_.end() || Item->first.DueNs > Until) {
    return false;
  }
  MoveClockTo(Item->first.DueNs);
  if (Item->second.Timer != nullptr) {
    EFI_TPL Old = RaiseTpl(TPL_HIGH_LEVEL);
    FireDueTimers();
    RestoreTpl(Old);
    return true;
  }
  std::function<void()> Work = std::move(Item->second.Work);
  DueQueue_.erase(Item);
  Work();
  return true;
}

// The clock stops at every item due on the way, so that work and timers see the time they were
// due at, and what they schedule is anchored there.
void CoreEvents::Advance(uint64_t Nanoseconds) {
  const uint64_t Target = SaturatingAdd(NowNs_, Nanoseconds);
  while (RunNextDue(Target)) {
    Images_.CheckProgress(); // model work that keeps scheduling work due now
  }
  MoveClockTo(Target);
}

// The clock's move through the work and timers due on the way, charged to Bucket of Account.
[[gnu::noinline]] void CoreEvents::SpendThroughDue(TimeAccount &Account, uint64_t TimeAccount::*Bucket,
                                                   uint64_t Nanoseconds) {
  struct Restore {
    Spender &Slot;
    Spender Saved;
    ~Restore() { Slot = Saved; }
  } Back{Charged_, Charged_};
  Charged_ = {&Account, Bucket};
  Advance(Nanoseconds);
}

void CoreEvents::Spend(TimeAccount &Account, uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds) {
  if (!SpendAtOnce(Account, Bucket, Nanoseconds)) {
    SpendThroughDue(Account, Bucket, Nanoseconds);
  }
}

void CoreEvents::Stall(TimeAccount &Account, uint64_t Microseconds) {
  constexpr uint64_t kNsPerUs = 1000;
  Account.StallsByUs[Microseconds]++;
  Spend(Account, &TimeAccount::StallNs,
        Microseconds > UINT64_MAX / kNsPerUs ? UINT64_MAX : Microseconds * kNsPerUs);
}

void CoreEvents::MoveClockTo(uint64_t TimeNs) {
  if (TimeNs <= NowNs_) {
    return;
  }
  const uint64_t Step = TimeNs - NowNs_;
  if (Charged_.Account != nullptr) {
    Charged_.Account->*Charged_.Bucket += Step;
  } else {
    CurrentAccount().ServiceNs += Step;
  }
  NowNs_ = TimeNs;
  Images_.ClockMoved(NowNs_);
}

std::optional<uint64_t> CoreEvents::NextDueNs() {
  auto Next = NextDue();
  return Next == DueQueue_.end() ? std::nullopt : std::optional<uint64_t>(Next->first.DueNs);
}

// Code outside the images belongs to the image running now; a cached image must still be loaded.
TimeAccount &CoreEvents::AccountOf(const void *Caller) {
  auto Found = AccountCache_.find(Caller);
  if (Found != AccountCache_.end()) {
    if (Found->second.Image == nullptr) {
      return CurrentAccount();
    }
    if (Images_.IsLoaded(Found->second.Image)) {
      return *Found->second.Account;
    }
  }
  const EFI_HANDLE Image = Images_.ImageFromAddress(Caller);
  if (Image == nullptr) {
    AccountCache_[Caller] = {nullptr, nullptr};
    return CurrentAccount();
  }
  TimeAccount &Account = Accounts_[Memory_.StatsOf(Image).Name];
  AccountCache_[Caller] = {Image, &Account};
  return Account;
}

TimeAccount &CoreEvents::CurrentAccount() {
  auto &Cache = CurrentAccountCache_;
  const EFI_HANDLE Top = Images_.TopFrameImage();
  if (Cache.Account == nullptr || Cache.Generation != Images_.FrameGeneration() || Cache.Image != Top) {
    Cache = {Images_.FrameGeneration(), Top, &Accounts_[Images_.CurrentImageName()]};
  }
  return *Cache.Account;
}

} // namespace host
