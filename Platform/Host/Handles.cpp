// The protocol handler database: handles, protocol interfaces, notifications and lookups.
#include "HandleDatabase.h"

#include "CoreInternal.h"
#include "DriverModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

namespace host {

namespace {

// Holds the database at TPL_NOTIFY while it changes, so that notifications run afterwards.
// Those notifications run in the destructor and may halt the board (an assertion, the
// watchdog): the halt leaves through it like any other, so it must not be noexcept. While
// the stack already unwinds for a halt, the TPL is only put back and nothing more runs.
class TplLock {
public:
  explicit TplLock(CoreEvents &Events) : Events_(Events), Unwinding_(std::uncaught_exceptions()) {
    Old_ = Events_.RaiseTpl(std::max<EFI_TPL>(Events_.CurrentTpl(), TPL_NOTIFY));
  }
  ~TplLock() noexcept(false) {
    if (std::uncaught_exceptions() > Unwinding_) {
      Events_.ResetTpl(Old_);
      return;
    }
    Events_.RestoreTpl(Old_);
  }
  TplLock(const TplLock &) = delete;
  TplLock &operator=(const TplLock &) = delete;

private:
  CoreEvents &Events_;
  int Unwinding_;
  EFI_TPL Old_;
};

} // namespace

HandleRecord *HandleDatabase::ValidHandle(EFI_HANDLE Handle) const {
  auto *Record = static_cast<HandleRecord *>(Handle);
  if (Record == nullptr || LiveHandles_.count(Record) == 0) {
    return nullptr;
  }
  return Record;
}

ProtocolInterface *HandleDatabase::FindProtocol(HandleRecord *Handle, const EFI_GUID &Guid) const {
  for (const auto &Protocol : Handle->Protocols) {
    if (CompareGuidValues(Protocol->Guid, Guid)) {
      return Protocol.get();
    }
  }
  return nullptr;
}

std::vector<ProtocolInterface *> HandleDatabase::InterfacesOf(const EFI_GUID &Guid) const {
  std::vector<ProtocolInterface *> Found;
  for (HandleRecord *Handle : Handles_) {
    if (ProtocolInterface *Protocol = FindProtocol(Handle, Guid)) {
      Found.push_back(Protocol);
    }
  }
  std::sort(Found.begin(), Found.end(),
            [](const ProtocolInterface *A, const ProtocolInterface *B) { return A->Sequence < B->Sequence; });
  return Found;
}

NotifyRegistration *HandleDatabase::ValidRegistration(VOID *Registration) const {
  for (const auto &Entry : Registrations_) {
    if (Entry.get() == Registration) {
      return Entry.get();
    }
  }
  return nullptr;
}

void HandleDatabase::CheckRecordInDram(const char *Service, const void *Record) {
  if (RecordRam_ == nullptr || Record == nullptr ||
      RecordRam_->Contains(reinterpret_cast<uintptr_t>(Record), 1)) {
    return;
  }
  char Address[32];
  std::snprintf(Address, sizeof(Address), "%p", Record);
  Report_.Error("record outside DRAM", std::string(Service) + " of the record at " + Address +
                                           ", which firmware on the board cannot reach");
}

EFI_STATUS HandleDatabase::InstallProtocol(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface,
                                           bool Notify) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  CheckRecordInDram("InstallProtocolInterface", Interface);
  HandleRecord *Record = nullptr;
  if (*Handle != nullptr) {
    Record = ValidHandle(*Handle);
    if (Record == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (FindProtocol(Record, Guid) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  } else {
    RetiredHandles_.push_back(std::make_unique<HandleRecord>());
    Record = RetiredHandles_.back().get();
    Record->Key = NextHandleKey_++;
    Handles_.push_back(Record);
    LiveHandles_.insert(Record);
  }
  auto Protocol = std::make_unique<ProtocolInterface>();
  Protocol->Guid = Guid;
  Protocol->Interface = Interface;
  Protocol->Handle = Record;
  Protocol->Sequence = NextProtocolSequence_++;
  ProtocolInterface *Installed = Protocol.get();
  Record->Protocols.push_back(std::move(Protocol));
  *Handle = Record;
  if (Notify) {
    NotifyProtocolInstalled(Installed);
  }
  return EFI_SUCCESS;
}

void HandleDatabase::NotifyProtocolInstalled(ProtocolInterface *Protocol) {
  for (const auto &Registration : Registrations_) {
    if (CompareGuidValues(Registration->Guid, Protocol->Guid)) {
      Registration->Pending.push_back(Protocol->Handle);
      Events_.SignalEvent(Registration->Event);
    }
  }
}

NotifyRegistration *HandleDatabase::AddRegistration(const EFI_GUID &Guid, EventRecord *Event) {
  auto Entry = std::make_unique<NotifyRegistration>();
  Entry->Guid = Guid;
  Entry->Event = Event;
  Registrations_.push_back(std::move(Entry));
  return Registrations_.back().get();
}

void HandleDatabase::RemoveRegistration(NotifyRegistration *Registration) {
  Registrations_.erase(std::remove_if(Registrations_.begin(), Registrations_.end(),
                                      [&](const auto &Entry) { return Entry.get() == Registration; }),
                       Registrations_.end());
}

void HandleDatabase::ForgetEvent(EventRecord *Event) {
  Registrations_.erase(std::remove_if(Registrations_.begin(), Registrations_.end(),
                                      [&](const auto &Entry) { return Entry->Event == Event; }),
                       Registrations_.end());
}

void HandleDatabase::RemoveHandleIfEmpty(HandleRecord *Handle) {
  if (!Handle->Protocols.empty() || Handle == PinnedHandle_ || LiveHandles_.count(Handle) == 0) {
    return;
  }
  // The record stays allocated (in RetiredHandles_) so that a stale handle never becomes valid.
  Handle->Signature = 0;
  LiveHandles_.erase(Handle);
  Handles_.erase(std::remove(Handles_.begin(), Handles_.end(), Handle), Handles_.end());
  for (const auto &Registration : Registrations_) {
    auto &Pending = Registration->Pending;
    Pending.erase(std::remove(Pending.begin(), Pending.end(), Handle), Pending.end());
  }
}

namespace {
bool HoldsInterface(UINT32 Attributes) {
  return (Attributes & (EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE |
                        EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER)) != 0;
}

ProtocolInterface *Refind(const HandleDatabase &Handles, HandleRecord *Handle, const EFI_GUID &Guid,
                          VOID *Interface) {
  if (Handles.ValidHandle(Handle) == nullptr) {
    return nullptr;
  }
  ProtocolInterface *Protocol = Handles.FindProtocol(Handle, Guid);
  return (Protocol != nullptr && Protocol->Interface == Interface) ? Protocol : nullptr;
}
} // namespace

// Asks every driver that opened the interface BY_DRIVER to stop; the interface may then go
// when only GET_PROTOCOL, TEST_PROTOCOL and BY_HANDLE_PROTOCOL users remain. The drivers' Stop
// (and Start, when they are connected again) run at the caller's TPL, not under the lock.
EFI_STATUS HandleDatabase::DisconnectUsers(HandleRecord *Handle, ProtocolInterface *Protocol) {
  const EFI_GUID Guid = Protocol->Guid;
  VOID *const Interface = Protocol->Interface;
  bool Disconnected = false;
  std::vector<EFI_HANDLE> Tried;
  while (true) {
    Protocol = Refind(*this, Handle, Guid, Interface);
    if (Protocol == nullptr) {
      return EFI_NOT_FOUND;
    }
    EFI_HANDLE Agent = nullptr;
    for (const OpenEntry &Open : Protocol->Opens) {
      if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0 &&
          std::find(Tried.begin(), Tried.end(), Open.AgentHandle) == Tried.end()) {
        Agent = Open.AgentHandle;
        break;
      }
    }
    if (Agent == nullptr) {
      break;
    }
    Tried.push_back(Agent);
    Drivers_.DisconnectController(Handle, Agent, nullptr);
    Disconnected = true;
  }
  bool Held = std::any_of(Protocol->Opens.begin(), Protocol->Opens.end(),
                          [](const OpenEntry &Open) { return HoldsInterface(Open.Attributes); });
  if (Held) {
    if (Disconnected) {
      Drivers_.ConnectController(Handle, nullptr, nullptr, true);
    }
    return EFI_ACCESS_DENIED;
  }
  Protocol->Opens.clear();
  return EFI_SUCCESS;
}

EFI_STATUS HandleDatabase::UninstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface) {
  HandleRecord *Record = ValidHandle(Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Protocol = Refind(*this, Record, Guid, Interface);
  if (Protocol == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS Status = DisconnectUsers(Record, Protocol);
  if (EFI_ERROR(Status)) {
    return Status == EFI_NOT_FOUND ? EFI_NOT_FOUND : EFI_ACCESS_DENIED;
  }
  Protocol = Refind(*this, Record, Guid, Interface);
  if (Protocol == nullptr) {
    return EFI_NOT_FOUND;
  }
  TplLock Lock(Events_);
  auto &List = Record->Protocols;
  List.erase(
      std::remove_if(List.begin(), List.end(), [&](const auto &Entry) { return Entry.get() == Protocol; }),
      List.end());
  RemoveHandleIfEmpty(Record);
  return EFI_SUCCESS;
}

namespace {

EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *Handle, EFI_GUID *Protocol, EFI_INTERFACE_TYPE Type,
                                           VOID *Interface) {
  CORE_BOOT_SERVICE("InstallProtocolInterface");
  if (Protocol == nullptr || Type != EFI_NATIVE_INTERFACE) {
    return EFI_INVALID_PARAMETER;
  }
  TplLock Lock(Core.Events);
  return Core.Handles.InstallProtocol(Handle, *Protocol, Interface, true);
}

EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *Interface) {
  CORE_BOOT_SERVICE("UninstallProtocolInterface");
  if (Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Core.Handles.UninstallProtocol(Handle, *Protocol, Interface);
}

EFI_STATUS EFIAPI ReinstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *OldInterface,
                                             VOID *NewInterface) {
  CORE_BOOT_SERVICE("ReinstallProtocolInterface");
  HandleRecord *Record = Core.Handles.ValidHandle(Handle);
  if (Record == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Found = Refind(Core.Handles, Record, *Protocol, OldInterface);
  if (Found == nullptr) {
    return EFI_NOT_FOUND;
  }
  EFI_STATUS Status = Core.Handles.DisconnectUsers(Record, Found);
  if (EFI_ERROR(Status)) {
    return Status == EFI_NOT_FOUND ? EFI_NOT_FOUND : EFI_ACCESS_DENIED;
  }
  {
    TplLock Lock(Core.Events);
    Found = Refind(Core.Handles, Record, *Protocol, OldInterface);
    if (Found == nullptr) {
      return EFI_NOT_FOUND;
    }
    Core.Handles.CheckRecordInDram("ReinstallProtocolInterface", NewInterface);
    Found->Interface = NewInterface;
    Core.Handles.NotifyProtocolInstalled(Found);
  }
  // Drivers that stopped using the old interface may bind to the new one.
  Core.Drivers.ConnectController(Handle, nullptr, nullptr, true);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  CORE_BOOT_SERVICE("HandleProtocol");
  if (Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Core.Handles.OpenProtocol(Handle, *Protocol, Interface, Core.FirmwareHandle, nullptr,
                                   EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
}

EFI_STATUS EFIAPI RegisterProtocolNotify(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  CORE_BOOT_SERVICE("RegisterProtocolNotify");
  if (Registration == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Event == nullptr) {
    // A NULL event removes the registration given.
    NotifyRegistration *Existing = Core.Handles.ValidRegistration(*Registration);
    if (Existing == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    Core.Handles.RemoveRegistration(Existing);
    return EFI_SUCCESS;
  }
  EventRecord *Record = Core.Events.ValidEvent(Event);
  if (Protocol == nullptr || Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Registration = Core.Handles.AddRegistration(*Protocol, Record);
  return EFI_SUCCESS;
}

// The next handle a registration has seen gain its protocol, dropping ones that lost it since.
HandleRecord *NextNotified(const HandleDatabase &Handles, NotifyRegistration *Registration, bool Consume) {
  auto &Pending = Registration->Pending;
  while (!Pending.empty()) {
    HandleRecord *Handle = Pending.front();
    if (Handles.ValidHandle(Handle) != nullptr &&
        Handles.FindProtocol(Handle, Registration->Guid) != nullptr) {
      if (Consume) {
        Pending.pop_front();
      }
      return Handle;
    }
    Pending.pop_front();
  }
  return nullptr;
}

EFI_STATUS CollectHandles(const HandleDatabase &Handles, EFI_LOCATE_SEARCH_TYPE SearchType,
                          EFI_GUID *Protocol, VOID *SearchKey, std::vector<EFI_HANDLE> &Found,
                          NotifyRegistration **Registration) {
  switch (SearchType) {
  case AllHandles:
    Found.assign(Handles.All().begin(), Handles.All().end());
    break;
  case ByProtocol:
    if (Protocol == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    for (ProtocolInterface *Interface : Handles.InterfacesOf(*Protocol)) {
      Found.push_back(Interface->Handle);
    }
    break;
  case ByRegisterNotify: {
    *Registration = Handles.ValidRegistration(SearchKey);
    if (*Registration == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (HandleRecord *Handle = NextNotified(Handles, *Registration, false)) {
      Found.push_back(Handle);
    }
    break;
  }
  default:
    return EFI_INVALID_PARAMETER;
  }
  return Found.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                               UINTN *BufferSize, EFI_HANDLE *Buffer) {
  CORE_BOOT_SERVICE("LocateHandle");
  if (BufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found;
  NotifyRegistration *Registration = nullptr;
  EFI_STATUS Status = CollectHandles(Core.Handles, SearchType, Protocol, SearchKey, Found, &Registration);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::memcpy(Buffer, Found.data(), Needed);
  *BufferSize = Needed;
  if (Registration != nullptr) {
    NextNotified(Core.Handles, Registration, true);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                                     UINTN *NoHandles, EFI_HANDLE **Buffer) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("LocateHandleBuffer");
  if (NoHandles == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *NoHandles = 0;
  *Buffer = nullptr;
  std::vector<EFI_HANDLE> Found;
  NotifyRegistration *Registration = nullptr;
  EFI_STATUS Status = CollectHandles(Core.Handles, SearchType, Protocol, SearchKey, Found, &Registration);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  VOID *Memory = nullptr;
  Status = Core.Memory.AllocatePool(Caller, EfiBootServicesData, Found.size() * sizeof(EFI_HANDLE), &Memory);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  std::memcpy(Memory, Found.data(), Found.size() * sizeof(EFI_HANDLE));
  *Buffer = static_cast<EFI_HANDLE *>(Memory);
  *NoHandles = Found.size();
  if (Registration != nullptr) {
    NextNotified(Core.Handles, Registration, true);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  CORE_BOOT_SERVICE("LocateProtocol");
  if (Interface == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  if (Registration != nullptr) {
    NotifyRegistration *Entry = Core.Handles.ValidRegistration(Registration);
    if (Entry == nullptr) {
      return EFI_NOT_FOUND;
    }
    HandleRecord *Handle = NextNotified(Core.Handles, Entry, true);
    if (Handle == nullptr) {
      return EFI_NOT_FOUND;
    }
    *Interface = Core.Handles.FindProtocol(Handle, *Protocol)
                     ? Core.Handles.FindProtocol(Handle, *Protocol)->Interface
                     : nullptr;
    return EFI_SUCCESS;
  }
  std::vector<ProtocolInterface *> Found = Core.Handles.InterfacesOf(*Protocol);
  if (Found.empty()) {
    return EFI_NOT_FOUND;
  }
  *Interface = Found.front()->Interface;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer,
                                     UINTN *ProtocolBufferCount) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("ProtocolsPerHandle");
  HandleRecord *Record = Core.Handles.ValidHandle(Handle);
  if (Record == nullptr || ProtocolBuffer == nullptr || ProtocolBufferCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  VOID *Memory = nullptr;
  EFI_STATUS Status = Core.Memory.AllocatePool(Caller, EfiBootServicesData,
                                               Record->Protocols.size() * sizeof(EFI_GUID *), &Memory);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  auto **Guids = static_cast<EFI_GUID **>(Memory);
  for (size_t Index = 0; Index < Record->Protocols.size(); Index++) {
    Guids[Index] = &Record->Protocols[Index]->Guid;
  }
  *ProtocolBuffer = Guids;
  *ProtocolBufferCount = Record->Protocols.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateDevicePath(EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                   EFI_HANDLE *Device) {
  CORE_BOOT_SERVICE("LocateDevicePath");
  if (Protocol == nullptr || DevicePath == nullptr || *DevicePath == nullptr || Device == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const auto *Source = reinterpret_cast<const uint8_t *>(*DevicePath);
  const size_t SourceSize = DevicePathInstanceSize(*DevicePath);
  HandleRecord *Best = nullptr;
  size_t BestSize = 0;
  for (ProtocolInterface *Interface : Core.Handles.InterfacesOf(*Protocol)) {
    ProtocolInterface *Path = Core.Handles.FindProtocol(Interface->Handle, CoreGuid::DevicePath);
    if (Path == nullptr || Path->Interface == nullptr) {
      continue;
    }
    const auto *HandlePath = static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Path->Interface);
    size_t Size = DevicePathInstanceSize(HandlePath);
    if (Size > SourceSize || std::memcmp(HandlePath, Source, Size) != 0) {
      continue;
    }
    if (Best == nullptr || Size > BestSize) {
      Best = Interface->Handle;
      BestSize = Size;
    }
  }
  if (Best == nullptr) {
    return EFI_NOT_FOUND;
  }
  *Device = Best;
  *DevicePath = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(const_cast<uint8_t *>(Source + BestSize));
  return EFI_SUCCESS;
}

// True when a handle already carries exactly this device path.
bool DevicePathInUse(const HandleDatabase &Handles, const EFI_DEVICE_PATH_PROTOCOL *Path) {
  if (Path == nullptr) {
    return false;
  }
  size_t Size = DevicePathInstanceSize(Path);
  for (ProtocolInterface *Interface : Handles.InterfacesOf(CoreGuid::DevicePath)) {
    const auto *Other = static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Interface->Interface);
    if (Other != nullptr && DevicePathInstanceSize(Other) == Size && std::memcmp(Other, Path, Size) == 0) {
      return true;
    }
  }
  return false;
}

EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  CORE_BOOT_SERVICE("InstallMultipleProtocolInterfaces");
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TplLock Lock(Core.Events);
  const EFI_HANDLE Original = *Handle;
  std::vector<std::pair<EFI_GUID, VOID *>> Installed;
  EFI_STATUS Status = EFI_SUCCESS;
  va_list Args;
  va_start(Args, Handle);
  while (true) {
    auto *Guid = va_arg(Args, EFI_GUID *);
    if (Guid == nullptr) {
      break;
    }
    VOID *Interface = va_arg(Args, VOID *);
    if (CompareGuidValues(*Guid, CoreGuid::DevicePath) &&
        DevicePathInUse(Core.Handles, static_cast<const EFI_DEVICE_PATH_PROTOCOL *>(Interface))) {
      Status = EFI_ALREADY_STARTED;
      break;
    }
    Status = Core.Handles.InstallProtocol(Handle, *Guid, Interface, true);
    if (EFI_ERROR(Status)) {
      break;
    }
    Installed.emplace_back(*Guid, Interface);
  }
  va_end(Args);
  if (EFI_ERROR(Status)) {
    for (auto Entry = Installed.rbegin(); Entry != Installed.rend(); ++Entry) {
      Core.Handles.UninstallProtocol(*Handle, Entry->first, Entry->second);
    }
    *Handle = Original;
  }
  return Status;
}

EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  CORE_BOOT_SERVICE("UninstallMultipleProtocolInterfaces");
  HandleRecord *Record = Core.Handles.ValidHandle(Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // The handle must survive a partial removal so that a failure can restore it as it was.
  // Each removal takes the lock itself: the drivers asked to stop run at the caller's TPL.
  Core.Handles.Pin(Record);
  std::vector<std::pair<EFI_GUID, VOID *>> Removed;
  EFI_STATUS Status = EFI_SUCCESS;
  va_list Args;
  va_start(Args, Handle);
  while (true) {
    auto *Guid = va_arg(Args, EFI_GUID *);
    if (Guid == nullptr) {
      break;
    }
    VOID *Interface = va_arg(Args, VOID *);
    Status = Core.Handles.UninstallProtocol(Handle, *Guid, Interface);
    if (EFI_ERROR(Status)) {
      break;
    }
    Removed.emplace_back(*Guid, Interface);
  }
  va_end(Args);
  Core.Handles.Pin(nullptr);
  if (EFI_ERROR(Status)) {
    TplLock Lock(Core.Events);
    EFI_HANDLE Target = Handle;
    for (auto Entry = Removed.rbegin(); Entry != Removed.rend(); ++Entry) {
      Core.Handles.InstallProtocol(&Target, Entry->first, Entry->second, true);
    }
  }
  Core.Handles.RemoveHandleIfEmpty(Record);
  return EFI_ERROR(Status) ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
}

} // namespace

void HandleDatabase::FillServices(EFI_BOOT_SERVICES &BootServices) {
  BootServices.InstallProtocolInterface = host::InstallProtocolInterface;
  BootServices.ReinstallProtocolInterface = host::ReinstallProtocolInterface;
  BootServices.UninstallProtocolInterface = host::UninstallProtocolInterface;
  BootServices.HandleProtocol = host::HandleProtocol;
  BootServices.RegisterProtocolNotify = host::RegisterProtocolNotify;
  BootServices.LocateHandle = host::LocateHandle;
  BootServices.LocateHandleBuffer = host::LocateHandleBuffer;
  BootServices.LocateProtocol = host::LocateProtocol;
  BootServices.ProtocolsPerHandle = host::ProtocolsPerHandle;
  BootServices.LocateDevicePath = host::LocateDevicePath;
  BootServices.InstallMultipleProtocolInterfaces = host::InstallMultipleProtocolInterfaces;
  BootServices.UninstallMultipleProtocolInterfaces = host::UninstallMultipleProtocolInterfaces;
}

} // namespace host
