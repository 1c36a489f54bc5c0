// The board's core: system memory, and what the platform's other firmware installs before
// the board's modules run (debug output, status codes, the CPU architectural protocol, ACPI
// tables, IPMI information) plus the test EEPROM MAC producer when asked for.
#include "Board.h"

#include <BoardAcpiTables.h>
#include <CpuArch.h>
#include <DebugOutput.h>
#include <EepromMacStub.h>
#include <IpmiInformation.h>
#include <StatusCodeListener.h>

#include <Protocol/EepromMac.h>

#include <HostFiles.h>

#include <cerrno>
#include <cstdlib>

namespace host {

namespace {

// What the platform's IPMI stack reports when no other base is asked for.
constexpr uint64_t kDefaultBmcMemoryBase = 0xF0000000ull;
constexpr char kDsdtFile[] = "dsdt.aml";
// Status codes are looked up by name among the error and warning codes up to these numbers.
constexpr UINTN kLastErrorCode = 64;
constexpr UINTN kLastWarningCode = 16;

uint64_t Number(const std::string &Name, const std::string &Text) {
  return OptionNumber(Name, Text);
}

// "EFI_DEVICE_ERROR", or a number.
EFI_STATUS Status(const std::string &Name, const std::string &Text) {
  for (UINTN Code = 0; Code <= kLastErrorCode; Code++) {
    for (EFI_STATUS Candidate : {EncodeError(Code), EncodeError(EFI_PI_BIT | Code), EncodeWarning(Code)}) {
      if ((Code <= kLastWarningCode || EFI_ERROR(Candidate)) && StatusName(Candidate) == Text) {
        return Candidate;
      }
    }
  }
  return Number(Name, Text);
}

// What is wrong with a DSDT file (empty: nothing): unreadable, shorter than a table header, or
// of another length than its header gives (the table is published as its header says).
std::string DsdtProblem(const std::string &Path, std::vector<uint8_t> *Dsdt = nullptr) {
  std::string Problem;
  std::optional<std::vector<uint8_t>> Bytes = ReadFileBytes(Path, Problem);
  if (Bytes && Bytes->size() < sizeof(EFI_ACPI_DESCRIPTION_HEADER)) {
    Problem = "is " + std::to_string(Bytes->size()) + " bytes; an ACPI table has a " +
              std::to_string(sizeof(EFI_ACPI_DESCRIPTION_HEADER)) + "-byte header";
  } else if (Bytes) {
    const auto *Header = reinterpret_cast<const EFI_ACPI_DESCRIPTION_HEADER *>(Bytes->data());
    if (Header->Length != Bytes->size()) {
      Problem = "is " + std::to_string(Bytes->size()) + " bytes; its header gives " +
                std::to_string(Header->Length);
    }
  }
  if (Problem.empty() && Dsdt != nullptr) {
    *Dsdt = std::move(*Bytes);
  }
  return Problem;
}

std::vector<uint8_t> DsdtFile(const std::string &Path) {
  std::vector<uint8_t> Dsdt;
  if (std::string Problem = DsdtProblem(Path, &Dsdt); !Problem.empty()) {
    throw PathError("--dsdt", Path, Problem);
  }
  return Dsdt;
}

// "SLOT=TEXT,..." of the eeprom-mac-slots option.
std::map<unsigned, std::string> Slots(const std::string &List) {
  std::map<unsigned, std::string> Result;
  for (size_t Start = 0; Start <= List.size();) {
    size_t End = List.find(',', Start);
    End = End == std::string::npos ? List.size() : End;
    auto Slot = EepromMacStub::ParseSlotSpec(List.substr(Start, End - Start));
    if (!Slot) {
      throw std::invalid_argument("eeprom-mac-slots: not SLOT=TEXT: " + List.substr(Start, End - Start));
    }
    Result[Slot->first] = Slot->second;
    Start = End + 1;
  }
  return Result;
}

// A producer that installs its protocol's GUID with a NULL interface.
void InstallWithoutInterface(Platform &P, EFI_GUID Guid) {
  EFI_HANDLE Handle = nullptr;
  P.BootServices()->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, nullptr);
}

void InstallEepromMac(Board &B) {
  if (B.Fault("eeprom-mac-stub-no-interface")) {
    InstallWithoutInterface(B.Core(), EEPROM_MAC_PROTOCOL_GUID);
    return;
  }
  if (!B.Has("eeprom-mac-stub") && !B.Has("eeprom-mac-slots")) {
    return;
  }
  EepromMacStub &Stub = InstallEepromMacStub(B.Core());
  if (B.Has("eeprom-mac-slots")) {
    Stub.SetSlots(Slots(B.Setting("eeprom-mac-slots")));
  }
  if (B.Fault("eeprom-mac-stub-status")) {
    Stub.SetResult(Status("eeprom-mac-stub-status", B.FaultValue("eeprom-mac-stub-status")));
  }
  B.Provide("eeprom-mac-stub", &Stub);
}

// --fail-alloc N: the allocation that fails, counted from 1; 0 without the option.
uint64_t FailingAllocation(const Board &B) {
  if (!B.Has("fail-alloc")) {
    return 0;
  }
  const uint64_t Nth = Number("fail-alloc", B.Setting("fail-alloc"));
  if (Nth == 0) {
    throw std::invalid_argument("fail-alloc counts allocations from 1, not \"0\"");
  }
  return Nth;
}

// --fail-alloc N [--fail-alloc-in IMAGE]: the core fails that firmware allocation.
void InstallAllocationFailure(Board &B) {
  if (B.Has("fail-alloc") || B.Has("fail-alloc-in")) {
    B.Core().FailAllocation(FailingAllocation(B), B.Setting("fail-alloc-in"));
  }
}

void CoreInstall(Board &B) {
  Platform &P = B.Core();
  InstallAllocationFailure(B);
  if (!B.Has("no-debug-output")) {
    B.Provide("debug-output", &InstallDebugOutputProducer(P));
  }
  if (!B.Has("no-status-codes")) {
    B.Provide("status-codes", &InstallStatusCodeListener(P));
  }
  B.Provide("cpu", &InstallCpuArchProducer(P));
  AcpiTablesOptions Acpi = B.Options().Acpi;
  if (Acpi.Dsdt.empty() && B.Has("dsdt")) {
    Acpi.Dsdt = DsdtFile(B.Setting("dsdt"));
  } else if (Acpi.Dsdt.empty()) {
    const std::span<const uint8_t> Board = BoardDsdtAml();
    Acpi.Dsdt.assign(Board.begin(), Board.end());
  }
  B.Provide("acpi-tables", &InstallAcpiTables(P, Acpi));
  if (B.Fault("acpi-sdt-no-interface")) {
    InstallWithoutInterface(P, EFI_ACPI_SDT_PROTOCOL_GUID);
  }
  if (B.Has("no-ipmi") && B.Has("ipmi-bmc-base")) {
    throw std::invalid_argument("--ipmi-bmc-base and --no-ipmi exclude each other");
  }
  if (B.Fault("ipmi-no-interface")) {
    InstallWithoutInterface(P, gOemIpmiInformationProtocolGuid);
  } else if (!B.Has("no-ipmi")) {
    InstallOemIpmiInformation(P, B.Has("ipmi-bmc-base") ? Number("ipmi-bmc-base", B.Setting("ipmi-bmc-base"))
                                                        : kDefaultBmcMemoryBase);
  }
  InstallEepromMac(B);
}

// The DSDT as the OS would find it, as dsdt.aml and iasl's disassembly dsdt.dsl.
void WriteDsdt(Board &B) {
  auto *Acpi = B.Producer<AcpiTablesProducer>("acpi-tables");
  if (B.Options().OutDir.empty() || Acpi == nullptr || Acpi->Dsdt().empty()) {
    return;
  }
  AmlDisassembly Listing = WriteAndDisassembleAml(Acpi->Dsdt(), B.Options().OutDir / kDsdtFile);
  std::string Outcome = !Listing.Ran              ? "iasl -d failed"
                        : Listing.ChecksumProblem ? "iasl reports a checksum problem"
                                                  : "checksum valid";
  B.Core().Log().Append("board",
                        "DSDT written to " + Listing.AmlFile.string() + " and " + Listing.DslFile.string() +
                            " (" + Outcome + ")\n",
                        B.Core().VirtualTimeNs());
}

// At the end of the boot: the count of firmware allocations (what an allocation-failure sweep
// walks) and the DSDT.
void CoreFinish(Board &B) {
  const uint64_t Allocations = B.Core().FirmwareAllocations();
  B.Core().Log().Append("board", "firmware allocations: " + std::to_string(Allocations) + "\n",
                        B.Core().VirtualTimeNs());
  if (const uint64_t Nth = FailingAllocation(B); Nth > Allocations) {
    B.Core().Log().Append("board",
                          "fail-alloc: allocation " + std::to_string(Nth) + " never fired: the boot made " +
                              std::to_string(Allocations) + " firmware allocations\n",
                          B.Core().VirtualTimeNs());
  }
  WriteDsdt(B);
}

} // namespace

BoardComponent CoreComponent() {
  return {
      "core",
      // The board's DRAM: the platform maps it and declares it when it starts.
      {{"dram", kBoardDram.Base, kBoardDram.Size, EfiGcdMemoryTypeSystemMemory, false}},
      {
          {"dsdt", "FILE", "publish the DSDT in FILE (AML) instead of the board's",
           [](const std::string &Value) { return DsdtProblem(Value); }},
          {"ipmi-bmc-base", "VALUE",
           "the BMC memory base the IPMI information protocol reports (default 0xF0000000)"},
          {"no-ipmi", "", "do not install the IPMI information protocol"},
          {"no-debug-output", "", "do not install the debug-output protocol"},
          {"no-status-codes", "", "do not install the status-code protocol"},
          {"eeprom-mac-stub", "",
           "install the test EEPROM MAC producer (fixed addresses in slots 1, 2, 5, 6)"},
          {"eeprom-mac-slots", "SLOT=TEXT,...",
           "the test EEPROM MAC producer, writing these MAC texts by slot"},
          {"fail-alloc", "N",
           "the N-th pool or page allocation by firmware code fails with EFI_OUT_OF_RESOURCES"},
          {"fail-alloc-in", "IMAGE", "count only the allocations of IMAGE (for --fail-alloc)"},
      },
      {
          {"eeprom-mac-stub-status", "STATUS",
           "the test EEPROM MAC producer returns STATUS (name or number)"},
          {"eeprom-mac-stub-no-interface", "", "the EEPROM MAC protocol is installed without an interface"},
          {"ipmi-no-interface", "", "the IPMI information protocol is installed without an interface"},
          {"acpi-sdt-no-interface", "", "the ACPI SDT protocol is also installed without an interface"},
      },
      CoreInstall,
      CoreFinish,
  };
}

} // namespace host
