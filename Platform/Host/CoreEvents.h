// Events, task priority levels and the virtual clock: event groups and timers, the notify queues
// dispatched as the TPL drops, the clock's queue of timers and model work, and the time accounts
// every step of the clock is charged to. Host-only; part of the core.
#pragma once

#include "CoreMemory.h"
#include "CoreReport.h"
#include "HandleDatabase.h"
#include "HostPlatform.h"

#include <array>
#include <compare>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace host {

constexpr uint64_t EventSignature = 0x544E455645434F43ull; // "COCEVENT"

class ImageTable;

struct EventRecord {
  uint64_t Signature = EventSignature;
  UINT32 Type = 0;
  EFI_TPL NotifyTpl = 0;
  EFI_EVENT_NOTIFY NotifyFunction = nullptr;
  VOID *NotifyContext = nullptr;
  std::optional<EFI_GUID> Group;
  bool Signaled = false;
  bool Queued = false;
  uint64_t TimerDueNs = 0; // 0: no timer armed
  uint64_t TimerPeriodNs = 0;
  uint64_t TimerOrder = 0; // its place in the clock's queue among items due at the same time
  EFI_HANDLE OwnerImage = nullptr;
};

// Who the clock's movement is charged to while a seam or a service spends virtual time.
struct Spender {
  TimeAccount *Account = nullptr;
  uint64_t TimeAccount::*Bucket = nullptr;
};

// The clock's queue: model work and armed timers, ordered by due time and then by the order
// they were scheduled in.
struct DueKey {
  uint64_t DueNs = 0;
  uint64_t Order = 0;
  auto operator<=>(const DueKey &) const = default;
};

struct DueItem {
  EventRecord *Timer = nullptr; // an armed timer, or
  std::function<void()> Work;   // model work (Platform::After)
};

class CoreEvents {
public:
  // Handles: a closed event's notify registrations go. Memory: the names accounts are kept by.
  // Images: notifications run in a frame of their image, and time goes to the image running.
  CoreEvents(CoreReport &Report, HandleDatabase &Handles, CoreMemory &Memory, ImageTable &Images)
      : Report_(Report), Handles_(Handles), Memory_(Memory), Images_(Images) {}
  CoreEvents(const CoreEvents &) = delete;
  CoreEvents &operator=(const CoreEvents &) = delete;

  static void FillServices(EFI_BOOT_SERVICES &Services);

  // Events.
  EventRecord *ValidEvent(EFI_EVENT Event) const;
  const std::vector<EventRecord *> &Live() const { return LiveEvents_; } // in creation order
  EFI_STATUS EventTypeError(const std::string &Text); // records the misuse; EFI_INVALID_PARAMETER
  EFI_STATUS CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                         const EFI_GUID *Group, EFI_EVENT *Event);
  EFI_STATUS CloseEvent(EFI_EVENT Event);
  EFI_STATUS SignalEvent(EventRecord *Event);
  void SignalGroup(const EFI_GUID &Group);
  void SignalOne(EventRecord *Event);
  // Queues a wait event's notification, which runs to find out whether the event happened.
  void QueueNotify(EventRecord *Event);

  // Task priority levels.
  EFI_TPL RaiseTpl(EFI_TPL NewTpl);
  void RestoreTpl(EFI_TPL OldTpl);
  EFI_TPL CurrentTpl() const { return CurrentTpl_; }
  // Puts the TPL back without running anything (a halt unwinds through the code that raised it).
  void ResetTpl(EFI_TPL Tpl) { CurrentTpl_ = Tpl; }
  EFI_TPL NotifyingTpl() const { return NotifyingTpl_; } // the TPL the running notification was called at
  bool InterruptsEnabled() const { return InterruptsEnabled_; }
  void SetInterruptsEnabled(bool Enabled) { InterruptsEnabled_ = Enabled; }

  // Timers. From the start of ExitBootServices the timer interrupt is gone: no timer fires.
  void ArmTimer(EventRecord *Event, uint64_t DueNs);
  void DisarmTimer(EventRecord *Event);
  void StopTimerInterrupt() { ExitingBootServices_ = true; }
  bool TimerInterruptStopped() const { return ExitingBootServices_; }
  void ReportArmedTimers();

  // The clock. NowNs moves only by MoveClockTo, which charges every step to an account.
  uint64_t NowNs() const { return NowNs_; }
  // Moves the clock on by Nanoseconds, running the items of the queue that fall due on the way
  // at their due time; the movement is charged to the spender of the call (see Spend).
  void Advance(uint64_t Nanoseconds);
  // Advances the clock on behalf of Account: every step the clock makes meanwhile, other than
  // what code called from here spends itself, goes to its Bucket.
  void Spend(TimeAccount &Account, uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds);
  // Spend when nothing falls due on the way (an access, mostly): the one step is the account's
  // and the clock moves at once. False, with nothing done, when an item of the queue falls due
  // by then (Spend runs it). Defined inline in ImageTable.h, where the watchdog it tells is
  // known, so that the address space's access path charges with an add and a compare.
  inline bool SpendAtOnce(TimeAccount &Account, uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds);
  void MoveClockTo(uint64_t TimeNs);
  // A stall of firmware code: the clock moves on by its length, charged to Account.
  void Stall(TimeAccount &Account, uint64_t Microseconds);
  void Schedule(uint64_t DueNs, std::function<void()> Work);
  // When the first item that can run now falls due; nothing when the queue holds none.
  std::optional<uint64_t> NextDueNs();
  // When the queue's first item falls due, whether or not it can run now; UINT64_MAX: empty.
  uint64_t FirstDueNs() const { return DueQueue_.empty() ? UINT64_MAX : DueQueue_.begin()->first.DueNs; }

  // Time accounts.
  TimeAccount &AccountOf(const void *Caller);
  // The account of the image running now (by call frame); cached, so cheap to call per access.
  TimeAccount &CurrentAccount();
  const std::map<std::string, TimeAccount> &Accounts() const { return Accounts_; }
  // Who the clock's movement goes to; empty: CurrentAccount(). Code of an image called from a
  // spender spends its own time: frames set it empty and put it back.
  Spender Charged() const { return Charged_; }
  void SetCharged(Spender Charged) { Charged_ = Charged; }

private:
  void SpendThroughDue(TimeAccount &Account, uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds);
  void DispatchNotifications(EFI_TPL Above);
  void FireDueTimers();
  bool TimersCanFire() const;
  std::map<DueKey, DueItem>::iterator NextDue();
  bool RunNextDue(uint64_t Until); // false when nothing is due by Until

  CoreReport &Report_;
  HandleDatabase &Handles_;
  CoreMemory &Memory_;
  ImageTable &Images_;

  EFI_TPL CurrentTpl_ = TPL_APPLICATION;
  std::array<std::deque<EventRecord *>, TPL_HIGH_LEVEL + 1> NotifyQueues_;
  std::vector<std::unique_ptr<EventRecord>> Events_; // every event ever created: closed ones stay invalid
  std::vector<EventRecord *> LiveEvents_;            // in creation order
  bool InterruptsEnabled_ = true;
  EFI_TPL NotifyingTpl_ = TPL_APPLICATION;
  bool ExitingBootServices_ = false;

  uint64_t NowNs_ = 0;
  std::map<DueKey, DueItem> DueQueue_;
  uint64_t NextDueOrder_ = 1;

  std::map<std::string, TimeAccount> Accounts_;
  // The account of each code address that reached a seam, with the image it belonged to: a
  // lookup of the image is costly and a poll loop makes millions of accesses.
  struct AccountCacheEntry {
    EFI_HANDLE Image = nullptr;
    TimeAccount *Account = nullptr;
  };
  std::unordered_map<const void *, AccountCacheEntry> AccountCache_;
  struct {
    uint64_t Generation = 0;
    EFI_HANDLE Image = nullptr;
    TimeAccount *Account = nullptr;
  } CurrentAccountCache_;
  Spender Charged_;
};

} // namespace host
