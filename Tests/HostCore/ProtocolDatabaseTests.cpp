// The handle database: installation rules, lookups, notifications and device paths.
#include "CoreTestSupport.h"

#include <HostAbi.h>

#include <cstring>

using namespace coretest;

namespace {

class ProtocolDatabase : public CoreTest {};

TEST_F(ProtocolDatabase, InstallLocateAndUninstallFollowTheRules) {
  int A = 1;
  int B = 2;
  EFI_HANDLE Handle = NewHandle(kGuidA, &A);
  EFI_GUID GuidA = kGuidA;
  EFI_GUID GuidB = kGuidB;
  // The same protocol twice on one handle is refused; a second protocol is fine.
  EXPECT_EQ(BS->InstallProtocolInterface(&Handle, &GuidA, EFI_NATIVE_INTERFACE, &B), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->InstallProtocolInterface(&Handle, &GuidB, EFI_NATIVE_INTERFACE, &B), EFI_SUCCESS);

  VOID *Found = nullptr;
  EXPECT_EQ(BS->LocateProtocol(&GuidA, nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &A);
  EXPECT_EQ(BS->HandleProtocol(Handle, &GuidB, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &B);

  // Uninstall needs the interface that was installed.
  EXPECT_EQ(BS->UninstallProtocolInterface(Handle, &GuidA, &B), EFI_NOT_FOUND);
  EXPECT_EQ(BS->UninstallProtocolInterface(Handle, &GuidA, &A), EFI_SUCCESS);
  EXPECT_EQ(BS->LocateProtocol(&GuidA, nullptr, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Found, nullptr);
  // The handle goes with its last protocol and stays invalid.
  EXPECT_EQ(BS->UninstallProtocolInterface(Handle, &GuidB, &B), EFI_SUCCESS);
  EXPECT_EQ(BS->HandleProtocol(Handle, &GuidB, &Found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->InstallProtocolInterface(&Handle, &GuidB, EFI_NATIVE_INTERFACE, &B), EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolDatabase, LocateHandleReportsSizesAndInstallOrder) {
  int A = 0;
  EFI_HANDLE First = NewHandle(kGuidA, &A);
  EFI_HANDLE Second = NewHandle(kGuidA, &A);
  EFI_GUID Guid = kGuidA;
  UINTN Size = 0;
  EXPECT_EQ(BS->LocateHandle(ByProtocol, &Guid, nullptr, &Size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, 2 * sizeof(EFI_HANDLE));
  EFI_HANDLE Handles[2] = {};
  EXPECT_EQ(BS->LocateHandle(ByProtocol, &Guid, nullptr, &Size, Handles), EFI_SUCCESS);
  EXPECT_EQ(Handles[0], First);
  EXPECT_EQ(Handles[1], Second);
  EFI_GUID Missing = kGuidC;
  EXPECT_EQ(BS->LocateHandle(ByProtocol, &Missing, nullptr, &Size, Handles), EFI_NOT_FOUND);

  UINTN Count = 0;
  EFI_HANDLE *Buffer = nullptr;
  ASSERT_EQ(BS->LocateHandleBuffer(ByProtocol, &Guid, nullptr, &Count, &Buffer), EFI_SUCCESS);
  EXPECT_EQ(Count, 2u);
  EXPECT_EQ(BS->FreePool(Buffer), EFI_SUCCESS);

  EFI_GUID **Guids = nullptr;
  ASSERT_EQ(BS->ProtocolsPerHandle(First, &Guids, &Count), EFI_SUCCESS);
  ASSERT_EQ(Count, 1u);
  EXPECT_TRUE(CompareGuidValues(*Guids[0], kGuidA));
  EXPECT_EQ(BS->FreePool(Guids), EFI_SUCCESS);
  EXPECT_TRUE(Board.MemoryErrors().empty());
}

TEST_F(ProtocolDatabase, InstallMultipleIsAllOrNothing) {
  int A = 0;
  int B = 0;
  EFI_HANDLE Handle = NewHandle(kGuidB, &B);
  EFI_GUID GuidA = kGuidA;
  EFI_GUID GuidB = kGuidB;
  // kGuidB is already there: kGuidA, installed first, must be rolled back.
  EXPECT_EQ(BS->InstallMultipleProtocolInterfaces(&Handle, &GuidA, &A, &GuidB, &B, nullptr),
            EFI_INVALID_PARAMETER);
  VOID *Found = nullptr;
  EXPECT_EQ(BS->HandleProtocol(Handle, &GuidA, &Found), EFI_UNSUPPORTED);

  // A second handle with the same device path is refused.
  struct {
    VENDOR_DEVICE_PATH Vendor;
    EFI_DEVICE_PATH_PROTOCOL End;
  } Path = {{{HARDWARE_DEVICE_PATH, HW_VENDOR_DP, {sizeof(VENDOR_DEVICE_PATH), 0}}, kGuidC},
            {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}}};
  auto Copy = Path;
  EFI_GUID PathGuid = kDevicePathGuid;
  EFI_HANDLE One = nullptr;
  EFI_HANDLE Two = nullptr;
  EXPECT_EQ(BS->InstallMultipleProtocolInterfaces(&One, &PathGuid, &Path, nullptr), EFI_SUCCESS);
  EXPECT_EQ(BS->InstallMultipleProtocolInterfaces(&Two, &PathGuid, &Copy, &GuidA, &A, nullptr),
            EFI_ALREADY_STARTED);
  EXPECT_EQ(Two, nullptr);

  // Uninstall-multiple puts back what it removed when one of them is not there.
  EXPECT_EQ(BS->UninstallMultipleProtocolInterfaces(One, &PathGuid, &Path, &GuidA, &A, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(BS->HandleProtocol(One, &PathGuid, &Found), EFI_SUCCESS);
}

struct NotifyLog {
  int Calls = 0;
};

VOID EFIAPI CountNotify(EFI_EVENT Event, VOID *Context) {
  static_cast<NotifyLog *>(Context)->Calls++;
}

TEST_F(ProtocolDatabase, RegisterProtocolNotifyHandsOutEachNewInterfaceOnce) {
  NotifyLog Log;
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CountNotify, &Log, &Event), EFI_SUCCESS);
  EFI_GUID Guid = kGuidA;
  VOID *Registration = nullptr;
  ASSERT_EQ(BS->RegisterProtocolNotify(&Guid, Event, &Registration), EFI_SUCCESS);
  int First = 1;
  int Second = 2;
  NewHandle(kGuidA, &First);
  NewHandle(kGuidA, &Second);
  EXPECT_EQ(Log.Calls, 2);
  VOID *Interface = nullptr;
  EXPECT_EQ(BS->LocateProtocol(&Guid, Registration, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &First);
  EXPECT_EQ(BS->LocateProtocol(&Guid, Registration, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &Second);
  EXPECT_EQ(BS->LocateProtocol(&Guid, Registration, &Interface), EFI_NOT_FOUND);

  // Reinstalling is news for the registration too.
  EFI_HANDLE Handle = nullptr;
  UINTN Size = sizeof(Handle);
  ASSERT_EQ(BS->LocateHandle(ByProtocol, &Guid, nullptr, &Size, &Handle), EFI_BUFFER_TOO_SMALL);
  EFI_HANDLE Handles[2];
  ASSERT_EQ(BS->LocateHandle(ByProtocol, &Guid, nullptr, &Size, Handles), EFI_SUCCESS);
  int Third = 3;
  EXPECT_EQ(BS->ReinstallProtocolInterface(Handles[0], &Guid, &First, &Third), EFI_SUCCESS);
  EXPECT_EQ(Log.Calls, 3);
  Size = sizeof(Handle);
  EXPECT_EQ(BS->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, &Handle), EFI_SUCCESS);
  EXPECT_EQ(Handle, Handles[0]);
  EXPECT_EQ(BS->ReinstallProtocolInterface(Handles[0], &Guid, &First, &Third), EFI_NOT_FOUND);
}

VOID EFIAPI HaltInNotify(EFI_EVENT Event, VOID *Context) {
  static_cast<NotifyLog *>(Context)->Calls++;
  HostAbiHalt("notify gave up");
}

// A protocol notification runs when the install drops its TPL again; a halt there (an
// assertion in the notified driver) must stop the board like any other halt.
TEST_F(ProtocolDatabase, HaltInAProtocolNotificationUnwindsToTheCaller) {
  NotifyLog Log;
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(BS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, HaltInNotify, &Log, &Event), EFI_SUCCESS);
  EFI_GUID Guid = kGuidA;
  VOID *Registration = nullptr;
  ASSERT_EQ(BS->RegisterProtocolNotify(&Guid, Event, &Registration), EFI_SUCCESS);
  int Value = 1;
  EFI_HANDLE Handle = nullptr;
  std::optional<host::Halt> Halted =
      Board.Guard([&] { BS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, &Value); });
  ASSERT_TRUE(Halted.has_value());
  EXPECT_EQ(Halted->Reason, "notify gave up");
  EXPECT_EQ(Log.Calls, 1);
  // The database change itself stands, and the TPL is back where the caller had it.
  VOID *Interface = nullptr;
  EXPECT_EQ(BS->HandleProtocol(Handle, &Guid, &Interface), EFI_SUCCESS);
  EXPECT_EQ(BS->RaiseTPL(TPL_APPLICATION), TPL_APPLICATION);
}

TEST_F(ProtocolDatabase, LocateDevicePathFindsTheLongestMatchingPrefix) {
  struct Pci1 {
    PCI_DEVICE_PATH Pci;
    EFI_DEVICE_PATH_PROTOCOL End;
  };
  struct Pci2 {
    PCI_DEVICE_PATH Pci[2];
    EFI_DEVICE_PATH_PROTOCOL End;
  };
  constexpr EFI_DEVICE_PATH_PROTOCOL kEnd = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}};
  constexpr PCI_DEVICE_PATH kBridge = {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {6, 0}}, 0, 1};
  constexpr PCI_DEVICE_PATH kDevice = {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {6, 0}}, 0, 3};
  Pci1 Bridge = {kBridge, kEnd};
  Pci2 Device = {{kBridge, kDevice}, kEnd};
  int A = 0;
  EFI_GUID PathGuid = kDevicePathGuid;
  EFI_GUID GuidA = kGuidA;
  EFI_HANDLE BridgeHandle = nullptr;
  EFI_HANDLE DeviceHandle = nullptr;
  ASSERT_EQ(BS->InstallMultipleProtocolInterfaces(&BridgeHandle, &PathGuid, &Bridge, &GuidA, &A, nullptr),
            EFI_SUCCESS);
  ASSERT_EQ(BS->InstallMultipleProtocolInterfaces(&DeviceHandle, &PathGuid, &Device, nullptr), EFI_SUCCESS);

  // Only the bridge has kGuidA: it matches the first node and leaves the rest.
  Pci2 Query = Device;
  EFI_DEVICE_PATH_PROTOCOL *Remaining = &Query.Pci[0].Header;
  EFI_HANDLE Found = nullptr;
  ASSERT_EQ(BS->LocateDevicePath(&GuidA, &Remaining, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, BridgeHandle);
  EXPECT_EQ(Remaining, &Query.Pci[1].Header);

  // By device path itself the full match wins.
  Remaining = &Query.Pci[0].Header;
  ASSERT_EQ(BS->LocateDevicePath(&PathGuid, &Remaining, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, DeviceHandle);
  EXPECT_EQ(Remaining, &Query.End);

  EFI_GUID Missing = kGuidC;
  Remaining = &Query.Pci[0].Header;
  EXPECT_EQ(BS->LocateDevicePath(&Missing, &Remaining, &Found), EFI_NOT_FOUND);
}

TEST_F(ProtocolDatabase, ConfigurationTableAndHeadersCarryValidCrcs) {
  EFI_SYSTEM_TABLE *System = Board.SystemTable();
  EXPECT_EQ(System->Hdr.Revision, EFI_SYSTEM_TABLE_REVISION);
  auto CrcOk = [&](EFI_TABLE_HEADER *Header, size_t Size) {
    UINT32 Stored = Header->CRC32;
    Header->CRC32 = 0;
    UINT32 Computed = 0;
    BS->CalculateCrc32(Header, Size, &Computed);
    Header->CRC32 = Stored;
    return Computed == Stored;
  };
  EXPECT_TRUE(CrcOk(&System->Hdr, sizeof(*System)));
  EXPECT_TRUE(CrcOk(&BS->Hdr, sizeof(*BS)));
  EXPECT_TRUE(CrcOk(&RT->Hdr, sizeof(*RT)));

  const UINTN Before = System->NumberOfTableEntries;
  EFI_GUID Guid = kGuidC;
  int Table = 0;
  ASSERT_EQ(BS->InstallConfigurationTable(&Guid, &Table), EFI_SUCCESS);
  ASSERT_EQ(System->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(System->ConfigurationTable[Before].VendorTable, &Table);
  EXPECT_TRUE(CrcOk(&System->Hdr, sizeof(*System)));
  EXPECT_EQ(BS->InstallConfigurationTable(&Guid, nullptr), EFI_SUCCESS);
  EXPECT_EQ(BS->InstallConfigurationTable(&Guid, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(System->NumberOfTableEntries, Before);

  // The DXE services table is found through the configuration table.
  constexpr EFI_GUID kDxeServicesGuid = {
      0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};
  bool Found = false;
  for (UINTN Index = 0; Index < System->NumberOfTableEntries; Index++) {
    Found |= CompareGuidValues(System->ConfigurationTable[Index].VendorGuid, kDxeServicesGuid) &&
             System->ConfigurationTable[Index].VendorTable == Board.DxeServices();
  }
  EXPECT_TRUE(Found);
}

// While the rule is on, each way of publishing a record outside DRAM is one error; a record in
// DRAM, a NULL interface and anything published with the rule off are not.
TEST_F(ProtocolDatabase, RecordsOutsideDramAreErrorsWhileTheRuleIsOn) {
  int Host = 0;
  VOID *Dram = Board.AllocateRecord(EfiBootServicesData, sizeof(int));
  EFI_GUID Guid = kGuidC;
  const struct Case {
    const char *Name;
    bool On;
    VOID *Record;
    bool Table;        // a configuration table, not a protocol interface
    const char *Error; // nullptr: none
  } Cases[] = {
      {"interface on the host", true, &Host, false, "InstallProtocolInterface of the record at"},
      {"table on the host", true, &Host, true, "InstallConfigurationTable of the record at"},
      {"interface in DRAM", true, Dram, false, nullptr},
      {"table in DRAM", true, Dram, true, nullptr},
      {"no interface", true, nullptr, false, nullptr},
      {"rule off", false, &Host, false, nullptr},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Board.RequireRecordsInDram(C.On);
    EFI_HANDLE Handle = nullptr;
    ASSERT_EQ(C.Table ? BS->InstallConfigurationTable(&Guid, C.Record)
                      : BS->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, C.Record),
              EFI_SUCCESS);
    Board.RequireRecordsInDram(false);
    const std::vector<std::string> Errors = Board.TakeErrors();
    ASSERT_EQ(Errors.size(), C.Error != nullptr ? 1u : 0u);
    if (C.Error != nullptr) {
      EXPECT_EQ(Errors[0].rfind("record outside DRAM: core: ", 0), 0u) << Errors[0];
      EXPECT_NE(Errors[0].find(C.Error), std::string::npos) << Errors[0];
    }
    EXPECT_EQ(C.Table ? BS->InstallConfigurationTable(&Guid, nullptr)
                      : BS->UninstallProtocolInterface(Handle, &Guid, C.Record),
              EFI_SUCCESS);
  }
}

} // namespace
