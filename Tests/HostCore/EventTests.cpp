// Events: groups, TPL ordering of notifications, timers on the virtual clock, the hand-over.
#include "CoreTestSupport.h"

#include <GcdMap.h>

#include <functional>
#include <string>

using namespace coretest;

namespace {

struct Trace {
  std::vector<std::string> Entries;
  EFI_BOOT_SERVICES *BS = nullptr;
};

struct Tagged {
  Trace *Log;
  std::string Tag;
};

VOID EFIAPI Record(EFI_EVENT Event, VOID *Context) {
  auto *Entry = static_cast<Tagged *>(Context);
  // The notification runs at its own TPL: RaiseTPL to the same level returns it.
  EFI_TPL Now = Entry->Log->BS->RaiseTPL(TPL_HIGH_LEVEL);
  Entry->Log->BS->RestoreTPL(Now);
  Entry->Log->Entries.push_back(Entry->Tag + "@" + std::to_string(Now));
}

class Events : public CoreTest {
protected:
  Events() { Log.BS = BS; }
  EFI_EVENT Make(UINT32 Type, EFI_TPL Tpl, Tagged &Context, const EFI_GUID *Group = nullptr) {
    EFI_EVENT Event = nullptr;
    EXPECT_EQ(BS->CreateEventEx(Type, Tpl, Record, &Context, Group, &Event), EFI_SUCCESS);
    return Event;
  }
  Trace Log;
};

TEST_F(Events, NotificationsRunByTplThenInSignalOrderWhenTheTplDrops) {
  Tagged C1{&Log, "callback1"};
  Tagged C2{&Log, "callback2"};
  Tagged N1{&Log, "notify1"};
  EFI_EVENT Callback1 = Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, C1);
  EFI_EVENT Notify1 = Make(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, N1);
  EFI_EVENT Callback2 = Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, C2);

  EFI_TPL Old = BS->RaiseTPL(TPL_NOTIFY);
  BS->SignalEvent(Callback1);
  BS->SignalEvent(Notify1);
  BS->SignalEvent(Callback2);
  EXPECT_TRUE(Log.Entries.empty()); // nothing runs at or below the current TPL
  BS->RestoreTPL(TPL_CALLBACK);
  EXPECT_EQ(Log.Entries, std::vector<std::string>{"notify1@16"});
  BS->RestoreTPL(Old);
  std::vector<std::string> Expected = {"notify1@16", "callback1@8", "callback2@8"};
  EXPECT_EQ(Log.Entries, Expected);

  // A signal at a lower TPL runs at once, and only once per signal.
  BS->SignalEvent(Callback1);
  BS->SignalEvent(Callback1);
  EXPECT_EQ(Log.Entries.size(), 5u);
}

TEST_F(Events, SignallingOneMemberSignalsTheWholeGroup) {
  constexpr EFI_GUID kGroup = {0xABCDEF01, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  Tagged First{&Log, "first"};
  Tagged Second{&Log, "second"};
  Tagged Outsider{&Log, "outsider"};
  EFI_EVENT Member = Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, First, &kGroup);
  Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Second, &kGroup);
  Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Outsider);
  BS->SignalEvent(Member);
  std::vector<std::string> Expected = {"first@8", "second@8"};
  EXPECT_EQ(Log.Entries, Expected);

  // A closed member no longer hears its group.
  BS->CloseEvent(Member);
  Log.Entries.clear();
  EFI_GUID Group = kGroup;
  int Table = 0;
  BS->InstallConfigurationTable(&Group, &Table); // a table install signals the group of its GUID
  EXPECT_EQ(Log.Entries, std::vector<std::string>{"second@8"});
  EXPECT_EQ(BS->SignalEvent(Member), EFI_INVALID_PARAMETER);
}

TEST_F(Events, CreateEventRejectsContradictions) {
  Board.ExpectError("event type: core: "); // each refusal is an error of the boot too
  Tagged Context{&Log, "x"};
  EFI_EVENT Event = nullptr;
  EXPECT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT, TPL_CALLBACK, Record, &Context, &Event),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, &Context, &Event),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL, Record, &Context, &Event),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Record, &Context, nullptr),
            EFI_INVALID_PARAMETER);
  constexpr EFI_GUID kGroup = EFI_EVENT_GROUP_EXIT_BOOT_SERVICES;
  EXPECT_EQ(BS->CreateEventEx(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, Record, &Context, &kGroup, &Event),
            EFI_INVALID_PARAMETER);
  // A plain event can be waited on but not notified.
  ASSERT_EQ(BS->CreateEvent(0, 0, nullptr, nullptr, &Event), EFI_SUCCESS);
  EXPECT_EQ(BS->CheckEvent(Event), EFI_NOT_READY);
  BS->SignalEvent(Event);
  EXPECT_EQ(BS->CheckEvent(Event), EFI_SUCCESS);
  EXPECT_EQ(BS->CheckEvent(Event), EFI_NOT_READY); // checking clears it
  EFI_EVENT Signal = Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Context);
  EXPECT_EQ(BS->CheckEvent(Signal), EFI_INVALID_PARAMETER);
}

TEST_F(Events, TimersFireAsVirtualTimeAdvances) {
  Tagged Once{&Log, "once"};
  Tagged Tick{&Log, "tick"};
  EFI_EVENT Relative = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Once);
  EFI_EVENT Periodic = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_NOTIFY, Tick);
  constexpr UINT64 kOneMs = 10'000; // in 100 ns units
  ASSERT_EQ(BS->SetTimer(Relative, TimerRelative, 5 * kOneMs), EFI_SUCCESS);
  ASSERT_EQ(BS->SetTimer(Periodic, TimerPeriodic, 2 * kOneMs), EFI_SUCCESS);

  BS->Stall(4'999);
  std::vector<std::string> Expected = {"tick@16", "tick@16"};
  EXPECT_EQ(Log.Entries, Expected);
  BS->Stall(1);
  Expected.push_back("once@8");
  EXPECT_EQ(Log.Entries, Expected);
  EXPECT_EQ(Board.VirtualTimeNs(), 5'000'000u);

  // Held off while the TPL is high, then delivered once it drops.
  EFI_TPL Old = BS->RaiseTPL(TPL_HIGH_LEVEL);
  Board.AdvanceTime(1'000'000);
  EXPECT_EQ(Log.Entries.size(), 3u);
  BS->RestoreTPL(Old);
  EXPECT_EQ(Log.Entries.size(), 4u);

  ASSERT_EQ(BS->SetTimer(Periodic, TimerCancel, 0), EFI_SUCCESS);
  Board.AdvanceTime(100'000'000);
  EXPECT_EQ(Log.Entries.size(), 4u);
  EXPECT_EQ(BS->SetTimer(nullptr, TimerRelative, 1), EFI_INVALID_PARAMETER);
}

TEST_F(Events, WaitForEventSleepsUntilTheTimerAndRefusesRaisedTpl) {
  Board.ExpectError("TPL: core: WaitForEvent called at TPL_CALLBACK, above TPL_APPLICATION");
  EFI_EVENT Timer = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &Timer), EFI_SUCCESS);
  ASSERT_EQ(BS->SetTimer(Timer, TimerRelative, 30'000'000), EFI_SUCCESS); // 3 s
  UINTN Index = 99;
  std::optional<host::Halt> Halted;
  // Three virtual seconds is more than the test watchdog allows one call.
  Halted = Board.Guard([&] { BS->WaitForEvent(1, &Timer, &Index); });
  EXPECT_TRUE(Halted.has_value());

  BS->CheckEvent(Timer);                                                 // the halted wait left it signalled
  ASSERT_EQ(BS->SetTimer(Timer, TimerRelative, 2'000'000), EFI_SUCCESS); // 200 ms
  const uint64_t Start = Board.VirtualTimeNs();
  Halted = Board.Guard([&] { EXPECT_EQ(BS->WaitForEvent(1, &Timer, &Index), EFI_SUCCESS); });
  EXPECT_FALSE(Halted.has_value());
  EXPECT_EQ(Index, 0u);
  EXPECT_GE(Board.VirtualTimeNs() - Start, 200'000'000u);

  EFI_TPL Old = BS->RaiseTPL(TPL_CALLBACK);
  EXPECT_EQ(BS->WaitForEvent(1, &Timer, &Index), EFI_UNSUPPORTED);
  BS->RestoreTPL(Old);
}

TEST_F(Events, ExitBootServicesSignalsItsGroupOnceThenRefusesBootServices) {
  Board.ExpectError("after ExitBootServices: core: ExitBootServices called: refused");
  Board.ExpectError("after ExitBootServices: core: AllocatePool called: refused");
  Tagged ByType{&Log, "type"};
  Tagged ByGroup{&Log, "group"};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_NOTIFY, Record, &ByType, &Event), EFI_SUCCESS);
  constexpr EFI_GUID kGroup = EFI_EVENT_GROUP_EXIT_BOOT_SERVICES;
  Make(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ByGroup, &kGroup);

  // The map key must be current.
  EXPECT_EQ(BS->ExitBootServices(Board.FirmwareHandle(), 0xDEAD), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Log.Entries.empty());

  EXPECT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  std::vector<std::string> Expected = {"type@16", "group@8"};
  EXPECT_EQ(Log.Entries, Expected);
  EXPECT_EQ(Board.SystemTable()->BootServices, nullptr);

  EXPECT_EQ(Board.ExitBootServices(), EFI_UNSUPPORTED);
  EXPECT_EQ(Log.Entries.size(), 2u);
  VOID *Buffer = nullptr;
  EXPECT_EQ(BS->AllocatePool(EfiBootServicesData, 16, &Buffer), EFI_UNSUPPORTED);
  EXPECT_TRUE(Board.Log().Contains("AllocatePool called: refused"));
}

// The OS owns the clock after the hand-over: a boot-time timer that was still armed must
// never call back into a driver whose boot services are gone.
TEST_F(Events, TimersStopWithExitBootServices) {
  Board.ExpectError("timer after ExitBootServices: firmware: timer event still armed");
  Board.ExpectError("after ExitBootServices: core: RaiseTPL called: refused");
  Board.ExpectError("after ExitBootServices: core: RestoreTPL called: refused");
  Tagged Tick{&Log, "tick"};
  Tagged Once{&Log, "once"};
  EFI_EVENT Periodic = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick);
  EFI_EVENT Relative = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_NOTIFY, Once);
  constexpr UINT64 kOneMs = 10'000; // in 100 ns units
  ASSERT_EQ(BS->SetTimer(Periodic, TimerPeriodic, kOneMs), EFI_SUCCESS);
  ASSERT_EQ(BS->SetTimer(Relative, TimerRelative, 50 * kOneMs), EFI_SUCCESS);
  Board.AdvanceTime(1'500'000);
  ASSERT_EQ(Log.Entries, std::vector<std::string>{"tick@8"});

  ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  Board.AdvanceTime(1'000'000'000);
  EFI_TPL Old = BS->RaiseTPL(TPL_HIGH_LEVEL);
  Board.AdvanceTime(1'000'000);
  BS->RestoreTPL(Old);
  EXPECT_EQ(Log.Entries, std::vector<std::string>{"tick@8"});
}

// Trigger times count 100 ns units; one too large for nanoseconds means "not for a long
// time", not a wrapped-round moment that is already due.
TEST_F(Events, FarTriggerTimesDoNotWrapRound) {
  Tagged Far{&Log, "far"};
  EFI_EVENT Relative = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Far);
  EFI_EVENT Periodic = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Far);
  ASSERT_EQ(BS->SetTimer(Relative, TimerRelative, 0x8000000000000001ull), EFI_SUCCESS); // *100 wraps to 100
  ASSERT_EQ(BS->SetTimer(Periodic, TimerPeriodic, UINT64_MAX / 50), EFI_SUCCESS);
  Board.AdvanceTime(10'000'000);
  EXPECT_TRUE(Log.Entries.empty());
}

struct Converted {
  EFI_RUNTIME_SERVICES *RT;
  VOID *Pointer;
  VOID *Null;
  EFI_STATUS NullStatus;
  EFI_STATUS NullOptionalStatus;
};

VOID EFIAPI ConvertOnChange(EFI_EVENT Event, VOID *Context) {
  auto *State = static_cast<Converted *>(Context);
  State->RT->ConvertPointer(0, &State->Pointer);
  State->NullStatus = State->RT->ConvertPointer(0, &State->Null);
  State->NullOptionalStatus = State->RT->ConvertPointer(EFI_OPTIONAL_PTR, &State->Null);
}

TEST_F(Events, VirtualAddressChangeConvertsPointersByTheOffset) {
  Board.ExpectError("ConvertPointer: core: called before SetVirtualAddressMap");
  // The OS maps what the memory map calls runtime: here the platform's runtime MMIO.
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x10511000, 0x1000,
                                       EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  ASSERT_EQ(Board.Gcd().SetMemorySpaceAttributes(0x10511000, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  Converted State{RT, reinterpret_cast<VOID *>(0x10511000), nullptr, EFI_SUCCESS, EFI_SUCCESS};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE, TPL_NOTIFY, ConvertOnChange, &State, &Event),
            EFI_SUCCESS);
  VOID *Early = State.Pointer;
  EXPECT_EQ(RT->ConvertPointer(0, &Early), EFI_UNSUPPORTED);
  EXPECT_EQ(Board.SetVirtualAddressMap(0x1000), EFI_UNSUPPORTED); // only after ExitBootServices

  ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  constexpr int64_t kOffset = 0x7F0000000000;
  ASSERT_EQ(Board.SetVirtualAddressMap(kOffset), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uint64_t>(State.Pointer), 0x10511000u + kOffset);
  EXPECT_EQ(State.NullStatus, EFI_INVALID_PARAMETER);
  EXPECT_EQ(State.NullOptionalStatus, EFI_SUCCESS);
  EXPECT_EQ(State.Null, nullptr);
  EXPECT_EQ(RT->ConvertPointer(0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Board.SetVirtualAddressMap(kOffset), EFI_UNSUPPORTED);
}

// Only the combinations of type bits UEFI lists make an event.
TEST_F(Events, CreateEventAcceptsOnlyTheListedTypes) {
  Board.ExpectError("event type: core: "); // each refusal is an error of the boot too
  Tagged Context{&Log, "x"};
  const struct {
    UINT32 Type;
    EFI_STATUS Expected;
  } Cases[] = {
      {EVT_TIMER, EFI_SUCCESS},
      {EVT_TIMER | EVT_NOTIFY_WAIT, EFI_SUCCESS},
      {EVT_RUNTIME | EVT_NOTIFY_SIGNAL, EFI_SUCCESS},
      {EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_SIGNAL, EFI_SUCCESS},
      {EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE, EFI_SUCCESS},
      {EVT_RUNTIME, EFI_INVALID_PARAMETER},
      {EVT_RUNTIME | EVT_NOTIFY_WAIT, EFI_INVALID_PARAMETER},
      {0x00000200 | EVT_NOTIFY_WAIT, EFI_INVALID_PARAMETER},
      {0x20000000, EFI_INVALID_PARAMETER},
      {EVT_NOTIFY_WAIT | 0x00000001, EFI_INVALID_PARAMETER},
  };
  for (const auto &Case : Cases) {
    EFI_EVENT Event = nullptr;
    EXPECT_EQ(BS->CreateEvent(Case.Type, TPL_CALLBACK, Record, &Context, &Event), Case.Expected)
        << std::hex << Case.Type;
  }
}

// A service called above the highest TPL UEFI allows for it, and a RaiseTPL that lowers or a
// RestoreTPL that raises, are errors of the boot.
TEST_F(Events, TplMisuseIsAnError) {
  EFI_GUID Guid = kGuidA;
  CHAR16 Name[] = u"Any";
  VOID *Buffer = nullptr;
  const struct {
    EFI_TPL Tpl;
    std::function<void()> Call;
    std::string Error;
  } Cases[] = {
      {TPL_HIGH_LEVEL, [&] { BS->AllocatePool(EfiBootServicesData, 8, &Buffer); },
       "AllocatePool called at TPL_HIGH_LEVEL, above TPL_NOTIFY"},
      {TPL_HIGH_LEVEL,
       [&] {
         VOID *Interface;
         BS->LocateProtocol(&Guid, nullptr, &Interface);
       },
       "LocateProtocol called at TPL_HIGH_LEVEL, above TPL_NOTIFY"},
      {TPL_NOTIFY, [&] { BS->ConnectController(Board.FirmwareHandle(), nullptr, nullptr, FALSE); },
       "ConnectController called at TPL_NOTIFY, above TPL_CALLBACK"},
      {TPL_NOTIFY,
       [&] {
         UINTN Size = 0;
         RT->GetVariable(Name, &Guid, nullptr, &Size, nullptr);
       },
       "GetVariable called at TPL_NOTIFY, above TPL_CALLBACK"},
      {TPL_CALLBACK,
       [&] {
         EFI_HANDLE Image;
         Board.LoadModule("CoreTestCounter", &Image);
         BS->StartImage(Image, nullptr, nullptr);
       },
       "StartImage called at TPL_CALLBACK, above TPL 7"},
      {TPL_NOTIFY, [&] { BS->RaiseTPL(TPL_CALLBACK); }, "RaiseTPL(8) at TPL 16: not a raise"},
      {TPL_CALLBACK, [&] { BS->RestoreTPL(TPL_NOTIFY); }, "RestoreTPL(16) at TPL 8: not a restore"},
  };
  for (const auto &Case : Cases) {
    EFI_TPL Old = BS->RaiseTPL(Case.Tpl);
    Case.Call();
    BS->RestoreTPL(Old);
    std::vector<std::string> Errors = Board.TakeErrors();
    ASSERT_EQ(Errors.size(), 1u) << Case.Error;
    EXPECT_EQ(Errors[0].rfind("TPL: core: " + Case.Error, 0), 0u) << Errors[0];
  }
  EXPECT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);
}

// From the start of ExitBootServices: no timer fires, the notifications must leave the memory
// map alone, a timer still armed after them is reported, and boot services are refused.
TEST_F(Events, ExitBootServicesRules) {
  Tagged Tick{&Log, "tick"};
  EFI_EVENT Timer = Make(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Tick);
  ASSERT_EQ(BS->SetTimer(Timer, TimerRelative, 1), EFI_SUCCESS);
  struct Notified {
    EFI_BOOT_SERVICES *BS;
    VOID *Buffer = nullptr;
  } Context{BS};
  EFI_EVENT Exit = nullptr;
  ASSERT_EQ(BS->CreateEvent(
                EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_NOTIFY,
                [](EFI_EVENT, VOID *Raw) {
                  auto *Self = static_cast<Notified *>(Raw);
                  Self->BS->Stall(10);
                  Self->BS->AllocatePool(EfiBootServicesData, 8, &Self->Buffer);
                },
                &Context, &Exit),
            EFI_SUCCESS);
  ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  EXPECT_TRUE(Log.Entries.empty()) << "the timer fired during ExitBootServices";
  VOID *After = nullptr;
  EXPECT_EQ(BS->AllocatePool(EfiBootServicesData, 8, &After), EFI_UNSUPPORTED);
  std::vector<std::string> Expected = {"exit-boot-services notification: firmware: AllocatePool inside the "
                                       "notification changes the memory map "
                                       "the OS loader holds",
                                       "timer after ExitBootServices: firmware: timer event still armed when "
                                       "boot services ended; it no longer fires",
                                       "after ExitBootServices: core: AllocatePool called: refused"};
  EXPECT_EQ(Board.TakeErrors(), Expected);
}

// ConvertPointer converts addresses inside runtime descriptors only, and only while the
// virtual-address-change notifications run.
TEST_F(Events, ConvertPointerOnlyInsideTheVirtualAddressChange) {
  constexpr uint64_t kRuntime = 0x10511000;
  constexpr uint64_t kBootOnly = 0x10540000;
  for (uint64_t Base : {kRuntime, kBootOnly}) {
    ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, Base, 0x1000,
                                         EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
              EFI_SUCCESS);
  }
  ASSERT_EQ(Board.Gcd().SetMemorySpaceAttributes(kRuntime, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  struct Pointers {
    EFI_RUNTIME_SERVICES *RT;
    VOID *Runtime = reinterpret_cast<VOID *>(kRuntime + 8);
    VOID *BootOnly = reinterpret_cast<VOID *>(kBootOnly);
    EFI_STATUS BootOnlyStatus = EFI_SUCCESS;
  } State{RT};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS->CreateEvent(
                EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE, TPL_NOTIFY,
                [](EFI_EVENT, VOID *Raw) {
                  auto *Self = static_cast<Pointers *>(Raw);
                  Self->RT->ConvertPointer(0, &Self->Runtime);
                  Self->BootOnlyStatus = Self->RT->ConvertPointer(0, &Self->BootOnly);
                },
                &State, &Event),
            EFI_SUCCESS);
  ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  ASSERT_EQ(Board.SetVirtualAddressMap(0x1000), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uint64_t>(State.Runtime), kRuntime + 8 + 0x1000);
  EXPECT_EQ(State.BootOnlyStatus, EFI_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<uint64_t>(State.BootOnly), kBootOnly);
  VOID *Late = State.Runtime;
  EXPECT_EQ(RT->ConvertPointer(0, &Late), EFI_UNSUPPORTED);
  EXPECT_EQ(Board.TakeErrors(),
            std::vector<std::string>{"ConvertPointer: core: called after SetVirtualAddressMap "
                                     "returned: only the virtual-address-change notifications "
                                     "may call it"});
}

// SetVirtualAddressMap takes a virtual address for every runtime range of the memory map and
// for nothing else.
TEST_F(Events, SetVirtualAddressMapNeedsExactlyTheRuntimeRanges) {
  constexpr uint64_t kRuntime = 0x10511000;
  ASSERT_EQ(Board.Gcd().AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, kRuntime, 0x2000,
                                       EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  ASSERT_EQ(Board.Gcd().SetMemorySpaceAttributes(kRuntime, 0x2000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
            EFI_SUCCESS);
  // The core's own runtime memory (the system table) needs its virtual address too.
  std::vector<EFI_MEMORY_DESCRIPTOR> CoreRuntime;
  for (EFI_MEMORY_DESCRIPTOR Entry : CurrentMemoryMap(BS)) {
    if ((Entry.Attribute & EFI_MEMORY_RUNTIME) != 0 && Entry.PhysicalStart != kRuntime) {
      CoreRuntime.push_back(Entry);
    }
  }
  ASSERT_FALSE(CoreRuntime.empty());
  ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
  constexpr uint64_t kVirtual = 0xFFFF000000000000ull;
  const EFI_MEMORY_DESCRIPTOR Mapped = {EfiMemoryMappedIO, kRuntime, kRuntime + kVirtual, 2,
                                        EFI_MEMORY_UC | EFI_MEMORY_RUNTIME};
  EFI_MEMORY_DESCRIPTOR Stranger = Mapped;
  Stranger.PhysicalStart = 0x20000000;
  std::vector<EFI_MEMORY_DESCRIPTOR> All = CoreRuntime;
  All.push_back(Mapped);
  for (EFI_MEMORY_DESCRIPTOR &Entry : All) {
    Entry.VirtualStart = Entry.PhysicalStart + kVirtual;
  }
  std::vector<EFI_MEMORY_DESCRIPTOR> AllAndStranger = All;
  AllAndStranger.push_back(Stranger);
  const struct {
    std::vector<EFI_MEMORY_DESCRIPTOR> Map;
    EFI_STATUS Expected;
  } Cases[] = {
      {{}, EFI_NO_MAPPING},
      {{Mapped}, EFI_NO_MAPPING},
      {AllAndStranger, EFI_NOT_FOUND},
      {All, EFI_SUCCESS},
  };
  for (const auto &Case : Cases) {
    std::vector<EFI_MEMORY_DESCRIPTOR> Map = Case.Map;
    EXPECT_EQ(RT->SetVirtualAddressMap(Map.size() * sizeof(EFI_MEMORY_DESCRIPTOR),
                                       sizeof(EFI_MEMORY_DESCRIPTOR), 1,
                                       Map.empty() ? &Stranger : Map.data()),
              Case.Expected)
        << Map.size();
  }
}

// The clock as one queue: model work and timers run in the order of their due times, at those
// times, ties in the order scheduled; work scheduled by work is anchored where the first was
// due; a wait sleeps to the next due item, so a device that completes later wakes it.
struct ClockCase {
  const char *What;
  std::function<void(host::Platform &, EFI_BOOT_SERVICES *, std::vector<std::string> &)> Run;
  std::vector<std::string> Expected; // "what@ns since the start"
};

struct ClockTrace {
  host::Platform *Board;
  std::vector<std::string> *Ran;
  uint64_t Start;
  std::string Tag;
  bool DeviceDone = false;
  void Note() { Ran->push_back(Tag + "@" + std::to_string(Board->VirtualTimeNs() - Start)); }
};

VOID EFIAPI NoteTimer(EFI_EVENT, VOID *Context) {
  static_cast<ClockTrace *>(Context)->Note();
}

// A wait event's check: it has happened once the device's work has run.
VOID EFIAPI CheckDevice(EFI_EVENT Event, VOID *Context) {
  if (static_cast<ClockTrace *>(Context)->DeviceDone) {
    host::Platform::Current().BootServices()->SignalEvent(Event);
  }
}

TEST_F(Events, TheClockRunsWorkAndTimersInOrderOfDueTime) {
  constexpr uint64_t kUs = 1000;
  constexpr UINT64 kUnitsPerUs = 10; // timer units of 100 ns
  auto Work = [](host::Platform &Board, uint64_t Us, ClockTrace &Trace) {
    Board.After(Us * kUs, [&Trace] { Trace.Note(); });
  };
  auto Timer = [](EFI_BOOT_SERVICES *BS, uint64_t Us, ClockTrace &Trace) {
    EFI_EVENT Event = nullptr;
    EXPECT_EQ(BS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, NoteTimer, &Trace, &Event),
              EFI_SUCCESS);
    EXPECT_EQ(BS->SetTimer(Event, TimerRelative, Us * kUnitsPerUs), EFI_SUCCESS);
  };
  const ClockCase Cases[] = {
      {"work due inside a long stall runs before a later timer, at its time",
       [&](host::Platform &Board, EFI_BOOT_SERVICES *BS, std::vector<std::string> &Ran) {
         ClockTrace T{&Board, &Ran, Board.VirtualTimeNs(), "timer"}, W{&Board, &Ran, T.Start, "work"};
         Timer(BS, 500, T);
         Work(Board, 10, W);
         BS->Stall(1000);
       },
       {"work@10000", "timer@500000"}},
      {"items due together run in the order scheduled",
       [&](host::Platform &Board, EFI_BOOT_SERVICES *BS, std::vector<std::string> &Ran) {
         const uint64_t Start = Board.VirtualTimeNs();
         ClockTrace A{&Board, &Ran, Start, "a"}, T{&Board, &Ran, Start, "timer"}, B{&Board, &Ran, Start, "b"};
         Work(Board, 100, A);
         Timer(BS, 100, T);
         Work(Board, 100, B);
         BS->Stall(200);
       },
       {"a@100000", "timer@100000", "b@100000"}},
      {"work scheduled by work is anchored at the time the first was due",
       [&](host::Platform &Board, EFI_BOOT_SERVICES *BS, std::vector<std::string> &Ran) {
         ClockTrace First{&Board, &Ran, Board.VirtualTimeNs(), "first"},
             Second{&Board, &Ran, First.Start, "second"};
         Board.After(30 * kUs, [&] {
           First.Note();
           Board.After(30 * kUs, [&] { Second.Note(); });
         });
         BS->Stall(100);
       },
       {"first@30000", "second@60000"}},
      {"a wait on a device that completes later wakes when it does",
       [&](host::Platform &Board, EFI_BOOT_SERVICES *BS, std::vector<std::string> &Ran) {
         ClockTrace Device{&Board, &Ran, Board.VirtualTimeNs(), "woke"};
         EFI_EVENT Done = nullptr;
         ASSERT_EQ(BS->CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, CheckDevice, &Device, &Done), EFI_SUCCESS);
         Board.After(2000 * kUs, [&] { Device.DeviceDone = true; });
         UINTN Index = 1;
         EXPECT_FALSE(Board.Guard([&] { EXPECT_EQ(BS->WaitForEvent(1, &Done, &Index), EFI_SUCCESS); }));
         Device.Note();
       },
       {"woke@2001000"}}, // the check after the device's work costs one more microsecond
  };
  for (const ClockCase &Case : Cases) {
    std::vector<std::string> Ran;
    Case.Run(Board, BS, Ran);
    EXPECT_EQ(Ran, Case.Expected) << Case.What;
  }
}

} // namespace
