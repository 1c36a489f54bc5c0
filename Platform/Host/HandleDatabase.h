// The protocol handler database: handles, the protocol interfaces on them, the opens of each
// interface, and the registrations that wait for an interface to be installed. Host-only; part
// of the core.
#pragma once

#include "CoreReport.h"
#include "Dram.h"
#include "HostPlatform.h"

#include <Uefi.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

namespace host {

class CoreEvents;
class DriverModel;
struct EventRecord;

constexpr uint64_t HandleSignature = 0x454C444E41484F43ull; // "COHANDLE"
constexpr uint64_t RegistrationSignature = 0x4754534947455243ull;

struct HandleRecord;

struct OpenEntry {
  EFI_HANDLE AgentHandle = nullptr;
  EFI_HANDLE ControllerHandle = nullptr;
  UINT32 Attributes = 0;
  UINT32 OpenCount = 0;
};

struct ProtocolInterface {
  EFI_GUID Guid{};
  uint64_t Sequence = 0; // install order, the order LocateHandle and LocateProtocol report
  VOID *Interface = nullptr;
  HandleRecord *Handle = nullptr;
  std::vector<OpenEntry> Opens;
};

struct HandleRecord {
  uint64_t Signature = HandleSignature;
  uint64_t Key = 0; // creation order
  std::vector<std::unique_ptr<ProtocolInterface>> Protocols;
};

struct NotifyRegistration {
  uint64_t Signature = RegistrationSignature;
  EFI_GUID Guid{};
  EventRecord *Event = nullptr;
  std::deque<HandleRecord *> Pending; // handles that gained the protocol since the last lookup
};

class HandleDatabase {
public:
  // Events: a registration's event is signalled on an install, and the database changes at
  // TPL_NOTIFY. The driver model: drivers are asked to stop before an interface they use goes.
  HandleDatabase(CoreEvents &Events, DriverModel &Drivers, CoreReport &Report)
      : Events_(Events), Drivers_(Drivers), Report_(Report) {}
  HandleDatabase(const HandleDatabase &) = delete;
  HandleDatabase &operator=(const HandleDatabase &) = delete;

  static void FillServices(EFI_BOOT_SERVICES &Services);
  static void FillOpenProtocolServices(EFI_BOOT_SERVICES &Services);

  HandleRecord *ValidHandle(EFI_HANDLE Handle) const;
  ProtocolInterface *FindProtocol(HandleRecord *Handle, const EFI_GUID &Guid) const;
  const std::vector<HandleRecord *> &All() const { return Handles_; }        // live, in creation order
  std::vector<ProtocolInterface *> InterfacesOf(const EFI_GUID &Guid) const; // in install order

  EFI_STATUS InstallProtocol(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface, bool Notify);
  EFI_STATUS UninstallProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface);
  void NotifyProtocolInstalled(ProtocolInterface *Protocol);
  void RemoveHandleIfEmpty(HandleRecord *Handle);
  // Keeps a handle even when empty, while a multiple uninstall runs; nullptr lets it go again.
  void Pin(HandleRecord *Handle) { PinnedHandle_ = Handle; }
  EFI_STATUS DisconnectUsers(HandleRecord *Handle, ProtocolInterface *Protocol);

  EFI_STATUS OpenProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID **Interface, EFI_HANDLE Agent,
                          EFI_HANDLE Controller, UINT32 Attributes);
  EFI_STATUS CloseProtocol(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_HANDLE Agent, EFI_HANDLE Controller);

  // While Ram is set, every protocol interface and configuration table installed must lie in it
  // (the board's producers install under this rule): one elsewhere is an error of the boot.
  void RequireRecordsIn(const Dram *Ram) { RecordRam_ = Ram; }
  void CheckRecordInDram(const char *Service, const void *Record);

  NotifyRegistration *ValidRegistration(VOID *Registration) const;
  NotifyRegistration *AddRegistration(const EFI_GUID &Guid, EventRecord *Event);
  void RemoveRegistration(NotifyRegistration *Registration);
  void ForgetEvent(EventRecord *Event); // a closed event's registrations go with it

  DriverModel &Drivers() { return Drivers_; }

private:
  CoreEvents &Events_;
  DriverModel &Drivers_;
  CoreReport &Report_;
  uint64_t NextHandleKey_ = 1;
  uint64_t NextProtocolSequence_ = 1;
  std::vector<HandleRecord *> Handles_; // live, in creation order
  std::unordered_set<HandleRecord *> LiveHandles_;
  std::vector<std::unique_ptr<HandleRecord>> RetiredHandles_; // never reused, so stale handles stay invalid
  std::vector<std::unique_ptr<NotifyRegistration>> Registrations_;
  HandleRecord *PinnedHandle_ = nullptr;
  const Dram *RecordRam_ = nullptr; // RequireRecordsIn
};

} // namespace host
