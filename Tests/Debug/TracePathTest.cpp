// The trace path against a hand-made boot-services table, linked directly into the test.
//
// The library caches the status-code protocol for the life of the process, so the test that
// watches the lookup from its first attempt is the first one of this program (ctest runs each
// test in a process of its own anyway); the others work whether or not it is cached.
#include <Library/EfiLib.h>
#include <Library/HostAbi.h>
#include <Protocol/StatusCode.h>

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct TestHalt : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Report {
  EFI_STATUS_CODE_TYPE Type;
  EFI_STATUS_CODE_VALUE Value;
  UINT32 Instance;
  EFI_GUID *CallerId;
  std::vector<UINT8> Header;
  std::string Text;
};

EFI_STATUS gLocateResult = EFI_NOT_FOUND;
int gLocateCalls = 0;
std::vector<Report> gReports;

EFI_STATUS EFIAPI FakeReportStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value,
                                       UINT32 Instance, EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Data);
  EFI_STATUS_CODE_STRING_DATA Record;
  std::memcpy(&Record, Data, sizeof(Record));
  gReports.push_back({Type, Value, Instance, CallerId, std::vector<UINT8>(Bytes, Bytes + sizeof(Record)),
                      Record.String.Ascii});
  return EFI_WARN_WRITE_FAILURE; // passed back to the caller unchanged
}

EFI_STATUS_CODE_RUNTIME_PROTOCOL gFakeStatusCode = {FakeReportStatusCode};

EFI_STATUS EFIAPI FakeLocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  gLocateCalls++;
  EFI_GUID Expected = EFI_STATUS_CODE_RUNTIME_PROTOCOL_GUID;
  if (!CompareGuidValues(*Protocol, Expected) || EFI_ERROR(gLocateResult)) {
    *Interface = nullptr;
    return EFI_ERROR(gLocateResult) ? gLocateResult : EFI_NOT_FOUND;
  }
  *Interface = &gFakeStatusCode;
  return EFI_SUCCESS;
}

EFI_BOOT_SERVICES gFakeBootServices = [] {
  EFI_BOOT_SERVICES Services{};
  Services.LocateProtocol = FakeLocateProtocol;
  return Services;
}();
EFI_RUNTIME_SERVICES gFakeRuntimeServices{};
EFI_SYSTEM_TABLE gFakeSystemTable = [] {
  EFI_SYSTEM_TABLE Table{};
  Table.BootServices = &gFakeBootServices;
  Table.RuntimeServices = &gFakeRuntimeServices;
  return Table;
}();

class TracePath : public ::testing::Test {
protected:
  void SetUp() override {
    LibInitialize(reinterpret_cast<EFI_HANDLE>(0x1000), &gFakeSystemTable);
    gLocateResult = EFI_SUCCESS;
    gLocateCalls = 0;
    gReports.clear();
    BootServicesEnded = FALSE;
  }
};

TEST_F(TracePath, LooksUpUntilTheFirstSuccessThenUsesTheCache) {
  // Before LibInitialize nothing reaches the platform (checked through a second call that
  // must not replace the first table).
  EFI_SYSTEM_TABLE Other{};
  LibInitialize(reinterpret_cast<EFI_HANDLE>(0x2000), &Other);
  EXPECT_EQ(gLibSystemTable, &gFakeSystemTable);
  EXPECT_EQ(gLibImageHandle, reinterpret_cast<EFI_HANDLE>(0x1000));
  EXPECT_EQ(gLibBootServices, &gFakeBootServices);
  EXPECT_EQ(gLibRuntimeServices, &gFakeRuntimeServices);

  BootServicesEnded = TRUE;
  EXPECT_EQ(TraceMessage(TRACE_ALWAYS, "lost"), EFI_UNSUPPORTED);
  EXPECT_EQ(gLocateCalls, 0);
  BootServicesEnded = FALSE;

  gLocateResult = EFI_NOT_FOUND;
  EXPECT_EQ(TraceMessage(TRACE_ALWAYS, "lost"), EFI_NOT_FOUND);
  EXPECT_EQ(TraceMessage(TRACE_ALWAYS, "lost"), EFI_NOT_FOUND);
  EXPECT_EQ(gLocateCalls, 2);
  EXPECT_TRUE(gReports.empty());

  gLocateResult = EFI_SUCCESS;
  EXPECT_EQ(TraceMessage(TRACE_ALWAYS, "first %d", 1), EFI_WARN_WRITE_FAILURE);
  gLocateResult = EFI_NOT_FOUND;
  BootServicesEnded = TRUE; // a cached protocol is used whatever happens later
  EXPECT_EQ(TraceMessage(TRACE_ALWAYS, "second"), EFI_WARN_WRITE_FAILURE);
  EXPECT_EQ(gLocateCalls, 3);
  ASSERT_EQ(gReports.size(), 2u);
  EXPECT_EQ(gReports[0].Text, "first 1");
  EXPECT_EQ(gReports[1].Text, "second");
}

TEST_F(TracePath, ReportsDebugCodesForEveryNonZeroLevel) {
  EXPECT_EQ(TraceMessage(0, "never"), EFI_SUCCESS);
  // Only the low 32 bits of the level count.
  EXPECT_EQ(TraceMessage(0xFFFFFFFF00000000ull, "never"), EFI_SUCCESS);
  EXPECT_TRUE(gReports.empty());
  TraceMessage(1, "low %a", "bit");
  TraceMessage(TRACE_ALWAYS, "%r", EFI_NOT_FOUND);
  ASSERT_EQ(gReports.size(), 2u);
  for (const Report &Entry : gReports) {
    EXPECT_EQ(Entry.Type, EFI_DEBUG_CODE);
    EXPECT_EQ(Entry.Value, 0x03000000u);
    EXPECT_EQ(Entry.Instance, 0u);
    EXPECT_EQ(Entry.CallerId, nullptr);
    EXPECT_EQ(Entry.Header[0], 20);
    EXPECT_EQ(Entry.Header[2], 20);
    EXPECT_EQ(Entry.Header[20], EfiStringAscii);
  }
  EXPECT_EQ(gReports[0].Text, "low bit");
  EXPECT_EQ(gReports[1].Text, "EFI_NOT_FOUND");
}

TEST_F(TracePath, LibAssertReportsAndWaitsForADebugger) {
  EXPECT_THROW(LibAssert("Walk.cpp", 77, "Length > 0"), TestHalt);
  ASSERT_EQ(gReports.size(), 1u);
  EXPECT_EQ(gReports[0].Text, "ASSERT in Walk.cpp on 77: Length > 0\n");
}

} // namespace

// CpuDeadLoop's host seam: a halt the test observes as an exception.
extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  throw TestHalt(Reason);
}
