// Events_, event groups, timers on the virtual clock, and task priority levels with
// notification dispatch (higher TPL first, first-in first-out within one TPL).
#include "CoreEvents.h"

#include "CoreInternal.h"
#include "FirmwareCall.h"

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

EFI_STATUS CoreEvents::EventTypeError(const std::string &Text) {
  Report_.Error("event type", Text + ": refused");
  return EFI_INVALID_PARAMETER;
}

EventRecord *CoreEvents::ValidEvent(EFI_EVENT Event) const {
  auto *Record = static_cast<EventRecord *>(Event);
  if (Record == nullptr || std::find(LiveEvents_.begin(), LiveEvents_.end(), Record) == LiveEvents_.end()) {
    return nullptr;
  }
  return Record;
}

EFI_STATUS CoreEvents::CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify,
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
  Record->OwnerImage =
      Notify != nullptr ? Images_.ImageFromAddress(reinterpret_cast<const void *>(Notify)) : nullptr;
  if (Record->OwnerImage == nullptr) {
    Record->OwnerImage = Images_.CurrentImage();
  }
  *Event = Record.get();
  LiveEvents_.push_back(Record.get());
  Events_.push_back(std::move(Record));
  return EFI_SUCCESS;
}

EFI_STATUS CoreEvents::CloseEvent(EFI_EVENT Event) {
  EventRecord *Record = ValidEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (auto &Queue : NotifyQueues_) {
    Queue.erase(std::remove(Queue.begin(), Queue.end(), Record), Queue.end());
  }
  Handles_.ForgetEvent(Record);
  LiveEvents_.erase(std::remove(LiveEvents_.begin(), LiveEvents_.end(), Record), LiveEvents_.end());
  Record->Signature = 0;
  DisarmTimer(Record);
  return EFI_SUCCESS;
}

void CoreEvents::QueueNotify(EventRecord *Event) {
  Event->Queued = true;
  NotifyQueues_[Event->NotifyTpl].push_back(Event);
}

void CoreEvents::SignalOne(EventRecord *Event) {
  if (Event->Signaled) {
    return;
  }
  Event->Signaled = true;
  if ((Event->Type & EVT_NOTIFY_SIGNAL) != 0 && !Event->Queued) {
    Event->Queued = true;
    NotifyQueues_[Event->NotifyTpl].push_back(Event);
  }
}

void CoreEvents::SignalGroup(const EFI_GUID &Group) {
  // A copy: notifications may create or close events.
  std::vector<EventRecord *> Members = LiveEvents_;
  for (EventRecord *Member : Members) {
    if (Member->Group && CompareGuidValues(*Member->Group, Group) && ValidEvent(Member) != nullptr) {
      SignalOne(Member);
    }
  }
}

EFI_STATUS CoreEvents::SignalEvent(EventRecord *Event) {
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

EFI_TPL CoreEvents::RaiseTpl(EFI_TPL NewTpl) {
  EFI_TPL Old = CurrentTpl_;
  if (NewTpl > TPL_HIGH_LEVEL || NewTpl < Old) {
    Report_.Error("TPL", "RaiseTPL(" + std::to_string(NewTpl) + ") at TPL " + std::to_string(Old) +
                             ": not a raise, ignored");
    return Old;
  }
  if (NewTpl >= TPL_HIGH_LEVEL && Old < TPL_HIGH_LEVEL) {
    InterruptsEnabled_ = false;
  }
  CurrentTpl_ = NewTpl;
  return Old;
}

void CoreEvents::DispatchNotifications(EFI_TPL Above) {
  while (true) {
    EFI_TPL Tpl = TPL_HIGH_LEVEL;
    while (Tpl > Above && NotifyQueues_[Tpl].empty()) {
      Tpl--;
    }
    if (Tpl <= Above) {
      return;
    }
    EventRecord *Event = NotifyQueues_[Tpl].front();
    NotifyQueues_[Tpl].pop_front();
    Event->Queued = false;
    if ((Event->Type & EVT_NOTIFY_SIGNAL) != 0) {
      Event->Signaled = false;
    }
    CurrentTpl_ = Tpl;
    InterruptsEnabled_ = Tpl < TPL_HIGH_LEVEL;
    ImageScope Scope(Images_, Event->OwnerImage);
    struct Notifying {
      EFI_TPL &Level;
      EFI_TPL Outer;
      Notifying(EFI_TPL &State, EFI_TPL Tpl) : Level(State), Outer(State) { Level = Tpl; }
      ~Notifying() { Level = Outer; } // also when the notification halts
    } Inside{NotifyingTpl_, Tpl};
    cpu::CallFirmware(Images_.Processor(), Event->NotifyFunction, Event, Event->NotifyContext);
  }
}

void CoreEvents::RestoreTpl(EFI_TPL OldTpl) {
  if (OldTpl > CurrentTpl_) {
    Report_.Error("TPL", "RestoreTPL(" + std::to_string(OldTpl) + ") at TPL " + std::to_string(CurrentTpl_) +
                             ": not a restore, ignored");
    return;
  }
  if (OldTpl < TPL_HIGH_LEVEL && CurrentTpl_ >= TPL_HIGH_LEVEL) {
    // The timer interrupt held off while the TPL was high is taken now.
    CurrentTpl_ = TPL_HIGH_LEVEL;
    FireDueTimers();
  }
  DispatchNotifications(OldTpl);
  CurrentTpl_ = OldTpl;
  InterruptsEnabled_ = OldTpl < TPL_HIGH_LEVEL;
}

bool CoreEvents::TimersCanFire() const {
  return CurrentTpl_ < TPL_HIGH_LEVEL && InterruptsEnabled_ && !ExitingBootServices_;
}

void CoreEvents::ArmTimer(EventRecord *Event, uint64_t DueNs) {
  DisarmTimer(Event);
  Event->TimerDueNs = DueNs;
  Event->TimerOrder = NextDueOrder_++;
  DueQueue_.emplace(DueKey{DueNs, Event->TimerOrder}, DueItem{Event, {}});
}

void CoreEvents::DisarmTimer(EventRecord *Event) {
  if (Event->TimerDueNs != 0) {
    DueQueue_.erase(DueKey{Event->TimerDueNs, Event->TimerOrder});
  }
  Event->TimerDueNs = 0;
}

// Every timer due by now fires at once, in the order of the queue, as one timer interrupt
// would take them; their notifications run when the TPL drops.
void CoreEvents::FireDueTimers() {
  if (ExitingBootServices_) {
    return;
  }
  std::vector<EventRecord *> Due;
  for (auto Item = DueQueue_.begin(); Item != DueQueue_.end() && Item->first.DueNs <= NowNs_; ++Item) {
    if (Item->second.Timer != nullptr) {
      Due.push_back(Item->second.Timer);
    }
  }
  for (EventRecord *Event : Due) {
    const uint64_t WasDueNs = Event->TimerDueNs;
    DisarmTimer(Event);
    if (Event->TimerPeriodNs != 0) {
      ArmTimer(Event, std::max(SaturatingAdd(WasDueNs, Event->TimerPeriodNs), NowNs_ + 1));
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
void CoreEvents::ReportArmedTimers() {
  for (EventRecord *Event : LiveEvents_) {
    if (Event->TimerDueNs != 0 && Event->NotifyFunction != nullptr) {
      Report_.ErrorOf("timer after ExitBootServices", Images_.ImageNameOf(Event->OwnerImage),
                      "timer event still armed when boot services ended; it no longer fires");
    }
    DisarmTimer(Event);
    Event->TimerPeriodNs = 0;
  }
}

namespace {

EFI_STATUS CheckOne(Platform::Impl &Core, EFI_EVENT Event, TimeAccount &Caller) {
  EventRecord *Record = Core.Events.ValidEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
    return Core.Events.EventTypeError("CheckEvent or WaitForEvent on an EVT_NOTIFY_SIGNAL event");
  }
  Core.Events.Spend(Caller, &TimeAccount::WaitNs, kCheckEventCostNs);
  Core.Images.CheckWatchdog();
  if (!Record->Signaled && (Record->Type & EVT_NOTIFY_WAIT) != 0 && !Record->Queued) {
    // A wait event's notification runs to find out whether the event has happened.
    EFI_TPL Old = Core.Events.RaiseTpl(TPL_HIGH_LEVEL);
    Core.Events.QueueNotify(Record);
    Core.Events.RestoreTpl(Old);
  }
  if (Core.Events.ValidEvent(Event) != nullptr && Record->Signaled) {
    Record->Signaled = false;
    return EFI_SUCCESS;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                              VOID *NotifyContext, EFI_EVENT *Event) {
  CORE_BOOT_SERVICE("CreateEvent");
  return Core.Events.CreateEvent(Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
}

EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                const VOID *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Event) {
  CORE_BOOT_SERVICE("CreateEventEx");
  return Core.Events.CreateEvent(Type, NotifyTpl, NotifyFunction, NotifyContext, EventGroup, Event);
}

EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("CloseEvent");
  return Core.Events.CloseEvent(Event);
}

EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("SignalEvent");
  return Core.Events.SignalEvent(Core.Events.ValidEvent(Event));
}

EFI_STATUS EFIAPI CheckEvent(EFI_EVENT Event) {
  CORE_BOOT_SERVICE("CheckEvent");
  return CheckOne(Core, Event, Core.Events.AccountOf(Core.Images.CallerCode(__builtin_return_address(0))));
}

EFI_STATUS EFIAPI WaitForEvent(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index) {
  CORE_BOOT_SERVICE("WaitForEvent");
  if (NumberOfEvents == 0 || Event == nullptr || Index == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Core.Events.CurrentTpl() != TPL_APPLICATION) {
    return EFI_UNSUPPORTED;
  }
  TimeAccount &Caller = Core.Events.AccountOf(Core.Images.CallerCode(__builtin_return_address(0)));
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
    const std::optional<uint64_t> Next = Core.Events.NextDueNs();
    const uint64_t Now = Core.Events.NowNs();
    const uint64_t Step = !Next ? Core.Options.WatchdogNs + 1 : *Next > Now ? *Next - Now : 0;
    Core.Events.Spend(Caller, &TimeAccount::WaitNs, Step);
    Core.Images.CheckWatchdog();
  }
}

EFI_STATUS EFIAPI SetTimer(EFI_EVENT Event, EFI_TIMER_DELAY Type, UINT64 TriggerTime) {
  CORE_BOOT_SERVICE("SetTimer");
  EventRecord *Record = Core.Events.ValidEvent(Event);
  if (Record == nullptr || Type > TimerRelative) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Record->Type & EVT_TIMER) == 0) {
    return Core.Events.EventTypeError("SetTimer on an event without EVT_TIMER");
  }
  const uint64_t DelayNs = TriggerTimeNs(TriggerTime);
  switch (Type) {
  case TimerCancel:
    Core.Events.DisarmTimer(Record);
    Record->TimerPeriodNs = 0;
    break;
  case TimerRelative:
    Record->TimerPeriodNs = 0;
    Core.Events.ArmTimer(Record, SaturatingAdd(Core.Events.NowNs(), DelayNs != 0 ? DelayNs : kTimerTickNs));
    break;
  case TimerPeriodic:
    Record->TimerPeriodNs = DelayNs != 0 ? DelayNs : kTimerTickNs;
    Core.Events.ArmTimer(Record, SaturatingAdd(Core.Events.NowNs(), Record->TimerPeriodNs));
    break;
  }
  return EFI_SUCCESS;
}

EFI_TPL EFIAPI RaiseTPL(EFI_TPL NewTpl) {
  Platform::Impl &Core = host::Core();
  return Core.BootServiceAllowed("RaiseTPL") ? Core.Events.RaiseTpl(NewTpl) : Core.Events.CurrentTpl();
}

VOID EFIAPI RestoreTPL(EFI_TPL OldTpl) {
  Platform::Impl &Core = host::Core();
  if (!Core.BootServiceAllowed("RestoreTPL")) {
    return;
  }
  // A notification runs at its TPL to the end: going below it would let lower notifications
  // and the caller's code run inside it.
  if (OldTpl < Core.Events.NotifyingTpl()) {
    Core.Error("TPL", "RestoreTPL(" + std::to_string(OldTpl) + ") inside a notification called at TPL " +
                          std::to_string(Core.Events.NotifyingTpl()) +
                          ": below it, kept at the notification's TPL");
    OldTpl = Core.Events.NotifyingTpl();
  }
  Core.Events.RestoreTpl(OldTpl);
}

} // namespace

void CoreEvents::FillServices(EFI_BOOT_SERVICES &BootServices) {
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
