// The boot services table and its smaller members: CRC32, monotonic count, Stall, watchdog,
// memory copy and fill, configuration tables and ExitBootServices.
#include "CoreInternal.h"

#include <algorithm>
#include <cstring>

namespace host {

void KeepSeamsLinked();

namespace {

EFI_STATUS EFIAPI CalculateCrc32(VOID *Data, UINTN DataSize, UINT32 *Crc32Out) {
  CORE_BOOT_SERVICE("CalculateCrc32");
  if (Data == nullptr || DataSize == 0 || Crc32Out == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Crc32Out = Crc32(Data, DataSize);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetNextMonotonicCount(UINT64 *Count) {
  CORE_BOOT_SERVICE("GetNextMonotonicCount");
  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = Core.MonotonicCount++;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Stall(UINTN Microseconds) {
  CORE_BOOT_SERVICE("Stall");
  Core.Images.CheckWatchdog();
  Core.Events.Stall(Core.Events.AccountOf(Core.Images.CallerCode(__builtin_return_address(0))), Microseconds);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetWatchdogTimer(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize, CHAR16 *WatchdogData) {
  CORE_BOOT_SERVICE("SetWatchdogTimer");
  // Codes up to 0xFFFF are reserved for the firmware itself.
  constexpr UINT64 kReservedWatchdogCodes = 0xFFFF;
  if (Timeout != 0 && WatchdogCode <= kReservedWatchdogCodes) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

VOID EFIAPI CopyMem(VOID *Destination, VOID *Source, UINTN Length) {
  if (Length != 0 && host::Core().BootServiceAllowed("CopyMem")) {
    std::memmove(Destination, Source, Length);
  }
}

VOID EFIAPI SetMem(VOID *Buffer, UINTN Size, UINT8 Value) {
  if (Size != 0 && host::Core().BootServiceAllowed("SetMem")) {
    std::memset(Buffer, Value, Size);
  }
}

EFI_STATUS EFIAPI InstallConfigurationTable(EFI_GUID *Guid, VOID *Table) {
  CORE_BOOT_SERVICE("InstallConfigurationTable");
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Core.Handles.CheckRecordInDram("InstallConfigurationTable", Table);
  auto &Tables = Core.ConfigurationTables;
  auto Found = std::find_if(Tables.begin(), Tables.end(), [&](const EFI_CONFIGURATION_TABLE &Entry) {
    return CompareGuidValues(Entry.VendorGuid, *Guid);
  });
  if (Table == nullptr) {
    if (Found == Tables.end()) {
      return EFI_NOT_FOUND;
    }
    Tables.erase(Found);
  } else if (Found != Tables.end()) {
    Found->VendorTable = Table;
  } else if (Tables.size() == kMaxConfigurationTables) {
    return EFI_OUT_OF_RESOURCES;
  } else {
    Tables.push_back({*Guid, Table});
  }
  Core.UpdateTableCrcs();
  // Whoever waits for this table is told through the event group of the same GUID.
  EFI_TPL Old = Core.Events.RaiseTpl(TPL_HIGH_LEVEL);
  Core.Events.SignalGroup(*Guid);
  Core.Events.RestoreTpl(Old);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ExitBootServices(EFI_HANDLE ImageHandle, UINTN MapKey) {
  CORE_BOOT_SERVICE("ExitBootServices");
  if (Core.Handles.ValidHandle(ImageHandle) == nullptr || MapKey != Core.Memory.MapKey()) {
    return EFI_INVALID_PARAMETER;
  }
  Core.LogLine("ExitBootServices: signalling the exit-boot-services group");
  // The timer interrupt stops first: no timer fires inside the notifications or later,
  // however far the OS moves the clock. The notifications must not change the memory map.
  Core.Events.StopTimerInterrupt();
  {
    struct Notifying {
      CoreMemory &Memory;
      explicit Notifying(CoreMemory &Frozen) : Memory(Frozen) { Memory.SetMapFrozen(true); }
      ~Notifying() { Memory.SetMapFrozen(false); } // also when a notification halts
    } Inside{Core.Memory};
    EFI_TPL Old = Core.Events.RaiseTpl(TPL_HIGH_LEVEL);
    Core.Events.SignalGroup(CoreGuid::ExitBootServices);
    Core.Events.RestoreTpl(Old);
  }
  // From here on only runtime services remain.
  Core.BootServicesEnded = true;
  Core.Events.ReportArmedTimers();
  Core.Variables->MarkBootServicesEnded();
  Core.SystemTable.BootServices = nullptr;
  Core.SystemTable.ConsoleInHandle = nullptr;
  Core.SystemTable.ConIn = nullptr;
  Core.SystemTable.ConsoleOutHandle = nullptr;
  Core.SystemTable.ConOut = nullptr;
  Core.SystemTable.StandardErrorHandle = nullptr;
  Core.SystemTable.StdErr = nullptr;
  Core.UpdateTableCrcs();
  return EFI_SUCCESS;
}

} // namespace

void Platform::Impl::FillMiscServices() {
  BootServices.CalculateCrc32 = host::CalculateCrc32;
  BootServices.GetNextMonotonicCount = host::GetNextMonotonicCount;
  BootServices.Stall = host::Stall;
  BootServices.SetWatchdogTimer = host::SetWatchdogTimer;
  BootServices.CopyMem = host::CopyMem;
  BootServices.SetMem = host::SetMem;
  BootServices.InstallConfigurationTable = host::InstallConfigurationTable;
  BootServices.ExitBootServices = host::ExitBootServices;
}

void Platform::Impl::InitBootServices() {
  KeepSeamsLinked();
  BootServices.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  BootServices.Hdr.Revision = EFI_SPECIFICATION_VERSION;
  BootServices.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  HandleDatabase::FillServices(BootServices);
  HandleDatabase::FillOpenProtocolServices(BootServices);
  DriverModel::FillServices(BootServices);
  CoreEvents::FillServices(BootServices);
  CoreMemory::FillServices(BootServices);
  ImageTable::FillServices(BootServices);
  FillMiscServices();
}

EFI_STATUS Platform::ExitBootServices() {
  Impl &Core = *Impl_;
  EFI_STATUS Status = EFI_SUCCESS;
  std::optional<Halt> Halted = Core.Images.RunFrame(nullptr, std::string(), [&] {
    Status = Core.BootServices.ExitBootServices(Core.FirmwareHandle, Core.Memory.MapKey());
  });
  return Halted ? EFI_ABORTED : Status;
}

} // namespace host
