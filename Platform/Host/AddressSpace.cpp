// The physical address space, the virtual clock's seams, the watchdog and halts: what
// firmware reaches through HostAbi.h.
#include "CoreInternal.h"

#include <HostAbi.h>

#include <dlfcn.h>

#include <cstdio>
#include <stdexcept>

namespace host {

namespace {

constexpr uint64_t kUnmappedAccessCostNs = 100;
constexpr uint64_t kTimeReadCostNs = 10; // reading the clock takes time, so a poll on it ends

uint64_t AllOnes(unsigned Width) {
  return Width >= 8 ? ~0ull : (1ull << (Width * 8)) - 1;
}

bool ValidWidth(unsigned Width) {
  return Width == 1 || Width == 2 || Width == 4 || Width == 8;
}

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

const Attachment *FindDevice(const Platform::Impl &Core, uint64_t Address, unsigned Width) {
  for (const Attachment &Entry : Core.Attachments) {
    if (Address >= Entry.Base && Address - Entry.Base + Width <= Entry.Size) {
      return &Entry;
    }
  }
  return nullptr;
}

// An access that faults on the real board: no device answers there, or the address is not a
// multiple of the access width (device memory takes no unaligned access on AArch64).
void RecordFault(Platform::Impl &Core, uint64_t Address, unsigned Width, bool IsWrite, uint64_t Value,
                 const char *Why) {
  Fault Entry{Address, Width, IsWrite, Value, Core.CurrentImageName(), Core.NowNs};
  Core.Faults.push_back(Entry);
  Core.Error("MMIO", std::string(IsWrite ? "write" : "read") + " of " + std::to_string(Width) + " bytes at " +
                         Hex(Address) + (IsWrite ? " (value " + Hex(Value) + ")" : std::string()) + ": " +
                         Why);
}

// The device an access reaches, or nullptr after recording why it faults.
const Attachment *Route(Platform::Impl &Core, uint64_t Address, unsigned Width, bool IsWrite,
                        uint64_t Value) {
  if (!ValidWidth(Width)) {
    RecordFault(Core, Address, Width, IsWrite, Value, "not an access width");
    return nullptr;
  }
  if (Address % Width != 0) {
    RecordFault(Core, Address, Width, IsWrite, Value, "unaligned");
    return nullptr;
  }
  const Attachment *Device = FindDevice(Core, Address, Width);
  if (Device == nullptr) {
    RecordFault(Core, Address, Width, IsWrite, Value, "no device there");
  }
  return Device;
}

// The image whose code is at Address, or the one running now.
std::string ImageAt(const Platform::Impl &Core, const void *Address) {
  EFI_HANDLE Image = Core.ImageFromAddress(Address);
  if (Image != nullptr) {
    auto Found = Core.Stats.find(Image);
    if (Found != Core.Stats.end()) {
      return Found->second.Name;
    }
  }
  return Core.CurrentImageName();
}

// A register access takes its time on the clock, charged to the code that made it.
void ChargeAccess(Platform::Impl &Core, const void *Caller, uint64_t CostNs) {
  TimeAccount &Account = Core.AccountOf(Caller);
  Account.RegisterAccesses++;
  Core.Spend(Account, &TimeAccount::RegisterNs, CostNs);
}

} // namespace

// Code outside the images belongs to the image running now; a cached image must still be loaded.
TimeAccount &Platform::Impl::AccountOf(const void *Caller) {
  auto Found = AccountCache.find(Caller);
  if (Found != AccountCache.end()) {
    if (Found->second.Image == nullptr) {
      return CurrentAccount();
    }
    if (Images.count(Found->second.Image) != 0) {
      return *Found->second.Account;
    }
  }
  const EFI_HANDLE Image = ImageFromAddress(Caller);
  if (Image == nullptr) {
    AccountCache[Caller] = {nullptr, nullptr};
    return CurrentAccount();
  }
  TimeAccount &Account = Accounts[Stats[Image].Name];
  AccountCache[Caller] = {Image, &Account};
  return Account;
}

TimeAccount &Platform::Impl::CurrentAccount() {
  auto &Cache = CurrentAccountCache;
  const EFI_HANDLE Top = Frames.empty() ? nullptr : Frames.back().Image;
  if (Cache.Account == nullptr || Cache.Generation != FrameGeneration || Cache.Image != Top) {
    Cache = {FrameGeneration, Top, &Accounts[CurrentImageName()]};
  }
  return *Cache.Account;
}

ImageScope::ImageScope(Platform::Impl &Core, EFI_HANDLE Image) : Core_(Core) {
  CallFrame Frame;
  Frame.Image = Image;
  auto Found = Core.Stats.find(Image);
  if (Image != nullptr && Found != Core.Stats.end()) {
    Frame.Name = Found->second.Name;
  }
  Frame.StartNs = Core.Frames.empty() ? Core.NowNs : Core.Frames.back().StartNs;
  Core.Frames.push_back(Frame);
  Core.FrameGeneration++;
  Depth_ = Core.Frames.size();
  // Time the image's code spends is its own, not that of a spender it was called from.
  Outer_ = Core.Charged;
  Core.Charged = {};
}

ImageScope::~ImageScope() {
  if (Core_.Frames.size() >= Depth_) {
    Core_.Frames.resize(Depth_ - 1);
    Core_.FrameGeneration++;
  }
  Core_.Charged = Outer_;
}

void Platform::Impl::CheckProgress() {
  if (Watchdog->Tripped() && !Frames.empty()) {
    Watchdog->Take();
    throw Halt(Watchdog->Reason(), CurrentImageName(), NowNs);
  }
}

void Platform::Impl::CheckWatchdog() {
  CheckProgress();
  if (Frames.empty() || Options.WatchdogNs == 0) {
    return;
  }
  const uint64_t Elapsed = NowNs - Frames.back().StartNs;
  if (Elapsed > Options.WatchdogNs) {
    throw Halt("watchdog: " + CurrentImageName() + " ran " + std::to_string(Elapsed / 1'000'000) +
                   " ms of virtual time without returning",
               CurrentImageName(), NowNs);
  }
}

std::optional<Halt> Platform::Impl::RunFrame(EFI_HANDLE Image, const std::string &Name,
                                             const std::function<void()> &Call) {
  const size_t Depth = Frames.size();
  const EFI_TPL SavedTpl = CurrentTpl;
  Frames.push_back({Image, Name, NowNs});
  FrameGeneration++;
  struct Unwind {
    Platform::Impl &Core;
    size_t Depth;
    Spender Outer;
    ~Unwind() {
      Core.Frames.resize(std::min(Core.Frames.size(), Depth));
      Core.FrameGeneration++;
      Core.Charged = Outer;
    }
  } Restore{*this, Depth, Charged};
  Charged = {};
  Watchdog->CallStarted();
  struct CallEnd {
    ProgressWatchdog &Watchdog;
    ~CallEnd() { Watchdog.CallEnded(); }
  } Ended{*Watchdog};
  try {
    Call();
  } catch (const Halt &Stopped) {
    Frames.resize(Depth);
    FrameGeneration++;
    CurrentTpl = SavedTpl;
    InterruptsEnabled = SavedTpl < TPL_HIGH_LEVEL;
    LogLine("halt: " + Stopped.Reason + " in " + Stopped.Image + " at " +
            std::to_string(Stopped.VirtualTimeNs) + " ns");
    return Stopped;
  }
  return std::nullopt;
}

void Platform::Attach(uint64_t Base, uint64_t Size, std::shared_ptr<MmioDevice> Device) {
  if (Size == 0 || Base + Size < Base || Device == nullptr) {
    throw std::invalid_argument("Attach: empty range or no device");
  }
  for (const Attachment &Entry : Impl_->Attachments) {
    if (Base < Entry.Base + Entry.Size && Entry.Base < Base + Size) {
      throw std::invalid_argument("Attach: " + Device->Name() + " at " + Hex(Base) + " overlaps " +
                                  Entry.Device->Name());
    }
  }
  Impl_->Attachments.push_back({Base, Size, std::move(Device)});
}

// Called from the Platform constructor so that the seams below are always linked into an
// executable that uses the platform: module shared objects resolve them at load time.
void KeepSeamsLinked() {
  static volatile const void *Seams[] = {reinterpret_cast<const void *>(&HostAbiMmioRead),
                                         reinterpret_cast<const void *>(&HostAbiMmioWrite),
                                         reinterpret_cast<const void *>(&HostAbiMemoryFence),
                                         reinterpret_cast<const void *>(&HostAbiStall),
                                         reinterpret_cast<const void *>(&HostAbiVirtualTimeNs),
                                         reinterpret_cast<const void *>(&HostAbiHalt),
                                         reinterpret_cast<const void *>(&HostAbiCpuOperation),
                                         reinterpret_cast<const void *>(&HostAbiInterruptsEnabled),
                                         reinterpret_cast<const void *>(&HostAbiReadSystemRegister)};
  (void)Seams;
}

} // namespace host

using host::Core;
using host::CoreAlive;

extern "C" UINT64 HostAbiMmioRead(UINT64 Address, UINT32 Width) {
  if (!CoreAlive()) {
    return host::AllOnes(Width);
  }
  host::Platform::Impl &Platform = Core();
  Platform.CheckWatchdog();
  const host::Attachment *Device = host::Route(Platform, Address, Width, false, 0);
  if (Device == nullptr) {
    host::ChargeAccess(Platform, __builtin_return_address(0), host::kUnmappedAccessCostNs);
    return host::AllOnes(Width);
  }
  // The device stays alive through the access even if a notification detaches nothing else.
  std::shared_ptr<host::MmioDevice> Model = Device->Device;
  uint64_t Value = Model->Read(Address - Device->Base, Width) & host::AllOnes(Width);
  host::ChargeAccess(Platform, __builtin_return_address(0), Model->AccessCostNs());
  return Value;
}

extern "C" VOID HostAbiMmioWrite(UINT64 Address, UINT32 Width, UINT64 Value) {
  if (!CoreAlive()) {
    return;
  }
  host::Platform::Impl &Platform = Core();
  Platform.CheckWatchdog();
  const host::Attachment *Device = host::Route(Platform, Address, Width, true, Value);
  if (Device == nullptr) {
    host::ChargeAccess(Platform, __builtin_return_address(0), host::kUnmappedAccessCostNs);
    return;
  }
  std::shared_ptr<host::MmioDevice> Model = Device->Device;
  Model->Write(Address - Device->Base, Width, Value & host::AllOnes(Width));
  host::ChargeAccess(Platform, __builtin_return_address(0), Model->AccessCostNs());
}

extern "C" VOID HostAbiMemoryFence(VOID) {
  if (CoreAlive()) {
    Core().CheckWatchdog();
  }
}

extern "C" VOID HostAbiStall(UINT64 Microseconds) {
  if (!CoreAlive()) {
    return;
  }
  host::Platform::Impl &Platform = Core();
  Platform.CheckWatchdog();
  Platform.Stall(Platform.AccountOf(__builtin_return_address(0)), Microseconds);
}

extern "C" UINT64 HostAbiVirtualTimeNs(VOID) {
  if (!CoreAlive()) {
    return 0;
  }
  host::Platform::Impl &Platform = Core();
  Platform.CheckWatchdog();
  Platform.Spend(Platform.AccountOf(__builtin_return_address(0)), &host::TimeAccount::ServiceNs,
                 host::kTimeReadCostNs);
  return Platform.NowNs;
}

extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  std::string Text = Reason != nullptr ? Reason : "halt";
  if (!CoreAlive()) {
    throw host::Halt(Text, "core", 0);
  }
  host::Platform::Impl &Platform = Core();
  throw host::Halt(Text, host::ImageAt(Platform, __builtin_return_address(0)), Platform.NowNs);
}

extern "C" VOID HostAbiCpuOperation(const CHAR8 *Operation) {
  if (!CoreAlive() || Operation == nullptr) {
    return;
  }
  host::Platform::Impl &Platform = Core();
  Platform.CheckWatchdog();
  std::string Name = Operation;
  Platform.CpuOperations.push_back(Name);
  if (Name == "ArmDisableInterrupts") {
    Platform.InterruptsEnabled = false;
  } else if (Name == "ArmEnableInterrupts") {
    Platform.InterruptsEnabled = true;
  }
}

extern "C" BOOLEAN HostAbiInterruptsEnabled(VOID) {
  if (!CoreAlive()) {
    return TRUE;
  }
  Core().CheckProgress();
  return Core().InterruptsEnabled ? TRUE : FALSE;
}

extern "C" UINT64 HostAbiReadSystemRegister(const CHAR8 *Name) {
  if (!CoreAlive() || Name == nullptr) {
    return 0;
  }
  Core().CheckProgress();
  const auto &Registers = Core().SystemRegisters;
  auto Found = Registers.find(Name);
  return Found != Registers.end() ? Found->second : 0;
}
