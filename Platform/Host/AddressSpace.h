// The emulated physical address space: where device models are attached, how an address
// decodes to one, and the rules an access must keep (width and alignment, the memory-space map,
// ExitBootServices, the virtual map). Firmware's MMIO (the seams of HostAbi.h) and host code
// that stands for bus hardware (Platform::BusRead and friends) both go through it, so every
// access is checked and costs virtual time the same way. Host-only; part of the core.
#pragma once

#include "HostPlatform.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

class AddressSpace {
public:
  explicit AddressSpace(Platform::Impl &Core) : Core_(Core) {}

  void Attach(uint64_t Base, uint64_t Size, std::shared_ptr<MmioDevice> Device);
  const std::vector<Fault> &Faults() const { return Faults_; }

  // One access by the code at Caller (a return address; nullptr: the image running now). A read
  // that faults returns all ones, a write that faults is dropped.
  uint64_t Read(uint64_t Address, unsigned Width, const void *Caller);
  void Write(uint64_t Address, unsigned Width, uint64_t Value, const void *Caller);
  // A run of Count accesses of Width bytes (see Platform::BusRun). Where the run stays inside
  // plain memory of one device it is one copy at the device's burst cost; elsewhere element by
  // element. False when an element faulted.
  template <bool IsWrite>
  bool Transfer(uint64_t Address, unsigned Width, uint64_t Count, Platform::BusRun Run, uint8_t *Buffer,
                const void *Caller);
  bool Copy(uint64_t To, uint64_t From, unsigned Width, uint64_t Count, const void *Caller);

  // The call frames changed: the image a caller's time is charged to may differ, and so may
  // the virtual time the call may run to.
  void FramesChanged() { ChargeCaller_ = kNoCaller; }

private:
  struct Region {
    uint64_t Base = 0;
    uint64_t Size = 0;
    MmioDevice *Device = nullptr;
    uint64_t CostNs = 0;        // of one access, read when attached
    uint64_t ClearedAt = ~0ull; // the map stamp under which all of the region passed the map rules
  };
  static inline const void *const kNoCaller = reinterpret_cast<const void *>(~uintptr_t(0));

  // What the map rules depend on: the memory-space map and whether boot services ended.
  uint64_t Stamp() const;
  Region *Find(uint64_t Address, uint64_t Length);
  Region *Hit(uint64_t Address, unsigned Width);
  // The region an access reaches, translating a virtual address after SetVirtualAddressMap, or
  // nullptr after recording the fault.
  Region *Resolve(uint64_t &Address, unsigned Width, bool IsWrite, uint64_t Value);
  // The same for a whole run, without recording anything: nullptr sends the run element-wise.
  Region *ResolveRun(uint64_t &Address, unsigned Width, uint64_t Length);
  const char *Translate(uint64_t &Address, uint64_t Length) const;
  const char *MapRule(uint64_t Address, uint64_t Length) const;
  bool Cleared(Region &Entry);
  void RecordFault(uint64_t Address, unsigned Width, bool IsWrite, uint64_t Value, const char *Why);
  void Charge(uint64_t CostNs, uint64_t Accesses, const void *Caller);
  void ChargeTo(const void *Caller);
  // The checks every access makes before it reaches a device: the watchdogs, from a deadline
  // kept while the call frames stay as they were.
  // The shape of a run of Count accesses of Width bytes that passed its entry checks.
  struct RunShape {
    uint64_t Bytes = 0;     // Count * Width, unless that overflows
    uint64_t Length = 0;    // the bytes the run covers from its start: Width when it stays put
    bool Overflows = false; // Count * Width overflows (only a run that stays put passes so)
  };
  // The entry checks of a run from each of First and Second: a valid width, and a run that
  // does not wrap around the address space (Wraps: the fault's text). False after recording
  // the fault at First.
  bool CheckedRun(bool IsWrite, uint64_t First, uint64_t Second, unsigned Width, uint64_t Count,
                  bool StaysPut, const char *Wraps, RunShape &Shape);
  template <bool Exact>
  bool Access(bool IsWrite, uint64_t Address, unsigned Width, uint64_t &Value, const void *Caller);
  template <bool IsWrite> bool One(uint64_t Address, unsigned Width, uint8_t *Buffer, const void *Caller);
  bool OneChecked(bool IsWrite, uint64_t Address, unsigned Width, uint8_t *Buffer, const void *Caller);
  bool TransferRun(bool IsWrite, uint64_t Address, unsigned Width, uint64_t Count, Platform::BusRun Run,
                   uint8_t *Buffer, const void *Caller);
  bool Elementwise(bool IsWrite, uint64_t Address, unsigned Width, uint64_t Count, Platform::BusRun Run,
                   uint8_t *Buffer, const void *Caller);
  void Burst(bool IsWrite, uint8_t *Memory, unsigned Width, uint64_t Count, Platform::BusRun Run,
             uint8_t *Buffer);

  Platform::Impl &Core_;
  std::vector<Region> Regions_; // by base
  std::vector<std::shared_ptr<MmioDevice>> Devices_;
  Region *LastHit_ = nullptr; // in Regions_
  std::vector<Fault> Faults_;
  // The account the last caller's time went to, while the call frames stay as they were.
  const void *ChargeCaller_ = kNoCaller;
  TimeAccount *ChargeAccount_ = nullptr;
  // The virtual time up to which the running call cannot trip the virtual-time watchdog (0:
  // not known since the frames changed).
};

} // namespace host
