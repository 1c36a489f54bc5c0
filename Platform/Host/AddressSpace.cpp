// The physical address space, the virtual clock's seams, the watchdog and halts: what
// firmware reaches through HostAbi.h.
#include "CoreInternal.h"

#include <HostAbi.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace host {

namespace {

constexpr uint64_t kUnmappedAccessCostNs = 100;

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

// The image whose code is at Address, or the one running now.
std::string ImageAt(const Platform::Impl &Core, const void *Address) {
  EFI_HANDLE Image = Core.Images.ImageFromAddress(Address);
  if (Image != nullptr) {
    if (const ImageStats *Found = Core.Memory.FindStats(Image)) {
      return Found->Name;
    }
  }
  return Core.CurrentImageName();
}

} // namespace

// ---- Decoding and the map rules -------------------------------------------------------------

void AddressSpace::Attach(uint64_t Base, uint64_t Size, std::shared_ptr<MmioDevice> Device) {
  if (Size == 0 || Base + Size < Base || Device == nullptr) {
    throw std::invalid_argument("Attach: empty range or no device");
  }
  for (const Region &Entry : Regions_) {
    if (Base < Entry.Base + Entry.Size && Entry.Base < Base + Size) {
      throw std::invalid_argument("Attach: " + Device->Name() + " at " + Hex(Base) + " overlaps " +
                                  Entry.Device->Name());
    }
  }
  Region Entry{Base, Size, Device.get(), Device->AccessCostNs()};
  Devices_.push_back(std::move(Device));
  auto At = std::lower_bound(Regions_.begin(), Regions_.end(), Base,
                             [](const Region &R, uint64_t Value) { return R.Base < Value; });
  Regions_.insert(At, Entry);
  LastHit_ = nullptr;
}

inline uint64_t AddressSpace::Stamp() const {
  return Core_.Gcd->MemoryGeneration() << 1 | (Core_.BootServicesEnded ? 1 : 0);
}

AddressSpace::Region *AddressSpace::Find(uint64_t Address, uint64_t Length) {
  auto Holds = [&](const Region &R) {
    return Address - R.Base < R.Size && Length <= R.Size - (Address - R.Base);
  };
  if (LastHit_ != nullptr && Holds(*LastHit_)) {
    return LastHit_;
  }
  auto After = std::upper_bound(Regions_.begin(), Regions_.end(), Address,
                                [](uint64_t Value, const Region &R) { return Value < R.Base; });
  if (After == Regions_.begin() || !Holds(*std::prev(After))) {
    return nullptr;
  }
  LastHit_ = &*std::prev(After);
  return LastHit_;
}

// After SetVirtualAddressMap addresses are virtual: inside a range of the virtual map they
// become physical; anything else is an address runtime code should have converted.
const char *AddressSpace::Translate(uint64_t &Address, uint64_t Length) const {
  if (!Core_.VirtualMapSet) {
    return nullptr;
  }
  bool Physical = false;
  for (const VirtualRange &Range : Core_.VirtualMap) {
    const uint64_t Virtual = Range.PhysicalStart + static_cast<uint64_t>(Range.Offset);
    if (Address - Virtual < Range.Size && Length <= Range.Size - (Address - Virtual)) {
      Address -= static_cast<uint64_t>(Range.Offset);
      return nullptr;
    }
    Physical = Physical || Address - Range.PhysicalStart < Range.Size;
  }
  return Physical ? "a physical address after SetVirtualAddressMap (not converted)"
                  : "not in the virtual address map";
}

// The memory-space map must have the range, and after ExitBootServices as runtime.
const char *AddressSpace::MapRule(uint64_t Address, uint64_t Length) const {
  const uint64_t End = Address + Length;
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Entry : Core_.Gcd->MemoryDescriptors()) {
    if (Entry.BaseAddress >= End || Entry.BaseAddress + Entry.Length <= Address) {
      continue;
    }
    if (Entry.GcdMemoryType == EfiGcdMemoryTypeNonExistent) {
      return "the memory-space map has nothing there (NonExistent)";
    }
    if (Core_.BootServicesEnded && (Entry.Attributes & EFI_MEMORY_RUNTIME) == 0) {
      return "not runtime memory-mapped I/O, after ExitBootServices";
    }
  }
  return nullptr;
}

bool AddressSpace::Cleared(Region &Entry) {
  const uint64_t Now = Stamp();
  if (Entry.ClearedAt == Now) {
    return true;
  }
  if (MapRule(Entry.Base, Entry.Size) != nullptr) {
    return false;
  }
  Entry.ClearedAt = Now;
  return true;
}

// An access that faults on the real board: no device answers there, the address is not a
// multiple of the access width (device memory takes no unaligned access on AArch64), or the
// page tables built from the maps have nothing there.
void AddressSpace::RecordFault(uint64_t Address, unsigned Width, bool IsWrite, uint64_t Value,
                               const char *Why) {
  Faults_.push_back({Address, Width, IsWrite, Value, Core_.CurrentImageName(), Core_.Events.NowNs()});
  Core_.Error("MMIO", std::string(IsWrite ? "write" : "read") + " of " + std::to_string(Width) +
                          " bytes at " + Hex(Address) +
                          (IsWrite ? " (value " + Hex(Value) + ")" : std::string()) + ": " + Why);
  Core_.Events.Advance(kUnmappedAccessCostNs);
}

AddressSpace::Region *AddressSpace::Resolve(uint64_t &Address, unsigned Width, bool IsWrite, uint64_t Value) {
  const uint64_t Given = Address;
  const char *Why = !ValidWidth(Width)             ? "not an access width"
                    : (Address & (Width - 1)) != 0 ? "unaligned"
                                                   : nullptr;
  Why = Why != nullptr ? Why : Translate(Address, Width);
  Region *Entry = Why != nullptr ? nullptr : Find(Address, Width);
  if (Why == nullptr && Entry == nullptr) {
    Why = "no device there";
  }
  if (Why == nullptr && !Cleared(*Entry)) {
    Why = MapRule(Address, Width);
  }
  if (Why != nullptr) {
    RecordFault(Given, Width, IsWrite, Value, Why);
    return nullptr;
  }
  return Entry;
}

AddressSpace::Region *AddressSpace::ResolveRun(uint64_t &Address, unsigned Width, uint64_t Length) {
  uint64_t Physical = Address;
  if (!ValidWidth(Width) || (Address & (Width - 1)) != 0 || Translate(Physical, Length) != nullptr) {
    return nullptr;
  }
  Region *Entry = Find(Physical, Length);
  if (Entry == nullptr || (!Cleared(*Entry) && MapRule(Physical, Length) != nullptr)) {
    return nullptr;
  }
  Address = Physical;
  return Entry;
}

// ---- Accesses and their time ----------------------------------------------------------------

// A new caller since the frames changed: the account its time goes to.
[[gnu::noinline]] void AddressSpace::ChargeTo(const void *Caller) {
  ChargeAccount_ = &Core_.Events.AccountOf(Caller);
  ChargeCaller_ = Caller;
}

[[gnu::always_inline]] inline void AddressSpace::Charge(uint64_t CostNs, uint64_t Accesses,
                                                        const void *Caller) {
  if (Caller != ChargeCaller_) [[unlikely]] {
    ChargeTo(Caller);
  }
  ChargeAccount_->RegisterAccesses += Accesses;
  if (!Core_.Events.SpendAtOnce(*ChargeAccount_, &TimeAccount::RegisterNs, CostNs)) [[unlikely]] {
    Core_.Events.Spend(*ChargeAccount_, &TimeAccount::RegisterNs, CostNs);
  }
}

// The region a single access of a valid width reaches when nothing about it needs a closer
// look: an aligned access inside the region used last, whose map rules still hold, before any
// virtual map. Everything else goes to Resolve.
[[gnu::always_inline]] inline AddressSpace::Region *AddressSpace::Hit(uint64_t Address, unsigned Width) {
  if (Core_.VirtualMapSet || LastHit_ == nullptr) {
    return nullptr;
  }
  Region &Entry = *LastHit_;
  const uint64_t Offset = Address - Entry.Base;
  if (Offset >= Entry.Size || Entry.Size - Offset < Width || (Address & (Width - 1)) != 0 ||
      Entry.ClearedAt != Stamp()) {
    return nullptr;
  }
  return &Entry;
}

// One access: true when it reached a device. A read that faults gives all ones. Exact: the
// value written holds no bits above Width, and the caller keeps only Width bytes of a value
// read, so neither needs masking here.
template <bool Exact>
[[gnu::always_inline]] inline bool AddressSpace::Access(bool IsWrite, uint64_t Address, unsigned Width,
                                                        uint64_t &Value, const void *Caller) {
  Core_.Images.CheckWatchdog();
  Region *Entry = ValidWidth(Width) ? Hit(Address, Width) : nullptr;
  if (Entry == nullptr && (Entry = Resolve(Address, Width, IsWrite, IsWrite ? Value : 0)) == nullptr) {
    Value = IsWrite ? Value : AllOnes(Width);
    return false;
  }
  const uint64_t CostNs = Entry->CostNs;
  if (IsWrite) {
    Entry->Device->Write(Address - Entry->Base, Width, Exact ? Value : Value & AllOnes(Width));
  } else {
    Value = Entry->Device->Read(Address - Entry->Base, Width);
    Value = Exact ? Value : Value & AllOnes(Width);
  }
  Charge(CostNs, 1, Caller);
  return true;
}

uint64_t AddressSpace::Read(uint64_t Address, unsigned Width, const void *Caller) {
  uint64_t Value = 0;
  Access<false>(false, Address, Width, Value, Caller);
  return Value;
}

void AddressSpace::Write(uint64_t Address, unsigned Width, uint64_t Value, const void *Caller) {
  Access<false>(true, Address, Width, Value, Caller);
}

namespace {

// An element of a run in the buffer, in accesses of its own width (a byte-wise copy into a
// wider value stalls the load that follows).
template <class T> uint64_t LoadAs(const uint8_t *From) {
  T Value;
  std::memcpy(&Value, From, sizeof(T));
  return Value;
}

template <class T> void StoreAs(uint8_t *To, uint64_t Value) {
  const T Narrow = static_cast<T>(Value);
  std::memcpy(To, &Narrow, sizeof(T));
}

uint64_t Load(const uint8_t *From, unsigned Width) {
  switch (Width) {
  case 1:
    return *From;
  case 2:
    return LoadAs<uint16_t>(From);
  case 4:
    return LoadAs<uint32_t>(From);
  default:
    return LoadAs<uint64_t>(From);
  }
}

void Store(uint8_t *To, unsigned Width, uint64_t Value) {
  switch (Width) {
  case 1:
    *To = static_cast<uint8_t>(Value);
    break;
  case 2:
    StoreAs<uint16_t>(To, Value);
    break;
  case 4:
    StoreAs<uint32_t>(To, Value);
    break;
  default:
    StoreAs<uint64_t>(To, Value);
    break;
  }
}

} // namespace

// The run as the copy the bus makes of it: Step and Fill move along the memory, Fifo stays on
// its first element; Step and Fifo move along the buffer, Fill stays on its one element.
void AddressSpace::Burst(bool IsWrite, uint8_t *Memory, unsigned Width, uint64_t Count, Platform::BusRun Run,
                         uint8_t *Buffer) {
  const uint64_t Length = Width * Count;
  if (Run == Platform::BusRun::Step) {
    IsWrite ? std::memcpy(Memory, Buffer, Length) : std::memcpy(Buffer, Memory, Length);
  } else if (Run == Platform::BusRun::Fill && IsWrite) {
    // The pattern once, then doubling copies of what is already filled.
    std::memcpy(Memory, Buffer, Width);
    for (uint64_t Filled = Width; Filled < Length;) {
      const uint64_t Chunk = std::min(Filled, Length - Filled);
      std::memcpy(Memory + Filled, Memory, Chunk);
      Filled += Chunk;
    }
  } else if (Run == Platform::BusRun::Fill) { // every element read into one: the last stays
    std::memcpy(Buffer, Memory + Length - Width, Width);
  } else if (IsWrite) { // every element written to one location: the last stays
    std::memcpy(Memory, Buffer + Length - Width, Width);
  } else {
    for (uint64_t Index = 0; Index < Count; Index++) {
      std::memcpy(Buffer + Index * Width, Memory, Width);
    }
  }
}

bool AddressSpace::Elementwise(bool IsWrite, uint64_t Address, unsigned Width, uint64_t Count,
                               Platform::BusRun Run, uint8_t *Buffer, const void *Caller) {
  const size_t Faults = Faults_.size();
  const uint64_t AddressStride = Run == Platform::BusRun::Fifo ? 0 : Width;
  const uint64_t BufferStride = Run == Platform::BusRun::Fill ? 0 : Width;
  for (uint64_t Index = 0; Index < Count; Index++) {
    const uint64_t At = Address + Index * AddressStride;
    uint8_t *Element = Buffer + Index * BufferStride;
    if (IsWrite) {
      Write(At, Width, Load(Element, Width), Caller);
    } else {
      Store(Element, Width, Read(At, Width, Caller));
    }
  }
  return Faults_.size() == Faults;
}

// One access of a transfer, as firmware's own MMIO makes it.
[[gnu::noinline]] bool AddressSpace::OneChecked(bool IsWrite, uint64_t Address, unsigned Width,
                                                uint8_t *Buffer, const void *Caller) {
  uint64_t Value = IsWrite ? Load(Buffer, Width) : 0;
  const bool Reached = Access<true>(IsWrite, Address, Width, Value, Caller);
  if (!IsWrite) {
    Store(Buffer, Width, Value);
  }
  return Reached;
}

// OneChecked when nothing needs a closer look: the watchdogs quiet and the region used last
// hit (Hit). Everything else takes OneChecked from the start, so that this path keeps nothing
// across a call but what the charge after the device needs.
template <bool IsWrite>
[[gnu::always_inline]] inline bool AddressSpace::One(uint64_t Address, unsigned Width, uint8_t *Buffer,
                                                     const void *Caller) {
  Region *Entry = Core_.Images.WatchdogQuiet() ? Hit(Address, Width) : nullptr;
  if (Entry == nullptr) [[unlikely]] {
    return OneChecked(IsWrite, Address, Width, Buffer, Caller);
  }
  const uint64_t CostNs = Entry->CostNs;
  if (IsWrite) {
    Entry->Device->Write(Address - Entry->Base, Width, Load(Buffer, Width));
  } else {
    Store(Buffer, Width, Entry->Device->Read(Address - Entry->Base, Width));
  }
  Charge(CostNs, 1, Caller);
  return true;
}

bool AddressSpace::CheckedRun(bool IsWrite, uint64_t First, uint64_t Second, unsigned Width, uint64_t Count,
                              bool StaysPut, const char *Wraps, RunShape &Shape) {
  if (!ValidWidth(Width)) {
    RecordFault(First, Width, IsWrite, 0, "not an access width");
    return false;
  }
  Shape.Overflows = __builtin_mul_overflow(Count, uint64_t(Width), &Shape.Bytes);
  Shape.Length = StaysPut ? Width : Shape.Bytes;
  if ((Shape.Overflows && !StaysPut) || First + Shape.Length < First || Second + Shape.Length < Second) {
    RecordFault(First, Width, IsWrite, 0, Wraps);
    return false;
  }
  return true;
}

template <bool IsWrite>
[[gnu::always_inline]] inline bool AddressSpace::Transfer(uint64_t Address, unsigned Width, uint64_t Count,
                                                          Platform::BusRun Run, uint8_t *Buffer,
                                                          const void *Caller) {
  if (Count == 1 && ValidWidth(Width)) [[likely]] {
    return One<IsWrite>(Address, Width, Buffer, Caller);
  }
  return TransferRun(IsWrite, Address, Width, Count, Run, Buffer, Caller);
}

bool AddressSpace::TransferRun(bool IsWrite, uint64_t Address, unsigned Width, uint64_t Count,
                               Platform::BusRun Run, uint8_t *Buffer, const void *Caller) {
  RunShape Shape;
  if (Count == 0) {
    return true;
  }
  if (!CheckedRun(IsWrite, Address, Address, Width, Count, Run == Platform::BusRun::Fifo,
                  "the run wraps around the address space", Shape)) {
    return false;
  }
  uint64_t Physical = Address;
  Region *Entry = Shape.Overflows ? nullptr : ResolveRun(Physical, Width, Shape.Length);
  if (uint8_t *Memory =
          Entry ? Entry->Device->Memory(Physical - Entry->Base, Shape.Length, Width) : nullptr) {
    Core_.Images.CheckWatchdog();
    Burst(IsWrite, Memory, Width, Count, Run, Buffer);
    Charge(Entry->Device->BurstCostNs(Shape.Bytes), 1, Caller);
    return true;
  }
  return Elementwise(IsWrite, Address, Width, Count, Run, Buffer, Caller);
}

bool AddressSpace::Copy(uint64_t To, uint64_t From, unsigned Width, uint64_t Count, const void *Caller) {
  RunShape Shape;
  if (Count == 0) {
    return true;
  }
  if (!CheckedRun(true, To, From, Width, Count, false, "the copy wraps around the address space", Shape)) {
    return false;
  }
  const uint64_t Bytes = Shape.Bytes;
  uint64_t Target = To, Source = From;
  Region *Destination = ResolveRun(Target, Width, Bytes);
  uint8_t *ToMemory =
      Destination ? Destination->Device->Memory(Target - Destination->Base, Bytes, Width) : nullptr;
  Region *Origin = ToMemory ? ResolveRun(Source, Width, Bytes) : nullptr;
  uint8_t *FromMemory = Origin ? Origin->Device->Memory(Source - Origin->Base, Bytes, Width) : nullptr;
  if (FromMemory != nullptr) {
    Core_.Images.CheckWatchdog();
    std::memmove(ToMemory, FromMemory, Bytes);
    Charge(Origin->Device->BurstCostNs(Bytes) + Destination->Device->BurstCostNs(Bytes), 2, Caller);
    return true;
  }
  // Element by element, backwards when the destination overlaps the source from above.
  const size_t Faults = Faults_.size();
  const bool Backwards = To > From && To < From + Bytes;
  for (uint64_t Step = 0; Step < Count; Step++) {
    const uint64_t Index = Backwards ? Count - 1 - Step : Step;
    Write(To + Index * Width, Width, Read(From + Index * Width, Width, Caller), Caller);
  }
  return Faults_.size() == Faults;
}

void Platform::Attach(uint64_t Base, uint64_t Size, std::shared_ptr<MmioDevice> Device) {
  Impl_->Space.Attach(Base, Size, std::move(Device));
}

bool Platform::BusRead(uint64_t Address, unsigned Width, uint64_t Count, BusRun Run, void *Buffer,
                       const void *Caller) {
  return Impl_->Space.Transfer<false>(Address, Width, Count, Run, static_cast<uint8_t *>(Buffer), Caller);
}

bool Platform::BusWrite(uint64_t Address, unsigned Width, uint64_t Count, BusRun Run, const void *Buffer,
                        const void *Caller) {
  // The buffer is only read from on a write.
  return Impl_->Space.Transfer<true>(Address, Width, Count, Run,
                                     static_cast<uint8_t *>(const_cast<void *>(Buffer)), Caller);
}

bool Platform::BusCopy(uint64_t To, uint64_t From, unsigned Width, uint64_t Count, const void *Caller) {
  return Impl_->Space.Copy(To, From, Width, Count, Caller);
}

// The one record of processor operations, for the host build's seam and the processor alike; the
// interrupt mask follows the masking operations.
void RecordCpuOperation(Platform::Impl &Platform, const std::string &Name) {
  Platform.CpuOperations.push_back(Name);
  if (Name == "ArmDisableInterrupts") {
    Platform.Events.SetInterruptsEnabled(false);
  } else if (Name == "ArmEnableInterrupts") {
    Platform.Events.SetInterruptsEnabled(true);
  }
}

// Called from the Platform constructor so that the seams below are always linked into an
// executable that uses the platform: module shared objects resolve them at load time.
void KeepSeamsLinked() {
  static volatile const void *Seams[] = {reinterpret_cast<const void *>(&HostAbiMmioRead),
                                         reinterpret_cast<const void *>(&HostAbiMmioWrite),
                                         reinterpret_cast<const void *>(&HostAbiMemoryFence),
                                         reinterpret_cast<const void *>(&HostAbiStall),
                                         reinterpret_cast<const void *>(&HostAbiCounterReads),
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
  return Core().Space.Read(Address, Width, __builtin_return_address(0));
}

extern "C" VOID HostAbiMmioWrite(UINT64 Address, UINT32 Width, UINT64 Value) {
  if (CoreAlive()) {
    Core().Space.Write(Address, Width, Value, __builtin_return_address(0));
  }
}

extern "C" VOID HostAbiMemoryFence(VOID) {
  if (CoreAlive()) {
    Core().Images.CheckWatchdog();
  }
}

extern "C" VOID HostAbiStall(UINT64 Microseconds) {
  if (!CoreAlive()) {
    return;
  }
  host::Platform::Impl &Platform = Core();
  Platform.Images.CheckWatchdog();
  Platform.Events.Stall(Platform.Events.AccountOf(__builtin_return_address(0)), Microseconds);
}

extern "C" UINT64 HostAbiCounterReads(UINT64 Reads) {
  if (!CoreAlive()) {
    return 0;
  }
  host::Platform::Impl &Platform = Core();
  Platform.Images.CheckWatchdog();
  return Platform.Timer.Read(Platform.Events.AccountOf(__builtin_return_address(0)), Reads, true);
}

extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  std::string Text = Reason != nullptr ? Reason : "halt";
  if (!CoreAlive()) {
    throw host::Halt(Text, "core", 0);
  }
  host::Platform::Impl &Platform = Core();
  throw host::Halt(Text, host::ImageAt(Platform, __builtin_return_address(0)), Platform.Events.NowNs());
}

extern "C" VOID HostAbiCpuOperation(const CHAR8 *Operation) {
  if (!CoreAlive() || Operation == nullptr) {
    return;
  }
  host::Platform::Impl &Platform = Core();
  Platform.Images.CheckWatchdog();
  host::RecordCpuOperation(Platform, Operation);
}

extern "C" BOOLEAN HostAbiInterruptsEnabled(VOID) {
  if (!CoreAlive()) {
    return TRUE;
  }
  Core().Images.CheckProgress();
  return Core().Events.InterruptsEnabled() ? TRUE : FALSE;
}

extern "C" UINT64 HostAbiReadSystemRegister(const CHAR8 *Name) {
  if (!CoreAlive() || Name == nullptr) {
    return 0;
  }
  Core().Images.CheckProgress();
  const auto &Registers = Core().SystemRegisters;
  auto Found = Registers.find(Name);
  return Found != Registers.end() ? Found->second : 0;
}
