// OpenProtocol, CloseProtocol and OpenProtocolInformation with the open-list rules of the
// driver model: BY_DRIVER and EXCLUSIVE users, children, and plain lookups.
#include "HandleDatabase.h"

#include "CoreInternal.h"
#include "DriverModel.h"

#include <algorithm>

namespace host {

namespace {

constexpr UINT32 kByDriverExclusive = EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE;

bool IsKnownAttribute(UINT32 Attributes) {
  switch (Attributes) {
  case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
  case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
  case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
  case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
  case EFI_OPEN_PROTOCOL_BY_DRIVER:
  case kByDriverExclusive:
  case EFI_OPEN_PROTOCOL_EXCLUSIVE:
    return true;
  default:
    return false;
  }
}

// What is wrong with the agent and controller handles an attribute requires; empty: nothing.
std::string OpenHandlesProblem(const HandleDatabase &Handles, EFI_HANDLE Handle, EFI_HANDLE Agent,
                               EFI_HANDLE Controller, UINT32 Attributes) {
  const bool NeedsController =
      Attributes == EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER || (Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0;
  const bool NeedsAgent = NeedsController || Attributes == EFI_OPEN_PROTOCOL_EXCLUSIVE;
  if (NeedsAgent && Handles.ValidHandle(Agent) == nullptr) {
    return "an agent that is not a handle";
  }
  if (NeedsController && Handles.ValidHandle(Controller) == nullptr) {
    return "a controller that is not a handle";
  }
  if (Attributes == EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER && Handle == Controller) {
    return "a child that is its own controller";
  }
  return "";
}

// Applies the conflict rules for BY_DRIVER and EXCLUSIVE requests. A request for exclusive
// use asks the drivers that hold the interface BY_DRIVER to let go first.
EFI_STATUS ResolveConflicts(HandleDatabase &Handles, HandleRecord *Handle, const EFI_GUID &Guid,
                            EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes,
                            ProtocolInterface **Protocol) {
  if ((Attributes & (EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE)) == 0) {
    return EFI_SUCCESS;
  }
  bool ByDriver = false;
  bool Exclusive = false;
  for (const OpenEntry &Open : (*Protocol)->Opens) {
    // The same driver for the same controller already has it; the same driver for another
    // controller is just another user.
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0 && Open.AgentHandle == Agent &&
        Open.ControllerHandle == Controller && (Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      return EFI_ALREADY_STARTED;
    }
    ByDriver |= (Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0;
    Exclusive |= (Open.Attributes & EFI_OPEN_PROTOCOL_EXCLUSIVE) != 0;
  }
  if (Exclusive) {
    return EFI_ACCESS_DENIED;
  }
  if (!ByDriver) {
    return EFI_SUCCESS;
  }
  if (Attributes == EFI_OPEN_PROTOCOL_BY_DRIVER) {
    return EFI_ACCESS_DENIED;
  }
  // EXCLUSIVE or BY_DRIVER|EXCLUSIVE: disconnect the drivers that use the interface.
  std::vector<EFI_HANDLE> Drivers;
  for (const OpenEntry &Open : (*Protocol)->Opens) {
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0 &&
        std::find(Drivers.begin(), Drivers.end(), Open.AgentHandle) == Drivers.end()) {
      Drivers.push_back(Open.AgentHandle);
    }
  }
  const VOID *Interface = (*Protocol)->Interface;
  for (EFI_HANDLE Driver : Drivers) {
    Handles.Drivers().DisconnectController(Handle, Driver, nullptr);
  }
  *Protocol = Handles.ValidHandle(Handle) != nullptr ? Handles.FindProtocol(Handle, Guid) : nullptr;
  if (*Protocol == nullptr || (*Protocol)->Interface != Interface) {
    return EFI_UNSUPPORTED;
  }
  for (const OpenEntry &Open : (*Protocol)->Opens) {
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      return EFI_ACCESS_DENIED;
    }
  }
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS HandleDatabase::OpenProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID **Interface,
                                        EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL && Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  HandleRecord *Record = ValidHandle(Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::string Problem = IsKnownAttribute(Attributes)
                            ? OpenHandlesProblem(*this, Handle, Agent, Controller, Attributes)
                            : "attributes " + std::to_string(Attributes) + ", no combination UEFI defines";
  if (!Problem.empty()) {
    Report_.Error("OpenProtocol", "open with " + Problem + ": refused");
    return EFI_INVALID_PARAMETER;
  }
  EFI_STATUS Status = EFI_SUCCESS;
  ProtocolInterface *Protocol = FindProtocol(Record, Guid);
  if (Protocol == nullptr) {
    if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
      *Interface = nullptr;
    }
    return EFI_UNSUPPORTED;
  }
  Status = ResolveConflicts(*this, Record, Guid, Agent, Controller, Attributes, &Protocol);
  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    // EFI_ALREADY_STARTED still hands out the interface the agent already has.
    *Interface = (Status == EFI_SUCCESS || Status == EFI_ALREADY_STARTED) ? Protocol->Interface : nullptr;
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  for (OpenEntry &Open : Protocol->Opens) {
    if (Open.AgentHandle == Agent && Open.ControllerHandle == Controller && Open.Attributes == Attributes) {
      Open.OpenCount++;
      return EFI_SUCCESS;
    }
  }
  Protocol->Opens.push_back({Agent, Controller, Attributes, 1});
  return EFI_SUCCESS;
}

EFI_STATUS HandleDatabase::CloseProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_HANDLE Agent,
                                         EFI_HANDLE Controller) {
  HandleRecord *Record = ValidHandle(Handle);
  if (Record == nullptr || ValidHandle(Agent) == nullptr ||
      (Controller != nullptr && ValidHandle(Controller) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Protocol = FindProtocol(Record, Guid);
  if (Protocol == nullptr) {
    return EFI_NOT_FOUND;
  }
  auto &Opens = Protocol->Opens;
  auto Matches = [&](const OpenEntry &Open) {
    return Open.AgentHandle == Agent && Open.ControllerHandle == Controller;
  };
  auto Removed = std::remove_if(Opens.begin(), Opens.end(), Matches);
  if (Removed == Opens.end()) {
    return EFI_NOT_FOUND;
  }
  Opens.erase(Removed, Opens.end());
  return EFI_SUCCESS;
}

namespace {

EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface,
                               EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes) {
  CORE_BOOT_SERVICE("OpenProtocol");
  if (Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Core.Handles.OpenProtocol(Handle, *Protocol, Interface, AgentHandle, ControllerHandle, Attributes);
}

EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE AgentHandle,
                                EFI_HANDLE ControllerHandle) {
  CORE_BOOT_SERVICE("CloseProtocol");
  if (Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return Core.Handles.CloseProtocol(Handle, *Protocol, AgentHandle, ControllerHandle);
}

EFI_STATUS EFIAPI OpenProtocolInformation(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                          EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer,
                                          UINTN *EntryCount) {
  EFI_HANDLE Caller =
      host::CoreAlive() ? host::Core().Images.CallerImage(__builtin_return_address(0)) : nullptr;
  CORE_BOOT_SERVICE("OpenProtocolInformation");
  HandleRecord *Record = Core.Handles.ValidHandle(Handle);
  if (Record == nullptr || Protocol == nullptr || EntryBuffer == nullptr || EntryCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Found = Core.Handles.FindProtocol(Record, *Protocol);
  if (Found == nullptr) {
    return EFI_NOT_FOUND;
  }
  const size_t Count = Found->Opens.size();
  VOID *Memory = nullptr;
  // One spare entry so that an empty list still yields a buffer the caller can free.
  EFI_STATUS Status = Core.Memory.AllocatePool(
      Caller, EfiBootServicesData, (Count + 1) * sizeof(EFI_OPEN_PROTOCOL_INFORMATION_ENTRY), &Memory);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  auto *Entries = static_cast<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *>(Memory);
  for (size_t Index = 0; Index < Count; Index++) {
    const OpenEntry &Open = Found->Opens[Index];
    Entries[Index] = {Open.AgentHandle, Open.ControllerHandle, Open.Attributes, Open.OpenCount};
  }
  *EntryBuffer = Entries;
  *EntryCount = Count;
  return EFI_SUCCESS;
}

} // namespace

void HandleDatabase::FillOpenProtocolServices(EFI_BOOT_SERVICES &BootServices) {
  BootServices.OpenProtocol = host::OpenProtocol;
  BootServices.CloseProtocol = host::CloseProtocol;
  BootServices.OpenProtocolInformation = host::OpenProtocolInformation;
}

} // namespace host
