// ConnectController and DisconnectController: the driver model's Supported/Start/Stop calls.
#include "CoreInternal.h"

#include <algorithm>

namespace host {

namespace {

struct DriverCandidate {
  EFI_HANDLE BindingHandle;
  EFI_DRIVER_BINDING_PROTOCOL *Binding;
};

EFI_DRIVER_BINDING_PROTOCOL *BindingOn(Platform::Impl &Core, EFI_HANDLE Handle) {
  HandleRecord *Record = Core.ValidHandle(Handle);
  ProtocolInterface *Protocol =
      Record != nullptr ? Core.FindProtocol(Record, CoreGuid::DriverBinding) : nullptr;
  return Protocol != nullptr ? static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(Protocol->Interface) : nullptr;
}

// The drivers to try, in order: the ones the caller names, then every Driver Binding by
// descending Version (install order among equal versions).
std::vector<DriverCandidate> Candidates(Platform::Impl &Core, EFI_HANDLE *DriverImageHandles) {
  std::vector<DriverCandidate> List;
  for (EFI_HANDLE *Entry = DriverImageHandles; Entry != nullptr && *Entry != nullptr; Entry++) {
    if (EFI_DRIVER_BINDING_PROTOCOL *Binding = BindingOn(Core, *Entry)) {
      List.push_back({*Entry, Binding});
    }
  }
  std::vector<DriverCandidate> Others;
  for (ProtocolInterface *Protocol : Core.InterfacesOf(CoreGuid::DriverBinding)) {
    auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(Protocol->Interface);
    if (Binding == nullptr) {
      continue;
    }
    bool Named =
        std::any_of(List.begin(), List.end(), [&](const DriverCandidate &C) { return C.Binding == Binding; });
    if (!Named) {
      Others.push_back({Protocol->Handle, Binding});
    }
  }
  std::stable_sort(Others.begin(), Others.end(), [](const DriverCandidate &A, const DriverCandidate &B) {
    return A.Binding->Version > B.Binding->Version;
  });
  List.insert(List.end(), Others.begin(), Others.end());
  return List;
}

std::vector<EFI_HANDLE> ChildrenOf(Platform::Impl &Core, HandleRecord *Controller, EFI_HANDLE Driver) {
  std::vector<EFI_HANDLE> Children;
  for (const auto &Protocol : Controller->Protocols) {
    for (const OpenEntry &Open : Protocol->Opens) {
      if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) != 0 &&
          (Driver == nullptr || Open.AgentHandle == Driver) &&
          std::find(Children.begin(), Children.end(), Open.ControllerHandle) == Children.end()) {
        Children.push_back(Open.ControllerHandle);
      }
    }
  }
  return Children;
}

std::vector<EFI_HANDLE> ManagingDrivers(HandleRecord *Controller) {
  std::vector<EFI_HANDLE> Drivers;
  for (const auto &Protocol : Controller->Protocols) {
    for (const OpenEntry &Open : Protocol->Opens) {
      if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0 &&
          std::find(Drivers.begin(), Drivers.end(), Open.AgentHandle) == Drivers.end()) {
        Drivers.push_back(Open.AgentHandle);
      }
    }
  }
  return Drivers;
}

} // namespace

EFI_STATUS Platform::Impl::ConnectController(EFI_HANDLE Controller, EFI_HANDLE *DriverImageHandles,
                                             EFI_DEVICE_PATH_PROTOCOL *Remaining, bool Recursive) {
  if (ValidHandle(Controller) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Tried;
  bool AnyStarted = false;
  bool StartedOne = true;
  // After every successful Start the list is rebuilt: Start may have installed new drivers.
  while (StartedOne && ValidHandle(Controller) != nullptr) {
    StartedOne = false;
    for (const DriverCandidate &Candidate : Candidates(*this, DriverImageHandles)) {
      if (std::find(Tried.begin(), Tried.end(), Candidate.Binding) != Tried.end()) {
        continue;
      }
      Tried.push_back(Candidate.Binding);
      ImageScope Scope(*this, Candidate.Binding->ImageHandle);
      if (Candidate.Binding->Supported(Candidate.Binding, Controller, Remaining) != EFI_SUCCESS) {
        continue;
      }
      EFI_STATUS Status = Candidate.Binding->Start(Candidate.Binding, Controller, Remaining);
      LogLine("connect: " + CurrentImageName() + " Start on handle " +
              std::to_string(static_cast<HandleRecord *>(Controller)->Key) + ": " + StatusName(Status));
      if (!EFI_ERROR(Status)) {
        AnyStarted = true;
        StartedOne = true;
        break;
      }
    }
  }
  if (Recursive && ValidHandle(Controller) != nullptr) {
    for (EFI_HANDLE Child : ChildrenOf(*this, ValidHandle(Controller), nullptr)) {
      if (ValidHandle(Child) != nullptr) {
        ConnectController(Child, nullptr, nullptr, true);
      }
    }
  }
  return AnyStarted ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_STATUS Platform::Impl::DisconnectController(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child) {
  HandleRecord *Record = ValidHandle(Controller);
  if (Record == nullptr || (Driver != nullptr && ValidHandle(Driver) == nullptr) ||
      (Child != nullptr && ValidHandle(Child) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  bool AnyStopped = false;
  bool AnyFailed = false;
  for (EFI_HANDLE Agent : ManagingDrivers(Record)) {
    if (Driver != nullptr && Agent != Driver) {
      continue;
    }
    EFI_DRIVER_BINDING_PROTOCOL *Binding = BindingOn(*this, Agent);
    Record = ValidHandle(Controller);
    if (Binding == nullptr || Record == nullptr) {
      AnyFailed = true;
      continue;
    }
    std::vector<EFI_HANDLE> Children = ChildrenOf(*this, Record, Agent);
    if (Child != nullptr && std::find(Children.begin(), Children.end(), Child) == Children.end()) {
      continue;
    }
    ImageScope Scope(*this, Binding->ImageHandle);
    EFI_STATUS Status = EFI_SUCCESS;
    size_t Stopping = 0;
    if (!Children.empty()) {
      if (Child != nullptr) {
        Stopping = 1;
        Status = Binding->Stop(Binding, Controller, 1, &Child);
      } else {
        Stopping = Children.size();
        Status = Binding->Stop(Binding, Controller, Children.size(), Children.data());
      }
    }
    if (!EFI_ERROR(Status) && (Child == nullptr || Children.size() == Stopping)) {
      Status = Binding->Stop(Binding, Controller, 0, nullptr);
    }
    LogLine("disconnect: " + CurrentImageName() + " Stop: " + StatusName(Status));
    (EFI_ERROR(Status) ? AnyFailed : AnyStopped) = true;
  }
  return (AnyFailed && !AnyStopped) ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

namespace {

EFI_STATUS EFIAPI ConnectController(EFI_HANDLE ControllerHandle, EFI_HANDLE *DriverImageHandle,
                                    EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath, BOOLEAN Recursive) {
  CORE_BOOT_SERVICE("ConnectController");
  return Core.ConnectController(ControllerHandle, DriverImageHandle, RemainingDevicePath, Recursive != FALSE);
}

EFI_STATUS EFIAPI DisconnectController(EFI_HANDLE ControllerHandle, EFI_HANDLE DriverImageHandle,
                                       EFI_HANDLE ChildHandle) {
  CORE_BOOT_SERVICE("DisconnectController");
  return Core.DisconnectController(ControllerHandle, DriverImageHandle, ChildHandle);
}

} // namespace

void Platform::Impl::FillDriverModelServices() {
  BootServices.ConnectController = host::ConnectController;
  BootServices.DisconnectController = host::DisconnectController;
}

} // namespace host
