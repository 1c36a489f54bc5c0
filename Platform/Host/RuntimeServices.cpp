// Runtime services: a clock derived from virtual time, the virtual-address hand-over,
// reset as a halt, and the variable services of the variable store.
#include "CoreInternal.h"

#include <algorithm>

namespace host {

namespace {

constexpr int64_t kEpochDays = 19723; // 2024-01-01, days since 1970-01-01
constexpr uint64_t kNsPerSecond = 1'000'000'000;
constexpr UINT32 kClockAccuracy = 50'000'000; // 50 ppm, in parts per 10^12 as UEFI counts it
constexpr INT16 kUnspecifiedTimezone = 2047;
constexpr INT16 kMaxTimezoneMinutes = 1440;

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t Days, int &Year, unsigned &Month, unsigned &Day) {
  Days += 719468;
  const int64_t Era = (Days >= 0 ? Days : Days - 146096) / 146097;
  const unsigned DayOfEra = static_cast<unsigned>(Days - Era * 146097);
  const unsigned YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
  const unsigned DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
  const unsigned MonthIndex = (5 * DayOfYear + 2) / 153;
  Day = DayOfYear - (153 * MonthIndex + 2) / 5 + 1;
  Month = MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9;
  Year = static_cast<int>(YearOfEra + Era * 400 + (Month <= 2 ? 1 : 0));
}

int64_t DaysFromCivil(int Year, unsigned Month, unsigned Day) {
  Year -= Month <= 2 ? 1 : 0;
  const int64_t Era = (Year >= 0 ? Year : Year - 399) / 400;
  const unsigned YearOfEra = static_cast<unsigned>(Year - Era * 400);
  const unsigned DayOfYear = (153 * (Month > 2 ? Month - 3 : Month + 9) + 2) / 5 + Day - 1;
  const unsigned DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
  return Era * 146097 + static_cast<int64_t>(DayOfEra) - 719468;
}

int64_t EpochSeconds(const Platform::Impl &Core) {
  return kEpochDays * 86400 + static_cast<int64_t>(Core.Events.NowNs() / kNsPerSecond) +
         Core.TimeOffsetSeconds;
}

// While boot services last, runtime services have the TPL limits of boot services.
void CheckRuntimeTpl(const char *Service) {
  Platform::Impl &Core = host::Core();
  if (!Core.BootServicesEnded) {
    Core.CheckServiceTpl(Service);
  }
}

bool ValidTime(const EFI_TIME &Time) {
  return Time.Year >= 1900 && Time.Year <= 9999 && Time.Month >= 1 && Time.Month <= 12 && Time.Day >= 1 &&
         Time.Day <= 31 && Time.Hour < 24 && Time.Minute < 60 && Time.Second < 60 &&
         Time.Nanosecond < kNsPerSecond &&
         (Time.TimeZone == kUnspecifiedTimezone ||
          (Time.TimeZone >= -kMaxTimezoneMinutes && Time.TimeZone <= kMaxTimezoneMinutes));
}

EFI_STATUS EFIAPI GetTime(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities) {
  CheckRuntimeTpl("GetTime");
  if (Time == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Platform::Impl &Core = host::Core();
  const int64_t Seconds = EpochSeconds(Core);
  int Year = 0;
  unsigned Month = 0;
  unsigned Day = 0;
  CivilFromDays(Seconds / 86400, Year, Month, Day);
  const int64_t OfDay = Seconds % 86400;
  *Time = {};
  Time->Year = static_cast<UINT16>(Year);
  Time->Month = static_cast<UINT8>(Month);
  Time->Day = static_cast<UINT8>(Day);
  Time->Hour = static_cast<UINT8>(OfDay / 3600);
  Time->Minute = static_cast<UINT8>(OfDay / 60 % 60);
  Time->Second = static_cast<UINT8>(OfDay % 60);
  Time->Nanosecond = static_cast<UINT32>(Core.Events.NowNs() % kNsPerSecond);
  Time->TimeZone = kUnspecifiedTimezone;
  if (Capabilities != nullptr) {
    *Capabilities = {1, kClockAccuracy, FALSE};
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetTime(EFI_TIME *Time) {
  CheckRuntimeTpl("SetTime");
  if (Time == nullptr || !ValidTime(*Time)) {
    return EFI_INVALID_PARAMETER;
  }
  Platform::Impl &Core = host::Core();
  const int64_t Wanted = DaysFromCivil(Time->Year, Time->Month, Time->Day) * 86400 + Time->Hour * 3600 +
                         Time->Minute * 60 + Time->Second;
  Core.TimeOffsetSeconds = 0;
  Core.TimeOffsetSeconds = Wanted - EpochSeconds(Core);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetWakeupTime(BOOLEAN *Enabled, BOOLEAN *Pending, EFI_TIME *Time) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetWakeupTime(BOOLEAN Enable, EFI_TIME *Time) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SetVirtualAddressMap(UINTN MemoryMapSize, UINTN DescriptorSize, UINT32 DescriptorVersion,
                                       EFI_MEMORY_DESCRIPTOR *VirtualMap) {
  Platform::Impl &Core = host::Core();
  if (!Core.BootServicesEnded || Core.VirtualMapSet) {
    return EFI_UNSUPPORTED;
  }
  if (VirtualMap == nullptr || DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR) || DescriptorVersion != 1 ||
      MemoryMapSize % DescriptorSize != 0) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_MEMORY_DESCRIPTOR> Given;
  const auto *Bytes = reinterpret_cast<const uint8_t *>(VirtualMap);
  for (UINTN Offset = 0; Offset < MemoryMapSize; Offset += DescriptorSize) {
    const auto *Entry = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Bytes + Offset);
    if ((Entry->Attribute & EFI_MEMORY_RUNTIME) != 0) {
      Given.push_back(*Entry);
    }
  }
  // Every runtime range of the memory map needs a virtual address, and only those have one.
  std::vector<EFI_MEMORY_DESCRIPTOR> Runtime = Core.Memory.MemoryMap();
  std::erase_if(Runtime, [](const EFI_MEMORY_DESCRIPTOR &Entry) {
    return (Entry.Attribute & EFI_MEMORY_RUNTIME) == 0;
  });
  auto SameRange = [](const EFI_MEMORY_DESCRIPTOR &A, const EFI_MEMORY_DESCRIPTOR &B) {
    return A.PhysicalStart == B.PhysicalStart && A.NumberOfPages == B.NumberOfPages;
  };
  auto In = [&](const std::vector<EFI_MEMORY_DESCRIPTOR> &List, const EFI_MEMORY_DESCRIPTOR &Entry) {
    return std::any_of(List.begin(), List.end(), [&](const auto &Other) { return SameRange(Entry, Other); });
  };
  if (!std::all_of(Given.begin(), Given.end(), [&](const auto &Entry) { return In(Runtime, Entry); })) {
    return EFI_NOT_FOUND;
  }
  if (!std::all_of(Runtime.begin(), Runtime.end(), [&](const auto &Entry) { return In(Given, Entry); })) {
    return EFI_NO_MAPPING;
  }
  std::vector<VirtualRange> Ranges;
  for (const EFI_MEMORY_DESCRIPTOR &Entry : Given) {
    Ranges.push_back({Entry.PhysicalStart, EFI_PAGES_TO_SIZE(Entry.NumberOfPages),
                      static_cast<int64_t>(Entry.VirtualStart - Entry.PhysicalStart)});
  }
  Core.VirtualMap = std::move(Ranges);
  Core.SignalVirtualAddressChange();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ConvertPointer(UINTN DebugDisposition, VOID **Address) {
  if (Address == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*Address == nullptr) {
    return (DebugDisposition & EFI_OPTIONAL_PTR) != 0 ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
  }
  Platform::Impl &Core = host::Core();
  if (!Core.InVirtualAddressChange) {
    Core.Error("ConvertPointer", std::string("called ") +
                                     (Core.VirtualMapSet ? "after SetVirtualAddressMap returned"
                                                         : "before SetVirtualAddressMap") +
                                     ": only the virtual-address-change notifications may call it");
    return EFI_UNSUPPORTED;
  }
  const uint64_t Value = reinterpret_cast<uint64_t>(*Address);
  for (const VirtualRange &Range : Core.VirtualMap) {
    if (Value >= Range.PhysicalStart && Value - Range.PhysicalStart < Range.Size) {
      *Address = reinterpret_cast<VOID *>(Value + static_cast<uint64_t>(Range.Offset));
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI GetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 *Attributes, UINTN *DataSize,
                              VOID *Data) {
  CheckRuntimeTpl("GetVariable");
  return host::Core().Variables->GetVariable(VariableName, VendorGuid, Attributes, DataSize, Data);
}

EFI_STATUS EFIAPI GetNextVariableName(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid) {
  CheckRuntimeTpl("GetNextVariableName");
  return host::Core().Variables->GetNextVariableName(VariableNameSize, VariableName, VendorGuid);
}

EFI_STATUS EFIAPI SetVariable(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                              VOID *Data) {
  CheckRuntimeTpl("SetVariable");
  return host::Core().Variables->SetVariable(VariableName, VendorGuid, Attributes, DataSize, Data);
}

EFI_STATUS EFIAPI QueryVariableInfo(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                    UINT64 *RemainingVariableStorageSize, UINT64 *MaximumVariableSize) {
  CheckRuntimeTpl("QueryVariableInfo");
  return host::Core().Variables->QueryVariableInfo(Attributes, MaximumVariableStorageSize,
                                                   RemainingVariableStorageSize, MaximumVariableSize);
}

EFI_STATUS EFIAPI GetNextHighMonotonicCount(UINT32 *HighCount) {
  if (HighCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Platform::Impl &Core = host::Core();
  Core.MonotonicCount = ((Core.MonotonicCount >> 32) + 1) << 32;
  *HighCount = static_cast<UINT32>(Core.MonotonicCount >> 32);
  return EFI_SUCCESS;
}

const char *ResetTypeName(EFI_RESET_TYPE Type) {
  switch (Type) {
  case EfiResetCold:
    return "EfiResetCold";
  case EfiResetWarm:
    return "EfiResetWarm";
  case EfiResetShutdown:
    return "EfiResetShutdown";
  case EfiResetPlatformSpecific:
    return "EfiResetPlatformSpecific";
  }
  return "unknown reset";
}

VOID EFIAPI ResetSystem(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize, VOID *ResetData) {
  Platform::Impl &Core = host::Core();
  // The emulated board does not come back: a reset ends the run like a halt.
  throw Halt(std::string("ResetSystem: ") + ResetTypeName(ResetType) + " (" + StatusName(ResetStatus) + ")",
             Core.CurrentImageName(), Core.Events.NowNs());
}

EFI_STATUS EFIAPI UpdateCapsule(EFI_CAPSULE_HEADER **CapsuleHeaderArray, UINTN CapsuleCount,
                                EFI_PHYSICAL_ADDRESS ScatterGatherList) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI QueryCapsuleCapabilities(EFI_CAPSULE_HEADER **CapsuleHeaderArray, UINTN CapsuleCount,
                                           UINT64 *MaximumCapsuleSize, EFI_RESET_TYPE *ResetType) {
  return EFI_UNSUPPORTED;
}

} // namespace

void Platform::Impl::InitRuntimeServices() {
  RuntimeServices.Hdr.Signature = EFI_RUNTIME_SERVICES_SIGNATURE;
  RuntimeServices.Hdr.Revision = EFI_SPECIFICATION_VERSION;
  RuntimeServices.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  RuntimeServices.GetTime = host::GetTime;
  RuntimeServices.SetTime = host::SetTime;
  RuntimeServices.GetWakeupTime = host::GetWakeupTime;
  RuntimeServices.SetWakeupTime = host::SetWakeupTime;
  RuntimeServices.SetVirtualAddressMap = host::SetVirtualAddressMap;
  RuntimeServices.ConvertPointer = host::ConvertPointer;
  RuntimeServices.GetVariable = host::GetVariable;
  RuntimeServices.GetNextVariableName = host::GetNextVariableName;
  RuntimeServices.SetVariable = host::SetVariable;
  RuntimeServices.GetNextHighMonotonicCount = host::GetNextHighMonotonicCount;
  RuntimeServices.ResetSystem = host::ResetSystem;
  RuntimeServices.UpdateCapsule = host::UpdateCapsule;
  RuntimeServices.QueryCapsuleCapabilities = host::QueryCapsuleCapabilities;
  RuntimeServices.QueryVariableInfo = host::QueryVariableInfo;
}

void Platform::Impl::SignalVirtualAddressChange() {
  VirtualMapSet = true;
  LogLine("SetVirtualAddressMap: signalling the virtual-address-change group");
  InVirtualAddressChange = true;
  struct Leave {
    bool &Flag;
    ~Leave() { Flag = false; }
  } Done{InVirtualAddressChange};
  EFI_TPL Old = Events.RaiseTpl(TPL_HIGH_LEVEL);
  Events.SignalGroup(CoreGuid::VirtualAddressChange);
  Events.RestoreTpl(Old);
}

EFI_STATUS Platform::SetVirtualAddressMap(int64_t Offset) {
  Impl &Core = *Impl_;
  if (!Core.BootServicesEnded || Core.VirtualMapSet) {
    return EFI_UNSUPPORTED;
  }
  // The OS maps the runtime descriptors of the memory map, each moved by the same offset.
  Core.VirtualMap.clear();
  for (const EFI_MEMORY_DESCRIPTOR &Entry : Core.Memory.MemoryMap()) {
    if ((Entry.Attribute & EFI_MEMORY_RUNTIME) != 0) {
      Core.VirtualMap.push_back({Entry.PhysicalStart, EFI_PAGES_TO_SIZE(Entry.NumberOfPages), Offset});
    }
  }
  std::optional<Halt> Halted =
      Core.Images.RunFrame(nullptr, std::string(), [&] { Core.SignalVirtualAddressChange(); });
  return Halted ? EFI_ABORTED : EFI_SUCCESS;
}

} // namespace host
