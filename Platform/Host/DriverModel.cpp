// ConnectController and DisconnectController: the driver model's Supported/Start/Stop calls.
#include "DriverModel.h"

#include "CoreInternal.h"
#include "FirmwareCall.h"
#include "GuestProcessor.h"

#include <algorithm>

namespace host {

namespace {

struct DriverCandidate {
  EFI_HANDLE BindingHandle;
  EFI_DRIVER_BINDING_PROTOCOL *Binding;
};

EFI_DRIVER_BINDING_PROTOCOL *BindingOn(const HandleDatabase &Handles, EFI_HANDLE Handle) {
  HandleRecord *Record = Handles.ValidHandle(Handle);
  ProtocolInterface *Protocol =
      Record != nullptr ? Handles.FindProtocol(Record, CoreGuid::DriverBinding) : nullptr;
  return Protocol != nullptr ? static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(Protocol->Interface) : nullptr;
}

template <class Protocol>
Protocol *InterfaceOn(const HandleDatabase &Handles, EFI_HANDLE Handle, const EFI_GUID &Guid) {
  HandleRecord *Record = Handles.ValidHandle(Handle);
  ProtocolInterface *Found = Record != nullptr ? Handles.FindProtocol(Record, Guid) : nullptr;
  return Found != nullptr ? static_cast<Protocol *>(Found->Interface) : nullptr;
}

// Every Driver Binding, in install order.
std::vector<DriverCandidate> AllBindings(const HandleDatabase &Handles) {
  std::vector<DriverCandidate> List;
  for (ProtocolInterface *Protocol : Handles.InterfacesOf(CoreGuid::DriverBinding)) {
    if (auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(Protocol->Interface)) {
      List.push_back({Protocol->Handle, Binding});
    }
  }
  return List;
}

// Appends the bindings a driver image handle stands for (installed on it, or produced by that
// image) that are not in the list yet.
void AddDriver(const std::vector<DriverCandidate> &All, EFI_HANDLE Driver,
               std::vector<DriverCandidate> &List) {
  for (const DriverCandidate &Candidate : All) {
    const bool Matches = Candidate.BindingHandle == Driver || Candidate.Binding->ImageHandle == Driver;
    const bool Listed = std::any_of(List.begin(), List.end(),
                                    [&](const DriverCandidate &C) { return C.Binding == Candidate.Binding; });
    if (Matches && !Listed) {
      List.push_back(Candidate);
    }
  }
}

// Walks an override's GetDriver list (NULL in, then each handle it gave, until an error). The
// handle goes back and forth in Slot, where the override's code can write it.
template <class Next>
void AddOverrideList(const std::vector<DriverCandidate> &All, Next GetNext, EFI_HANDLE *Slot,
                     std::vector<DriverCandidate> &List) {
  constexpr int kMaxOverrides = 256; // an override that never ends its list stops here
  *Slot = nullptr;
  for (int Count = 0; Count < kMaxOverrides && !EFI_ERROR(GetNext(Slot)) && *Slot != nullptr; Count++) {
    AddDriver(All, *Slot, List);
  }
}

// The drivers to try, in the order UEFI gives: the caller's list, the platform driver override,
// drivers with a family override (highest family version first), the bus-specific override of
// the controller, then every other Driver Binding by descending Version (install order among
// equals).
// The overrides are firmware's: called through the processor when the images run on it, with
// the handle in a slot of DRAM (Slot).
std::vector<DriverCandidate> Candidates(const HandleDatabase &Handles, EFI_HANDLE Controller,
                                        EFI_HANDLE *DriverImageHandles, cpu::Aarch64Cpu *Processor,
                                        EFI_HANDLE *Slot) {
  const std::vector<DriverCandidate> All = AllBindings(Handles);
  std::vector<DriverCandidate> List;
  for (EFI_HANDLE *Entry = DriverImageHandles; Entry != nullptr && *Entry != nullptr; Entry++) {
    AddDriver(All, *Entry, List);
  }
  for (ProtocolInterface *Protocol : Handles.InterfacesOf(CoreGuid::PlatformDriverOverride)) {
    auto *Platform = static_cast<EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL *>(Protocol->Interface);
    if (Platform != nullptr && Platform->GetDriver != nullptr) {
      AddOverrideList(
          All,
          [&](EFI_HANDLE *Driver) {
            return cpu::CallFirmware(Processor, Platform->GetDriver, Platform, Controller, Driver);
          },
          Slot, List);
    }
  }
  std::vector<std::pair<UINT32, DriverCandidate>> Family;
  for (const DriverCandidate &Candidate : All) {
    auto *Override = InterfaceOn<EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL>(Handles, Candidate.BindingHandle,
                                                                      CoreGuid::DriverFamilyOverride);
    if (Override != nullptr && Override->GetVersion != nullptr) {
      Family.emplace_back(cpu::CallFirmware(Processor, Override->GetVersion, Override), Candidate);
    }
  }
  std::stable_sort(Family.begin(), Family.end(),
                   [](const auto &A, const auto &B) { return A.first > B.first; });
  for (const auto &[Version, Candidate] : Family) {
    AddDriver(All, Candidate.BindingHandle, List);
  }
  auto *Bus = InterfaceOn<EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL>(Handles, Controller,
                                                                     CoreGuid::BusSpecificDriverOverride);
  if (Bus != nullptr && Bus->GetDriver != nullptr) {
    AddOverrideList(
        All, [&](EFI_HANDLE *Driver) { return cpu::CallFirmware(Processor, Bus->GetDriver, Bus, Driver); },
        Slot, List);
  }
  std::vector<DriverCandidate> Others = All;
  std::stable_sort(Others.begin(), Others.end(), [](const DriverCandidate &A, const DriverCandidate &B) {
    return A.Binding->Version > B.Binding->Version;
  });
  for (const DriverCandidate &Candidate : Others) {
    AddDriver(All, Candidate.BindingHandle, List);
  }
  return List;
}

std::vector<EFI_HANDLE> ChildrenOf(const HandleDatabase &Handles, HandleRecord *Controller,
                                   EFI_HANDLE Driver) {
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

EFI_STATUS DriverModel::ConnectController(EFI_HANDLE Controller, EFI_HANDLE *DriverImageHandles,
                                          EFI_DEVICE_PATH_PROTOCOL *Remaining, bool Recursive) {
  if (Handles_.ValidHandle(Controller) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Drivers that started, or whose Start failed, are not asked again; a driver that refused
  // is asked again after another one started, as that may have made it applicable.
  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Done;
  bool AnyStarted = false;
  bool StartedOne = true;
  cpu::Aarch64Cpu *const Processor = Images_.Processor();
  // After every successful Start the list is rebuilt: Start may have installed new drivers.
  while (StartedOne && Handles_.ValidHandle(Controller) != nullptr) {
    StartedOne = false;
    EFI_HANDLE Local = nullptr;
    EFI_HANDLE *Slot = Images_.Guest() != nullptr ? Images_.Guest()->HandleSlot() : &Local;
    for (const DriverCandidate &Candidate :
         Candidates(Handles_, Controller, DriverImageHandles, Processor, Slot)) {
      if (std::find(Done.begin(), Done.end(), Candidate.Binding) != Done.end()) {
        continue;
      }
      ImageScope Scope(Images_, Candidate.Binding->ImageHandle);
      // A warning from Supported is not a refusal.
      if (EFI_ERROR(cpu::CallFirmware(Processor, Candidate.Binding->Supported, Candidate.Binding, Controller,
                                      Remaining))) {
        continue;
      }
      Done.push_back(Candidate.Binding);
      EFI_STATUS Status =
          cpu::CallFirmware(Processor, Candidate.Binding->Start, Candidate.Binding, Controller, Remaining);
      Report_.LogLine("connect: " + Report_.CurrentImageName() + " Start on handle " +
                      std::to_string(static_cast<HandleRecord *>(Controller)->Key) + ": " +
                      StatusName(Status));
      if (!EFI_ERROR(Status)) {
        AnyStarted = true;
        StartedOne = true;
        break;
      }
    }
  }
  if (Recursive && Handles_.ValidHandle(Controller) != nullptr) {
    for (EFI_HANDLE Child : ChildrenOf(Handles_, Handles_.ValidHandle(Controller), nullptr)) {
      if (Handles_.ValidHandle(Child) != nullptr) {
        ConnectController(Child, nullptr, nullptr, true);
      }
    }
  }
  // An end node asks for no child to be made: nothing to start is then not a failure.
  const bool EndNode = Remaining != nullptr && IsDevicePathEndNode(Remaining);
  return (AnyStarted || EndNode) ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_STATUS DriverModel::DisconnectController(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child) {
  HandleRecord *Record = Handles_.ValidHandle(Controller);
  if (Record == nullptr || (Driver != nullptr && Handles_.ValidHandle(Driver) == nullptr) ||
      (Child != nullptr && Handles_.ValidHandle(Child) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  bool AnyStopped = false;
  bool AnyFailed = false;
  cpu::Aarch64Cpu *const Processor = Images_.Processor();
  for (EFI_HANDLE Agent : ManagingDrivers(Record)) {
    if (Driver != nullptr && Agent != Driver) {
      continue;
    }
    EFI_DRIVER_BINDING_PROTOCOL *Binding = BindingOn(Handles_, Agent);
    Record = Handles_.ValidHandle(Controller);
    if (Binding == nullptr || Record == nullptr) {
      AnyFailed = true;
      continue;
    }
    std::vector<EFI_HANDLE> Children = ChildrenOf(Handles_, Record, Agent);
    if (Child != nullptr && std::find(Children.begin(), Children.end(), Child) == Children.end()) {
      continue;
    }
    ImageScope Scope(Images_, Binding->ImageHandle);
    EFI_STATUS Status = EFI_SUCCESS;
    size_t Stopping = 0;
    if (!Children.empty()) {
      if (Child != nullptr) {
        Stopping = 1;
        Status = cpu::CallFirmware(Processor, Binding->Stop, Binding, Controller, UINTN{1}, &Child);
      } else {
        Stopping = Children.size();
        Status = cpu::CallFirmware(Processor, Binding->Stop, Binding, Controller, Children.size(),
                                   Children.data());
      }
    }
    if (!EFI_ERROR(Status) && (Child == nullptr || Children.size() == Stopping)) {
      Status = cpu::CallFirmware(Processor, Binding->Stop, Binding, Controller, UINTN{0},
                                 static_cast<EFI_HANDLE *>(nullptr));
    }
    Report_.LogLine("disconnect: " + Report_.CurrentImageName() + " Stop: " + StatusName(Status));
    (EFI_ERROR(Status) ? AnyFailed : AnyStopped) = true;
  }
  return (AnyFailed && !AnyStopped) ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

namespace {

EFI_STATUS EFIAPI ConnectController(EFI_HANDLE ControllerHandle, EFI_HANDLE *DriverImageHandle,
                                    EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath, BOOLEAN Recursive) {
  CORE_BOOT_SERVICE("ConnectController");
  return Core.Drivers.ConnectController(ControllerHandle, DriverImageHandle, RemainingDevicePath,
                                        Recursive != FALSE);
}

EFI_STATUS EFIAPI DisconnectController(EFI_HANDLE ControllerHandle, EFI_HANDLE DriverImageHandle,
                                       EFI_HANDLE ChildHandle) {
  CORE_BOOT_SERVICE("DisconnectController");
  return Core.Drivers.DisconnectController(ControllerHandle, DriverImageHandle, ChildHandle);
}

} // namespace

void DriverModel::FillServices(EFI_BOOT_SERVICES &BootServices) {
  BootServices.ConnectController = host::ConnectController;
  BootServices.DisconnectController = host::DisconnectController;
}

} // namespace host
