// Events, event groups, timers on the virtual clock, and task priority levels with
// notification dispatch (higher TPL first, first-in first-out within one TPL).
#include "CoreInternal.h"

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

constexpr uint64_t kNsPer100Ns = 100;
constexpr uint64_t kTimerTickNs = 1'000'000;  // a zero trigger time means "the next tick"
constexpr uint64_t kCheckEventCostNs = 1'000; // a poll of an event takes time like any other access

// The event types UEFI defines; any other combination of the bits is invalid.
constexpr UINT32 kValidEventTypes[] = {
    0,
    EVT_TIMER,
    EVT_NOTIFY_WAIT,
    EVT_NOTIFY_SIGNAL,
    EVT_TIMER | EVT_NOTIFY_WAIT,
    EVT_TIMER | EVT_NOTIFY_SIGNAL,
    EVT_RUNTIME | EVT_NOTIFY_SIGNAL,
    EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_SIGNAL,
    EVT_SIGNAL_EXIT_BOOT_SERVICES,
    EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE,
};

bool ValidEventType(UINT32 Type) {
  return std::find(std::begin(kValidEventTypes), std::end(kValidEventTypes), Type) !=
         std::end(kValidEventTypes);
}

bool SameGuid(const EFI_GUID &A, const EFI_GUID &B) {
  return CompareGuidValues(A, B);
}

// Trigger times are in 100 ns units; a time too far away to count in nanoseconds is never
// reached rather than wrapped round to a moment in the near future.
uint64_t SaturatingAdd(uint64_t A, uint64_t B) {
  return A > UINT64_MAX - B ? UINT64_MAX : A + B;
}

uint64_t TriggerTimeNs(UINT64 TriggerTime) {
  return TriggerTime > UINT64_MAX / kNsPer100Ns ? UINT64_MAX : TriggerTime * kNsPer100Ns;
}

std::string Hex(UINT32 Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "0x%X", Value);
  return Text;
}

bool ValidNotifyTpl(EFI_TPL Tpl) {
  return Tpl > TPL_APPLICATION && Tpl < TPL_HIGH_LEVEL;
}

} // namespace

EFI_STATUS Platform::Impl::EventTypeError(const std::string &Text) {
  Error("event type", Text + ": refused");
  return EFI_INVALID_PARAMETER;
}

EventRecord *Platform::Impl::ValidEvent(EFI_EVENT Event) const {
  auto *Record = static_cast<EventRecord *>(Event);
  if (Record == nullptr || std::find(LiveEvents.begin(), LiveEvents.end(), Record) == LiveEvents.end()) {
    return nullptr;
  }
  return Record;
}

EFI_STATUS Platform::Impl::CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify,
                                       const VOID *Context, const EFI_GUID *Group, EFI_EVENT *Event) {
  if (Event == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!ValidEventType(Type)) {
    return EventTypeError("CreateEvent of type " + Hex(Type) + ", not a type UEFI defines");
  }
  const bool Wait = (Type & EVT_NOTIFY_WAIT) != 0;
  const bool Signal = (Type & EVT_NOTIFY_SIGNAL) != 0;
  if ((Wait || Signal) && (Notify == nullptr || !ValidNotifyTpl(NotifyTpl))) {
    return EventTypeError("CreateEvent of a notify type " + (Notify == nullptr
                                                                 ? std::string("without a function")
                                                                 : "at TPL " + std::to_string(NotifyTpl)));
  }
  std::optional<EFI_GUID> EventGroup;
  if (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES || Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    // These types name their group themselves; a second group is a contradiction.
    if (Group != nullptr) {
      return EventTypeError("CreateEventEx of type " + Hex(Type) + " with an event group");
    }
    EventGroup =
        Type == EVT_SIGNAL_EXIT_BOOT_SERVICES ? CoreGuid::ExitBootServices : CoreGuid::VirtualAddressChange;
  } else if (Group != nullptr) {
    EventGroup = *Group;
  }
  auto Record = std::make_unique<EventRecord>();
  Record->Type = Type;
  Record->NotifyTpl = NotifyTpl;
  Record->NotifyFunction = (Wait || Signal) ? Notify : nullptr;
  Record->NotifyContext = const_cast<VOID *>(Context);
  Record->Group = EventGroup;
  Record->OwnerImage = Notify != nullptr ? ImageFromAddress(reinterpret_cast<const void *>(Notify)) : nullptr;
  if (Record->OwnerImage == nullptr) {
    Record->OwnerImage = CurrentImage();
  }
  *Event = Record.get();
  LiveEvents.push_back(Record.get());
  Events.push_back(std::move(Record));
  return EFI_SUCCESS;
}

EFI_STATUS Platform::Impl::CloseEvent(EFI_EVENT Event) {
  EventRecord *Record = ValidEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (auto &Queue : NotifyQueues) {
    Queue.erase(std::remove(Queue.begin(), Queue.end(), Record), Queue.end());
  }
  Registrations.erase(std::remove_if(Registrations.begin(), Registrations.end(),
                                     [&](const auto &Entry) { return Entry->Event == Record; }),
                      Registrations.end());
  LiveEvents.erase(std::remove(LiveEvents.begin(), LiveEvents.end(), Record), LiveEvents.end());
  Record->Signature = 0;
  DisarmTimer(Record);
  return EFI_SUCCESS;
}

void Platform::Impl::SignalOne(EventRecord *Event) {
  if (Event->Signaled) {
    return;
  }
  Event->Signaled = true;
  if ((Event->Type & EVT_NOTIFY_SIGNAL) != 0 && !Event->Queued) {
    Event->Queued = true;
    NotifyQueues[Event->NotifyTpl].push_back(Event);
  }
}

void Platform::Impl::SignalGroup(const EFI_GUID &Group) {
  // A copy: notifications may create or close events.
  std::vector<EventRecord *> Members = LiveEvents;
  for (EventRecord *Member : Members) {
    if (Member->Group && SameGuid(*Member->Group, Group) && ValidEvent(Member) != nullptr) {
      SignalOne(Member);
    }
  }
}

EFI_STATUS Platform::Impl::SignalEvent(EventRecord *Event) {
  if (ValidEvent(Event) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_TPL Old = RaiseTpl(TPL_HIGH_LEVEL);
  if (Event->Group) {
    SignalGroup(*Event->Group);
  } else {
    SignalOne(Event);
  }
  RestoreTpl(Old);
  return EFI_SUCCESS;
}

EFI_TPL Platform::Impl::RaiseTpl(EFI_TPL NewTpl) {
  EFI_TPL Old = CurrentTpl;
  if (NewTpl > TPL_HIGH_LEVEL || NewTpl < Old) {
    Error("TPL", "RaiseTPL(" + std::to_string(NewTpl) + ") at TPL " + std::to_string(Old) +
                     ": not a raise, ignored");
    return Old;
  }
  if (NewTpl >= TPL_HIGH_LEVEL && Old < TPL_HIGH_LEVEL) {
    InterruptsEnabled = false;
  }
  CurrentTpl = NewTpl;
  return Old;
}

void Platform::Impl::DispatchNotifications(EFI_TPL Above) {
  while (true) {
    EFI_TPL Tpl = TPL_HIGH_LEVEL;
    while (Tpl > Above && NotifyQueues[Tpl].empty()) {
      Tpl--;
    }
    if (Tpl <= Above) {
      return;
    }
    EventRecord *Event = NotifyQueues[Tpl].front();
    NotifyQueues[Tpl].pop_front();
    Event->Queued = false;
    if ((Event->Type & EVT_NOTIFY_SIGNAL) != 0) {
      Event->Signaled = false;
    }
    CurrentTpl = Tpl;
    InterruptsEnabled = Tpl < TPL_HIGH_LEVEL;
    ImageScope Scope(*this, Event->OwnerImage);
    struct Notifying {
      EFI_TPL &Level;
      EFI_TPL Outer;
      Notifying(EFI_TPL &State, EFI_TPL Tpl) : Level(State), Outer(State) { Level = Tpl; }
      ~Notifying() { Level = Outer; } // also when the notification halts
    } Inside{NotifyingTpl, Tpl};
    Event->NotifyFunction(Event, Event->NotifyContext);
  }
}

void Platform::Impl::RestoreTpl(EFI_TPL OldTpl) {
  if (OldTpl > CurrentTpl) {
    Error("TPL", "RestoreTPL(" + std::to_string(OldTpl) + ") at TPL " + std::to_string(CurrentTpl) +
                     ": not a restore, ignored");
    return;
  }
  if (OldTpl < TPL_HIGH_LEVEL && CurrentTpl >= TPL_HIGH_LEVEL) {
    // The timer interrupt held off while the TPL was high is taken now.
    CurrentTpl = TPL_HIGH_LEVEL;
    FireDueTimers();
  }
  DispatchNotifications(OldTpl);
  CurrentTpl = OldTpl;
  InterruptsEnabled = OldTpl < TPL_HIGH_LEVEL;
}

bool Platform::Impl::TimersCanFire() const {
  return CurrentTpl < TPL_HIGH_LEVEL && InterruptsEnabled && !ExitingBootServices;
}

void Platform::Impl::ArmTimer(EventRecord *Event, uint64_t DueNs) {
  DisarmTimer(Event);
  Event->TimerDueNs = DueNs;
  Event->TimerOrder = NextDueOrder++;
  DueQueue.emplace(DueKey{DueNs, Event->TimerOrder}, DueItem{Event, {}});
}

void Platform::Impl::DisarmTimer(EventRecord *Event) {
  if (Event->TimerDueNs != 0) {
    DueQueue.erase(DueKey{Event->TimerDueNs, Event->TimerOrder});
  }
  Event->TimerDueNs = 0;
}

void Platform::Impl::Schedule(uint64_t DueNs, std::function<void()> Work) {
  DueQueue.emplace(DueKey{DueNs, NextDueOrder++}, DueItem{nullptr, std::move(Work)});
}

// Every timer due by now fires at once, in the order of the queue, as one timer interrupt
// would take them; their notifications run when the TPL drops.
void Platform::Impl::FireDueTimers() {
  if (ExitingBootServices) {
    return;
  }
  std::vector<EventRecord *> Due;
  for (auto Item = DueQueue.begin(); Item != DueQueue.end() && Item->first.DueNs <= NowNs; ++Item) {
    if (Item->second.Timer != nullptr) {
      Due.push_back(Item->second.Timer);
    }
  }
  for (EventRecord *Event : Due) {
    const uint64_t WasDueNs = Event->TimerDueNs;
    DisarmTimer(Event);
    if (Event->TimerPeriodNs != 0) {
      ArmTimer(Event, std::max(SaturatingAdd(WasDueNs, Event->TimerPeriodNs), NowNs + 1));
    }
    if (Event->Group) {
      SignalGroup(*Event->Group);
    } else {
      SignalOne(Event);
    }
  }
}

// The timer interrupt goes with boot services: a timer still armed once the exit-boot-services
// notifications have run is left by firmware that forgot to cancel it, and never fires.
void Platform::Impl::ReportArmedTimers() {
  for (EventRecord *Event : LiveEvents) {
    if (Event->TimerDueNs != 0 && Event->NotifyFunction != nullptr) {
      ErrorOf("timer after ExitBootServices", ImageNameOf(Event->OwnerImage),
              "timer event still armed when boot services ended; it no longer fires");
    }
    DisarmTimer(Event);
    Event->TimerPeriodNs = 0;
  }
}

// The first item that can run now: model work always, a timer only while the timer interrupt
// can be taken.
std::map<DueKey, DueItem>::iterator Platform::Impl::NextDue() {
  auto Item = DueQueue.begin();
  if (!TimersCanFire()) {
    while (Item != DueQueue.end() && Item->second.Timer != nullptr) {
      ++Item;
    }
  }
  return Item;
}

bool Platform::Impl::RunNextDue(uint64_t Until) {
  auto Item = NextDue();
  if (Item == DueQueue.end() || Item->first.DueNs > Until) {
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
  DueQueue.erase(Item);
  Work();
  return true;
}

// The clock stops at every item due on the way, so that work and timers see the time they were
// due at, and what they schedule is anchored there.
void Platform::Impl::Advance(uint64_t Nanoseconds) {
  const uint64_t Target = SaturatingAdd(NowNs, Nanoseconds);
  while (RunNextDue(Target)) {
    CheckProgress(); // model work that keeps scheduling work due now
  }
  MoveClockTo(Target);
}

namespace {

// The clock's move through the work and timers due on the way, charged to Bucket of Account.
[[gnu::noinline]] void SpendThroughDue(Platform::Impl &Core, TimeAccount &Account,
                                       uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds) {
  struct Restore {
    Spender &Slot;
    Spender Saved;
    ~Restore() { Slot = Saved; }
  } Back{Core.Charged, Core.Charged};
  Core.Charged = {&Account, Bucket};
  Core.Advance(Nanoseconds);
}

} // namespace

void Platform::Impl::Spend(TimeAccount &Account, uint64_t TimeAccount::*Bucket, uint64_t Nanoseconds) {
  const uint64_t Target = SaturatingAdd(NowNs, Nanoseconds);
  if (!DueQueue.empty() && DueQueue.begin()->first.DueNs <= Target) {
    SpendThroughDue(*this, Account, Bucket, Nanoseconds);
    return;
  }
  // Nothing runs on the way (an access, mostly): the one step is the account's, as MoveClockTo
  // would charge it with the account as the spender.
  if (Target > NowNs) {
    Account.*Bucket += Target - NowNs;
    NowNs = Target;
    Watchdog->ClockMoved(NowNs);
  }
}

void Platform::Impl::Stall(TimeAccount &Account, uint64_t Microseconds) {
  constexpr uint64_t kNsPerUs = 1000;
  Account.StallsByUs[Microseconds]++;
  Spend(Account, &TimeAccount::StallNs,
        Microseconds > UINT64_MAX / kNsPerUs ? UINT64_MAX : Microseconds * kNsPerUs);
}

void Platform::Impl::MoveClockTo(uint64_t TimeNs) {
  if (TimeNs <= NowNs) {
    return;
  }
  const uint64_t Step = TimeNs - NowNs;
  if (Charged.Account != nullptr) {
    Charged.Account->*Charged.Bucket += Step;
  } else {
    CurrentAccount().ServiceNs += Step;
  }
  NowNs = TimeNs;
  Watchdog->ClockMoved(NowNs);
}

namespace {

EFI_STATUS CheckOne(Platform::Impl &Core, EFI_EVENT Event, TimeAccount &Caller) {
  EventRecord *Record = Core.ValidEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
    return Core.EventTypeError("CheckEvent or WaitForEvent on an EVT_NOTIFY_SIGNAL event");
  }
  Core.Spend(Caller, &TimeAccount::WaitNs, kCheckEventCostNs);
  Core.CheckWatchdog();
  if (!Record->Signaled && (Record->Type & EVT_NOTIFY_WAIT) != 0 && !Record->Queued) {
    // A wait event's notification runs to find out whether the event has happened.
    EFI_TPL Old = Core.RaiseTpl(TPL_HIGH_LEVEL);
    Record->Queued = true;
    Core.NotifyQueues[Record->NotifyTpl].push_back(Record);
    Core.RestoreTpl(Old);
  }
  if (Core.ValidEvent(Event) != nullptr && Record->Signaled) {
    Record->Signaled = false;
    return EFI_SUCCESS;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                              VOID *NotifyContext, EFI_EVENT *Event) {
  CORE_BOOT_SERVICE("CreateEvent");
  return Core.CreateEvent(Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
}

EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                const VOID *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Event) {
  CORE_BOOT_SERVICE("CreateEventEx");
  return Core.CreateEvent(Type, NotifyTpl, NotifyFunction, NotifyContext, EventGroup, Event);
}

EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("CloseEvent");
  return Core.CloseEvent(Event);
}

EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("SignalEvent");
  return Core.SignalEvent(Core.ValidEvent(Event));
}

EFI_STATUS EFIAPI CheckEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("CheckEvent");
  return CheckOne(Core, Event, Core.AccountOf(__builtin_return_address(0)));
}

EFI_STATUS EFIAPI WaitForEvent(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index) {
  CORE_BOOT_SERVICE("WaitForEvent");
  if (NumberOfEvents == 0 || Event == nullptr || Index == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Core.CurrentTpl != TPL_APPLICATION) {
    return EFI_UNSUPPORTED;
  }
  TimeAccount &Caller = Core.AccountOf(__builtin_return_address(0));
  while (true) {
    for (UINTN Number = 0; Number < NumberOfEvents; Number++) {
      EFI_STATUS Status = CheckOne(Core, Event[Number], Caller);
      if (Status != EFI_NOT_READY) {
        *Index = Number;
        return Status;
      }
    }
    // Only a timer or a device's work can change what the events report: sleep until the
    // next one falls due, or let the watchdog end a wait that nothing will ever end.
    auto Next = Core.NextDue();
    const uint64_t Step = Next == Core.DueQueue.end()      ? Core.Options.WatchdogNs + 1
                          : Next->first.DueNs > Core.NowNs ? Next->first.DueNs - Core.NowNs
                                                           : 0;
    Core.Spend(Caller, &TimeAccount::WaitNs, Step);
    Core.CheckWatchdog();
  }
}

EFI_STATUS EFIAPI SetTimer(EFI_EVENT Event, EFI_TIMER_DELAY Type, UINT64 TriggerTime) {
  CORE_BOOT_SERVICE("SetTimer");
  EventRecord *Record = Core.ValidEvent(Event);
  if (Record == nullptr || Type > TimerRelative) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Record->Type & EVT_TIMER) == 0) {
    return Core.EventTypeError("SetTimer on an event without EVT_TIMER");
  }
  const uint64_t DelayNs = TriggerTimeNs(TriggerTime);
  switch (Type) {
  case TimerCancel:
    Core.DisarmTimer(Record);
    Record->TimerPeriodNs = 0;
    break;
  case TimerRelative:
    Record->TimerPeriodNs = 0;
    Core.ArmTimer(Record, SaturatingAdd(Core.NowNs, DelayNs != 0 ? DelayNs : kTimerTickNs));
    break;
  case TimerPeriodic:
    Record->TimerPeriodNs = DelayNs != 0 ? DelayNs : kTimerTickNs;
    Core.ArmTimer(Record, SaturatingAdd(Core.NowNs, Record->TimerPeriodNs));
    break;
  }
  return EFI_SUCCESS;
}

EFI_TPL EFIAPI RaiseTPL(EFI_TPL NewTpl) {
  Platform::Impl &Core = host::Core();
  return Core.BootServiceAllowed("RaiseTPL") ? Core.RaiseTpl(NewTpl) : Core.CurrentTpl;
}

VOID EFIAPI RestoreTPL(EFI_TPL OldTpl) {
  Platform::Impl &Core = host::Core();
  if (!Core.BootServiceAllowed("RestoreTPL")) {
    return;
  }
  // A notification runs at its TPL to the end: going below it would let lower notifications
  // and the caller's code run inside it.
  if (OldTpl < Core.NotifyingTpl) {
    Core.Error("TPL", "RestoreTPL(" + std::to_string(OldTpl) + ") inside a notification called at TPL " +
                          std::to_string(Core.NotifyingTpl) + ": below it, kept at the notification's TPL");
    OldTpl = Core.NotifyingTpl;
  }
  Core.RestoreTpl(OldTpl);
}

} // namespace

void Platform::Impl::FillEventServices() {
  BootServices.CreateEvent = host::CreateEvent;
  BootServices.CreateEventEx = host::CreateEventEx;
  BootServices.CloseEvent = host::CloseEvent;
  BootServices.SignalEvent = host::SignalEvent;
  BootServices.CheckEvent = host::CheckEvent;
  BootServices.WaitForEvent = host::WaitForEvent;
  BootServices.SetTimer = host::SetTimer;
  BootServices.RaiseTPL = host::RaiseTPL;
  BootServices.RestoreTPL = host::RestoreTPL;
}

} // namespace host
