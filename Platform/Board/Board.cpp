// Board::Build and the board's services to its components, boardsim and the test boards.
#include "Board.h"
#include "HostText.h"

#include "GcdMap.h"
#include "HostFiles.h"
#include "VariableStore.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace host {

namespace {

// What the platform's resource descriptors give each kind of row: system memory can take any
// cache type and become runtime; device blocks are uncached and may be runtime.
constexpr uint64_t kSystemMemoryCapabilities = GcdMap::kSystemMemoryCapabilities;
constexpr uint64_t kSystemMemoryAttributes = GcdMap::kSystemMemoryAttributes;
constexpr uint64_t kDeviceCapabilities = EFI_MEMORY_UC | EFI_MEMORY_XP | EFI_MEMORY_RUNTIME;
constexpr uint64_t kDeviceAttributes = EFI_MEMORY_UC;

template <class Member> const BoardOptionSpec *FindSpec(const std::string &Name, Member List) {
  for (const BoardComponent &Component : BoardComponents()) {
    for (const BoardOptionSpec &Spec : Component.*List) {
      if (Spec.Name == Name) {
        return &Spec;
      }
    }
  }
  return nullptr;
}

template <class Member>
std::string CheckNames(const std::map<std::string, std::string> &Given, Member List, const char *What) {
  for (const auto &[Name, Value] : Given) {
    const BoardOptionSpec *Spec = FindSpec(Name, List);
    if (Spec == nullptr) {
      return std::string("unknown ") + What + " " + Name;
    }
    if (Spec->Argument.empty() && !Value.empty()) {
      return std::string(What) + " " + Name + " takes no value";
    }
    if (!Spec->Argument.empty() && Value.empty() && List == &BoardComponent::Options) {
      return std::string(What) + " " + Name + " needs a value (" + Spec->Argument + ")";
    }
  }
  return {};
}

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

} // namespace

namespace {

// Variables persist in the options' NVRAM file: the one the platform was created with, or
// attached now.
void AttachNvram(Platform &P, const std::filesystem::path &File) {
  const std::filesystem::path &Attached = P.Variables().AttachedFile();
  if (File.empty() || Attached == File) {
    return;
  }
  if (!Attached.empty()) {
    throw std::invalid_argument("variables persist in " + Attached.string() + ", not in " + File.string());
  }
  std::string Error;
  if (!P.Variables().AttachFile(File, &Error)) {
    throw std::invalid_argument("NVRAM file " + File.string() + ": " + Error);
  }
}

// The rows less the board's DRAM, which the platform declared when it started (it holds the
// core's tables); a system-memory row that is not that DRAM has no host memory behind it.
std::vector<SocRegion> WithoutDram(const Platform &P, const std::vector<SocRegion> &Rows) {
  std::vector<SocRegion> Result;
  for (const SocRegion &Row : Rows) {
    if (Row.GcdType != EfiGcdMemoryTypeSystemMemory) {
      Result.push_back(Row);
    } else if (Row.Base != P.Dram().Base || Row.Size != P.Dram().Size) {
      throw std::logic_error("SoC map row " + Row.Name + " at " + Hex(Row.Base) + " of " + Hex(Row.Size) +
                             " bytes is not the DRAM the platform holds (" + Hex(P.Dram().Base) + " of " +
                             Hex(P.Dram().Size) + " bytes)");
    }
  }
  return Result;
}

} // namespace

std::string Board::Check(const BoardOptions &Options) {
  std::string Problem = CheckNames(Options.Settings, &BoardComponent::Options, "option");
  if (Problem.empty()) {
    Problem = CheckNames(Options.Faults, &BoardComponent::Faults, "fault knob");
  }
  return Problem;
}

std::string Board::CheckFiles(const BoardOptions &Options) {
  for (const auto &[Name, Value] : Options.Settings) {
    const BoardOptionSpec *Spec = FindSpec(Name, &BoardComponent::Options);
    const std::string Problem = Spec != nullptr && Spec->PathProblem ? Spec->PathProblem(Value) : "";
    if (!Problem.empty()) {
      return PathMessage("--" + Name, Value, Problem);
    }
  }
  return {};
}

std::unique_ptr<Board> Board::Build(Platform &P, const BoardOptions &Options) {
  if (std::string Problem = Check(Options); !Problem.empty()) {
    throw std::invalid_argument(Problem);
  }
  AttachNvram(P, Options.NvramFile);
  std::unique_ptr<Board> Result(new Board(P, Options));
  std::set<std::string> Names;
  for (const BoardComponent &Component : BoardComponents()) {
    for (const SocRegion &Row : Component.Regions) {
      if (!Names.insert(Row.Name).second) {
        throw std::logic_error("two SoC map rows are named " + Row.Name);
      }
    }
    SeedGcdMap(P.Gcd(), WithoutDram(P, Component.Regions));
  }
  // What the producers publish must lie in DRAM, where firmware on the board finds it.
  struct RecordRule {
    Platform &P;
    ~RecordRule() { P.RequireRecordsInDram(false); }
  } Rule{P};
  P.RequireRecordsInDram(true);
  for (const BoardComponent &Component : BoardComponents()) {
    if (Component.Install) {
      Result->Log("component " + Component.Name);
      Component.Install(*Result);
    }
  }
  return Result;
}

void SeedGcdMap(GcdMap &Gcd, const std::vector<SocRegion> &Rows) {
  for (const SocRegion &Row : Rows) {
    if (Row.GcdType == EfiGcdMemoryTypeNonExistent) {
      continue;
    }
    const bool Memory = Row.GcdType == EfiGcdMemoryTypeSystemMemory;
    EFI_STATUS Status = Gcd.AddMemorySpace(Row.GcdType, Row.Base, Row.Size,
                                           Memory ? kSystemMemoryCapabilities : kDeviceCapabilities);
    if (!EFI_ERROR(Status)) {
      const uint64_t Attributes =
          (Memory ? kSystemMemoryAttributes : kDeviceAttributes) | (Row.Runtime ? EFI_MEMORY_RUNTIME : 0);
      Status = Gcd.SetMemorySpaceAttributes(Row.Base, Row.Size, Attributes);
    }
    if (EFI_ERROR(Status)) {
      throw std::logic_error("SoC map row " + Row.Name + " at " + Hex(Row.Base) + ": " + StatusName(Status));
    }
  }
}

uint64_t OptionNumber(const std::string &Name, const std::string &Text, uint64_t Max) {
  const std::optional<uint64_t> Value = ParseNumber(Text);
  if (!Value || *Value > Max) {
    throw std::invalid_argument(Name + " needs a number" +
                                (Max == UINT64_MAX ? "" : " up to " + std::to_string(Max)) + ", not \"" +
                                Text + "\"");
  }
  return *Value;
}

bool Board::Has(const std::string &Setting) const {
  return Options_.Settings.count(Setting) != 0;
}

std::string Board::Setting(const std::string &Name, std::string Default) const {
  auto Found = Options_.Settings.find(Name);
  return Found != Options_.Settings.end() ? Found->second : Default;
}

bool Board::Fault(const std::string &Knob) const {
  return Options_.Faults.count(Knob) != 0;
}

std::string Board::FaultValue(const std::string &Knob, std::string Default) const {
  auto Found = Options_.Faults.find(Knob);
  return Found != Options_.Faults.end() && !Found->second.empty() ? Found->second : Default;
}

uint64_t Board::FaultStep(const std::string &Knob) const {
  if (!Fault(Knob)) {
    return 0;
  }
  const uint64_t Step = OptionNumber(Knob, FaultValue(Knob));
  if (Step == 0) {
    throw std::invalid_argument(Knob + " counts from 1");
  }
  return Step;
}

void Board::LogFaultSteps(const std::string &Knob, uint64_t Count, const std::string &What) {
  Log("faults: " + Knob + ": " + std::to_string(Count) + " " + What);
  if (const uint64_t Step = FaultStep(Knob); Step > Count) {
    Log("faults: " + Knob + "=" + std::to_string(Step) + " never fired: the boot had " +
        std::to_string(Count) + " " + What);
  }
}

const SocRegion &Board::Region(const std::string &Name) {
  for (const BoardComponent &Component : BoardComponents()) {
    for (const SocRegion &Row : Component.Regions) {
      if (Row.Name == Name) {
        return Row;
      }
    }
  }
  throw std::out_of_range("no SoC map row " + Name);
}

void Board::Attach(const std::string &Name, std::shared_ptr<DeviceModel> Model) {
  const SocRegion &Row = Region(Name);
  if (Models_.count(Name) != 0) {
    throw std::invalid_argument("a model is already attached at " + Name);
  }
  P_.Attach(Row.Base, Row.Size, Model);
  Models_[Name] = std::move(Model);
}

void Board::ResetModels() {
  for (auto &[Name, Model] : Models_) {
    Model->CancelDelayedWork();
    Model->Reset();
  }
}

void Board::AddErrorSource(std::function<std::vector<std::string>()> Source) {
  ErrorSources_.push_back(std::move(Source));
}

std::vector<std::string> Board::Errors() const {
  // The core's errors of the boot (memory, MMIO, TPL, misuse), then the models' own.
  std::vector<std::string> Result = P_.Errors();
  AppendModelErrors(Result);
  return Result;
}

void Board::AppendModelErrors(std::vector<std::string> &Result) const {
  for (const auto &[Name, Model] : Models_) {
    std::vector<std::string> More = Model->ProtocolErrors();
    Result.insert(Result.end(), More.begin(), More.end());
  }
  for (const auto &Source : ErrorSources_) {
    std::vector<std::string> More = Source();
    Result.insert(Result.end(), More.begin(), More.end());
  }
}

std::vector<std::string> Board::UnexpectedErrors(const std::vector<std::string> &Expected) const {
  // The core leaves out what a test declared with Platform::ExpectError.
  std::vector<std::string> Candidates = P_.UnexpectedErrors();
  AppendModelErrors(Candidates);
  std::vector<std::string> Result;
  for (const std::string &Error : Candidates) {
    if (std::none_of(Expected.begin(), Expected.end(),
                     [&](const std::string &Text) { return Error.find(Text) != std::string::npos; })) {
      Result.push_back(Error);
    }
  }
  return Result;
}

std::vector<ImageResult> Board::Dispatch() {
  const std::vector<std::string> &Order =
      Options_.Modules.empty() ? DefaultDispatchOrder() : Options_.Modules;
  std::vector<ImageResult> Results;
  for (const std::string &Module : Order) {
    Log("module " + Module);
    Results.push_back(P_.RunModule(Module));
    if (Results.back().Halted) {
      break;
    }
    for (const BoardComponent &Component : BoardComponents()) {
      if (Component.AfterModule) {
        Component.AfterModule(*this, Module);
      }
    }
  }
  return Results;
}

bool Board::ConnectAllControllers() {
  EFI_BOOT_SERVICES *BootServices = P_.BootServices();
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles))) {
    return true;
  }
  std::vector<EFI_HANDLE> All(Handles, Handles + Count);
  BootServices->FreePool(Handles);
  for (EFI_HANDLE Handle : All) {
    if (P_.Guard([&] { BootServices->ConnectController(Handle, nullptr, nullptr, TRUE); })) {
      return false;
    }
  }
  return true;
}

void Board::Finish() {
  for (const BoardComponent &Component : BoardComponents()) {
    if (Component.Finish) {
      Component.Finish(*this);
    }
  }
}

void Board::Log(const std::string &Text) {
  P_.Log().Append("board", Text + "\n", P_.VirtualTimeNs());
}

} // namespace host
