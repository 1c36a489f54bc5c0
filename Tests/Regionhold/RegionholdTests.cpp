// Regionhold and the GCD reservation routine against the host core's GCD map: what the map,
// the memory map and the trace say afterwards.
#include "BoardCheck.h"
#include "CspTableRequest.h"

#include <Board.h>
#include <GcdMap.h>
#include <HostPlatform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr UINT64 kRuntime = 0x8000000000000000ull;
constexpr UINT64 kCapabilities = 0x800000000000100Dull;
constexpr UINTN kMmio = EfiGcdMemoryTypeMemoryMappedIo;

struct Range {
  UINT64 Base, Length;
};
// Regionhold's rows, in processing order.
const std::vector<Range> kRows = {{0x1C025000, 0x1000}, {0x10510000, 0x3000}, {0x17000000, 0x2000},
                                  {0x1C020000, 0x1000}, {0x1C021000, 0x1000}, {0x10540000, 0xA000}};

std::string Format(const char *Pattern, UINT64 Base, UINT64 Length, int Index, const char *Status) {
  char Text[160];
  std::snprintf(Text, sizeof(Text), Pattern, (unsigned long long)Base, (unsigned long long)Length, Index,
                Status);
  return Text;
}
std::string AddLine(UINT64 Base, UINT64 Length, int Index, const char *Status, const char *Kind = "Mem") {
  return Format(("GCD: Add" + std::string(Kind) + "Space   B=%llX, L=%llX, i=%d, S=%s").c_str(), Base, Length,
                Index, Status);
}
std::string AllocLine(UINT64 Base, UINT64 Length, int Index, const char *Status, const char *Kind = "Mem") {
  return Format(("GCD: Alloc" + std::string(Kind) + "Space B=%llX, L=%llX, i=%d, S=%s").c_str(), Base, Length,
                Index, Status);
}

// The board with its producers; each test dispatches what it needs.
class GcdBoard : public ::testing::Test {
protected:
  GcdBoard() { Build(); }
  ~GcdBoard() override {
    board_test::ExpectNoUnexpectedErrors(*Board);
    Board.reset();
  }

  void Build() {
    if (Board) {
      board_test::ExpectNoUnexpectedErrors(*Board);
    }
    Board.reset();
    Core.reset();
    host::PlatformOptions Options;
    Options.WatchdogNs = 5'000'000'000ull;
    Core = std::make_unique<host::Platform>(Options);
    Board = host::Board::Build(*Core, {});
  }

  // The trace lines an image wrote that start with Prefix, in order.
  std::vector<std::string> Lines(const std::string &Image, const std::string &Prefix = "") const {
    std::vector<std::string> Found;
    for (const host::LogLine &Line : Core->Log().Lines()) {
      if (Line.Source == Image && Line.Text.rfind(Prefix, 0) == 0) {
        Found.push_back(Line.Text);
      }
    }
    return Found;
  }

  EFI_GCD_MEMORY_SPACE_DESCRIPTOR At(UINT64 Address) {
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
    EXPECT_EQ(Core->Gcd().GetMemorySpaceDescriptor(Address, &Descriptor), EFI_SUCCESS);
    return Descriptor;
  }

  // Runs the reservation routine on Table from a test driver image; returns its result.
  EFI_STATUS Reserve(std::vector<CspResourceEntry> &Table, host::ImageResult *Run = nullptr) {
    Request = {Table.empty() ? nullptr : Table.data(), Table.size(), nullptr, EFI_NOT_STARTED};
    EFI_GUID Guid = CSP_TABLE_REQUEST_GUID;
    EXPECT_EQ(Core->BootServices()->InstallConfigurationTable(&Guid, &Request), EFI_SUCCESS);
    host::ImageResult Result = Core->RunModule("CspTableDriver");
    if (Run != nullptr) {
      *Run = Result;
    }
    return Request.Result;
  }

  EFI_HANDLE ImageNamed(const std::string &Name) {
    for (const auto &Descriptor : Core->Gcd().MemoryDescriptors()) {
      if (Descriptor.ImageHandle != nullptr && Core->ImageName(Descriptor.ImageHandle) == Name) {
        return Descriptor.ImageHandle;
      }
    }
    return nullptr;
  }

  std::unique_ptr<host::Platform> Core;
  std::unique_ptr<host::Board> Board;
  CSP_TABLE_REQUEST Request{};
};

// A range the board declares already is added in vain (and claimed all the same); one it does
// not declare is added. Either way nobody owns it yet.
TEST_F(GcdBoard, RegionholdClaimsSixRuntimeRangesNobodyOwned) {
  std::vector<std::string> Expected;
  for (size_t Row = 0; Row < kRows.size(); Row++) {
    const bool Declared = At(kRows[Row].Base).GcdMemoryType != EfiGcdMemoryTypeNonExistent;
    Expected.push_back(AddLine(kRows[Row].Base, kRows[Row].Length, (int)Row,
                               Declared ? "EFI_ACCESS_DENIED" : "EFI_SUCCESS"));
    Expected.push_back(AllocLine(kRows[Row].Base, kRows[Row].Length, (int)Row, "EFI_SUCCESS"));
  }
  host::ImageResult Result = Core->RunModule("Regionhold");
  ASSERT_FALSE(Result.Halted.has_value());
  EXPECT_EQ(Result.Status, EFI_SUCCESS);
  EXPECT_EQ(Lines("Regionhold", "GCD: A"), Expected);
  EXPECT_EQ(Lines("Regionhold", "GCD: A").front(),
            "GCD: AddMemSpace   B=1C025000, L=1000, i=0, S=EFI_SUCCESS");
  EXPECT_EQ(Lines("Regionhold", "GCD: SpaceAttr").size(), kRows.size());
  EXPECT_TRUE(Lines("Regionhold", "GCD: SpaceAttr (UC ALL)").empty());

  EFI_HANDLE Owner = ImageNamed("Regionhold");
  ASSERT_NE(Owner, nullptr);
  for (const Range &Row : kRows) {
    SCOPED_TRACE(testing::Message() << std::hex << Row.Base);
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor = At(Row.Base);
    // Rows 3 and 4 touch and end up in one descriptor.
    EXPECT_LE(Descriptor.BaseAddress, Row.Base);
    EXPECT_GE(Descriptor.BaseAddress + Descriptor.Length, Row.Base + Row.Length);
    EXPECT_EQ(Descriptor.GcdMemoryType, EfiGcdMemoryTypeMemoryMappedIo);
    EXPECT_NE(Descriptor.Capabilities & kRuntime, 0u);
    EXPECT_NE(Descriptor.Attributes & kRuntime, 0u);
    EXPECT_EQ(Descriptor.ImageHandle, Owner);
    EXPECT_EQ(Descriptor.DeviceHandle, nullptr);
  }

  // The OS sees each range as runtime MMIO in the memory map.
  UINTN Size = 0, Key = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  EFI_BOOT_SERVICES *BS = Core->BootServices();
  ASSERT_EQ(BS->GetMemoryMap(&Size, nullptr, &Key, &DescriptorSize, &Version), EFI_BUFFER_TOO_SMALL);
  std::vector<uint8_t> Map(Size + 4 * DescriptorSize);
  Size = Map.size();
  ASSERT_EQ(BS->GetMemoryMap(&Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Map.data()), &Key,
                             &DescriptorSize, &Version),
            EFI_SUCCESS);
  for (const Range &Row : kRows) {
    bool Covered = false;
    for (size_t Offset = 0; Offset < Size; Offset += DescriptorSize) {
      const auto *Entry = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map.data() + Offset);
      const UINT64 End = Entry->PhysicalStart + Entry->NumberOfPages * EFI_PAGE_SIZE;
      Covered |= Entry->Type == EfiMemoryMappedIO && (Entry->Attribute & EFI_MEMORY_RUNTIME) != 0 &&
                 Entry->PhysicalStart <= Row.Base && Row.Base + Row.Length <= End;
    }
    EXPECT_TRUE(Covered) << std::hex << Row.Base;
  }
}

// What the map held before: an owned range is only added (and fails), a reserved one is
// claimed as reserved, and the table row learns the type.
TEST_F(GcdBoard, ExistingDescriptorsDecideWhatIsClaimed) {
  host::GcdMap &Gcd = Core->Gcd();
  EFI_HANDLE Firmware = Core->FirmwareHandle();
  ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x1C020000, 0x1000, kCapabilities),
            EFI_SUCCESS);
  EFI_PHYSICAL_ADDRESS Base = 0x1C020000;
  ASSERT_EQ(Gcd.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000, &Base,
                                    Firmware, nullptr),
            EFI_SUCCESS);
  ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeReserved, 0x17000000, 0x2000, kCapabilities), EFI_SUCCESS);

  std::vector<CspResourceEntry> Table = {{0x1C020000, 0x1000, kMmio, kRuntime},
                                         {0x17000000, 0x2000, kMmio, kRuntime},
                                         {0x1C021000, 0x1000, kMmio, kRuntime}};
  EXPECT_EQ(Reserve(Table), EFI_SUCCESS);
  EXPECT_EQ(Lines("CspTableDriver", "GCD: A"),
            (std::vector<std::string>{AddLine(0x1C020000, 0x1000, 0, "EFI_ACCESS_DENIED"),
                                      AddLine(0x17000000, 0x2000, 1, "EFI_ACCESS_DENIED"),
                                      AllocLine(0x17000000, 0x2000, 1, "EFI_SUCCESS"),
                                      AddLine(0x1C021000, 0x1000, 2, "EFI_SUCCESS"),
                                      AllocLine(0x1C021000, 0x1000, 2, "EFI_SUCCESS")}));
  EFI_HANDLE Driver = ImageNamed("CspTableDriver");
  EXPECT_EQ(At(0x1C020000).ImageHandle, Firmware);
  EXPECT_EQ(At(0x1C020000).Attributes, kRuntime) << "an owned range still gets its attributes";
  EXPECT_EQ(At(0x17000000).GcdMemoryType, EfiGcdMemoryTypeReserved);
  EXPECT_EQ(At(0x17000000).ImageHandle, Driver);
  EXPECT_EQ(Table[0].Type, kMmio);
  EXPECT_EQ(Table[1].Type, (UINTN)EfiGcdMemoryTypeReserved);
  EXPECT_EQ(Table[2].Type, kMmio);
}

// Every memory row uncached: one walk over every descriptor from the lowest base (aligned
// down to a page) to the highest end, gaps included; descriptors already uncached skipped.
TEST_F(GcdBoard, AllUncachedTableWalksEveryDescriptorOfTheSpan) {
  host::GcdMap &Gcd = Core->Gcd();
  ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x20002000, 0x1000, kCapabilities),
            EFI_SUCCESS);
  ASSERT_EQ(Gcd.SetMemorySpaceAttributes(0x20002000, 0x1000, EFI_MEMORY_UC), EFI_SUCCESS);
  std::vector<CspResourceEntry> Table = {{0x20001800, 0x800, kMmio, EFI_MEMORY_UC | kRuntime},
                                         {0x20004000, 0x1000, kMmio, EFI_MEMORY_UC}};
  // Row 0 is not page-granular: its attributes cannot be set, and that failure is what
  // the routine returns although row 1 succeeds after it.
  EXPECT_EQ(Reserve(Table), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Lines("CspTableDriver", "GCD:(UC ALL)"),
            (std::vector<std::string>{
                "GCD:(UC ALL) setting  B=20001000, L=800, A=1; S=EFI_INVALID_PARAMETER",
                "GCD:(UC ALL) setting  B=20001800, L=800, A=1; S=EFI_INVALID_PARAMETER",
                "GCD:(UC ALL) skipping B=20002000, L=1000, A=1; S=EFI_SUCCESS",
                "GCD:(UC ALL) setting  B=20003000, L=1000, A=1; S=EFI_UNSUPPORTED",
                "GCD:(UC ALL) setting  B=20004000, L=1000, A=1; S=EFI_SUCCESS",
            }));
  EXPECT_EQ(Lines("CspTableDriver", "GCD: SpaceAttr (UC ALL)"),
            std::vector<std::string>{"GCD: SpaceAttr (UC ALL) B=20001000; L=4000; "});
  EXPECT_EQ(Lines("CspTableDriver", "GCD: SpaceAttr A="),
            (std::vector<std::string>{
                "GCD: SpaceAttr A=8000000000000001 B=20001800, L=800, i=0, S=EFI_INVALID_PARAMETER",
                "GCD: SpaceAttr A=1 B=20004000, L=1000, i=1, S=EFI_SUCCESS"}));
  EXPECT_EQ(At(0x20004000).Attributes, EFI_MEMORY_UC);
}

// Small tables: what each row traces, who owns it afterwards, and what the routine returns.
TEST_F(GcdBoard, SmallTablesTraceEachCallAndClaimTheirRows) {
  struct Case {
    const char *Name;
    std::vector<CspResourceEntry> Table;
    std::vector<std::string> Trace;
    UINT64 AttributesAfter; // of the memory rows
  };
  const std::vector<Case> Cases = {
      {"no rows: no GCD call", {}, {}, 0},
      // I/O rows take the I/O-space calls and neither attribute pass.
      {"an I/O row",
       {{0x2F8, 0x8, EfiGcdIoTypeIo, CSP_RESOURCE_IO_ROW}},
       {AddLine(0x2F8, 0x8, 0, "EFI_SUCCESS", "I/O"), AllocLine(0x2F8, 0x8, 0, "EFI_SUCCESS", "I/O")},
       0},
      // WC is not among the capabilities given: retried once, untraced, as runtime only.
      {"attributes retried",
       {{0x30000000, 0x1000, kMmio, kRuntime | EFI_MEMORY_WC}},
       {AddLine(0x30000000, 0x1000, 0, "EFI_SUCCESS"), AllocLine(0x30000000, 0x1000, 0, "EFI_SUCCESS"),
        "GCD: SpaceAttr A=8000000000000002 B=30000000, L=1000, i=0, S=EFI_UNSUPPORTED"},
       kRuntime},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Name);
    Build();
    const std::string Before = Core->Gcd().Dump();
    std::vector<CspResourceEntry> Table = Test.Table;
    EXPECT_EQ(Reserve(Table), EFI_SUCCESS);
    EXPECT_EQ(Lines("CspTableDriver", "GCD"), Test.Trace);
    if (Table.empty()) {
      EXPECT_EQ(Core->Gcd().Dump(), Before);
      // Rows but no table: refused before any GCD call.
      Request = {nullptr, 1, nullptr, EFI_NOT_STARTED};
      Core->RunModule("CspTableDriver");
      EXPECT_EQ(Request.Result, EFI_INVALID_PARAMETER);
      EXPECT_EQ(Core->Gcd().Dump(), Before);
    }
    for (const CspResourceEntry &Row : Table) {
      EFI_GCD_IO_SPACE_DESCRIPTOR Io{};
      Core->Gcd().GetIoSpaceDescriptor(Row.Base, &Io);
      const bool IoRow = Row.Attributes == CSP_RESOURCE_IO_ROW;
      const EFI_HANDLE Owner = IoRow ? Io.ImageHandle : At(Row.Base).ImageHandle;
      EXPECT_EQ(Owner != nullptr ? Core->ImageName(Owner) : "", "CspTableDriver");
      if (!IoRow) {
        EXPECT_EQ(At(Row.Base).Attributes, Test.AttributesAfter);
      }
    }
  }
}

// The fatal paths: a trace, the assertion's report and a halt in the dead loop.
TEST_F(GcdBoard, FatalFailuresAssertAndHalt) {
  struct Case {
    const char *Name;
    bool RemoveDxeServices;
    std::vector<CspResourceEntry> Table;
    std::string Trace;
  };
  const std::vector<Case> Cases = {
      {"no DXE services table",
       true,
       {{0x1C020000, 0x1000, kMmio, kRuntime}},
       "Dxe Services Table could not be found! Status = EFI_NOT_AVAILABLE_YET"},
      // The descriptor at the base is free, but the range's second page is owned.
      {"allocation fails",
       false,
       {{0x40000000, 0x2000, kMmio, kRuntime}},
       "GCD: AllocMemSpace B=40000000, L=2000, i=0, S=EFI_NOT_FOUND"},
  };
  for (const Case &Test : Cases) {
    SCOPED_TRACE(Test.Name);
    Build();
    if (Test.RemoveDxeServices) {
      EFI_GUID Dxe = {0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};
      ASSERT_EQ(Core->BootServices()->InstallConfigurationTable(&Dxe, nullptr), EFI_SUCCESS);
    } else {
      host::GcdMap &Gcd = Core->Gcd();
      ASSERT_EQ(Gcd.AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, 0x40000000, 0x2000, 0), EFI_SUCCESS);
      EFI_PHYSICAL_ADDRESS Base = 0x40001000;
      ASSERT_EQ(Gcd.AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeMemoryMappedIo, 0, 0x1000,
                                        &Base, Core->FirmwareHandle(), nullptr),
                EFI_SUCCESS);
    }
    std::vector<CspResourceEntry> Table = Test.Table;
    host::ImageResult Run;
    Reserve(Table, &Run);
    ASSERT_TRUE(Run.Halted.has_value());
    EXPECT_EQ(Run.Halted->Reason, "CpuDeadLoop");
    const std::vector<std::string> Trace = Lines("CspTableDriver");
    ASSERT_FALSE(Trace.empty());
    std::string Joined;
    for (const std::string &Line : Trace) {
      Joined += Line + "\n";
    }
    // The lookup's trace has no line end: the assertion's report runs on in its line.
    const size_t Report = Joined.find("ASSERT in EfiLib on ");
    ASSERT_NE(Report, std::string::npos) << Joined;
    EXPECT_LT(Joined.find(Test.Trace), Report) << Joined;
    EXPECT_NE(Trace.back().find(": !EFI_ERROR(Status)"), std::string::npos) << Joined;
  }
}

} // namespace
