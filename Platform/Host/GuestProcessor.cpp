// The AArch64 processor in the core: image loading, the tables firmware sees, the bus and the
// counter. What the images reach is what the host build's modules reach: the same services, the
// same address space and models, the same clock.
#include "GuestProcessor.h"

#include "CoreInternal.h"
#include "CpuCommon.h"
#include "FirmwareCall.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace host {

namespace {

constexpr uint64_t kStackPages = 64; // 256 KiB, as the board's firmware gives a DXE image
constexpr uint64_t kGuardPages = 1;
constexpr char16_t kGuestVendor[] = u"Host Board Emulator";

// The processor's caches up to the point of coherence: L1 separate instruction and data caches
// (32 KiB, 4 ways, 64-byte lines), L2 unified (1 MiB, 8 ways). CCSIDR_EL1 in its 32-bit layout.
constexpr uint64_t kClidr = (2ull << 24) | (4ull << 3) | 3; // LoC 2; L2 unified, L1 separate
constexpr uint64_t CacheSize(uint64_t Sets, uint64_t Ways) {
  constexpr uint64_t kLineSize64 = 2; // log2(64) - 4
  return ((Sets - 1) << 13) | ((Ways - 1) << 3) | kLineSize64;
}
constexpr size_t kL1Data = 0, kL1Instruction = 1, kL2 = 2; // CSSELR_EL1: Level << 1 | InD

// The processor's caches, counter and level. Its identification registers (MIDR, REVIDR) come
// later, as the board sets them (Platform::SetSystemRegister): the processor is made first.
cpu::ProcessorDescription Describe(const Platform::Impl &Core) {
  cpu::ProcessorDescription Processor;
  Processor.Cntfrq = kCounterHz; // CNTFRQ_EL0: the board's generic timer
  Processor.ExceptionLevel = Core.Options.ExceptionLevel;
  Processor.Clidr = kClidr;
  Processor.Ccsidr[kL1Data] = CacheSize(128, 4);
  Processor.Ccsidr[kL1Instruction] = CacheSize(256, 2);
  Processor.Ccsidr[kL2] = CacheSize(2048, 8);
  // Firmware runs with the MMU and caches on.
  Processor.Sctlr = cpu::SctlrMmuEnable | cpu::SctlrDataCache | cpu::SctlrInstructionCache;
  return Processor;
}

// The processor's memory must not hide a block the board declares: its page table would take
// the accesses the block's model should decode. Empty when it hides none.
std::string ClashWithBoard(const Platform::Impl &Core, const ProcessorMemory &Memory) {
  for (const EFI_GCD_MEMORY_SPACE_DESCRIPTOR &Each : Core.Gcd->MemoryDescriptors()) {
    if (Each.GcdMemoryType != EfiGcdMemoryTypeNonExistent &&
        Each.BaseAddress < Memory.Base() + Memory.Size() && Memory.Base() < Each.BaseAddress + Each.Length) {
      return "the processor's memory " + Memory.Describe() + " overlaps the board's " +
             GcdMap::MemoryTypeName(Each.GcdMemoryType) + " range at " + cpu::Hex(Each.BaseAddress);
    }
  }
  return {};
}

std::vector<uint8_t> ImageBytes(const std::filesystem::path &File) {
  std::ifstream In(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), {}};
}

} // namespace

// The bus: the core's address space, with its rules, faults and virtual time, charged to the
// image whose code runs on the processor now, as the host build charges the module whose code
// made the access (the image's base stands for its code). A faulting access is an error of the
// boot there and the image goes on, as a module of the host build does.
class GuestProcessor::BoardBus final : public cpu::Bus {
public:
  explicit BoardBus(Platform::Impl &Core) : Core_(Core) {}
  void Attach(const cpu::Aarch64Cpu &Processor) { Processor_ = &Processor; }
  bool Read(uint64_t Address, unsigned Width, uint64_t &Value) override {
    Settle();
    Value = Core_.Space.Read(Address, Width, RunningCode());
    return true;
  }
  bool Write(uint64_t Address, unsigned Width, uint64_t Value) override {
    Settle();
    Core_.Space.Write(Address, Width, Value, RunningCode());
    return true;
  }
  void Operation(const std::string &Name) override {
    Settle();
    RecordCpuOperation(Core_, Name);
  }
  bool InterruptsEnabled() override { return Core_.Events.InterruptsEnabled(); }
  void Error(const std::string &Text) override {
    Settle();
    Core_.Error("cache maintenance", Text);
  }
  void CodeTranslated() override { Core_.Images.CodeTranslated(); }
  // One read of the counter, by the image running now; the same reads as the host build's. A
  // spin on the counter makes millions: while nothing can fall due, the reads that follow one are
  // answered ahead of the clock and charged together when host code next looks (Settle). Each
  // read still costs one tick; the clock ends where the reads one by one would leave it.
  uint64_t CounterTicks(bool Starts) override {
    if (!Starts && Ahead_.Left != 0) [[likely]] {
      Ahead_.Left--;
      Ahead_.Reads++;
      return Ahead_.Next++;
    }
    Settle();
    Core_.Images.CheckWatchdog();
    const uint64_t Image = Processor_->RunningImage();
    SpinAccount_ = Image != 0 ? &Core_.Events.AccountOf(reinterpret_cast<const void *>(Image))
                              : &Core_.Events.CurrentAccount();
    const uint64_t Value = Core_.Timer.Read(*SpinAccount_, 1, Starts);
    ReadAhead(Value);
    return Value;
  }
  void Settle() override {
    if (Ahead_.Reads != 0) {
      const uint64_t Reads = Ahead_.Reads;
      Ahead_ = {};
      Core_.Timer.Read(*SpinAccount_, Reads, false);
    }
    Ahead_.Left = 0;
  }

private:
  // nullptr while code of no image runs: the image of the current call frame is charged.
  const void *RunningCode() const { return reinterpret_cast<const void *>(Processor_->RunningImage()); }

  Platform::Impl &Core_;
  const cpu::Aarch64Cpu *Processor_ = nullptr;
  TimeAccount *SpinAccount_ = nullptr; // whose spin the last full read made
  // Reads of the spin answered ahead of the clock: Left more may be, Reads were, the next one
  // reads Next. Read j after the clock's N ns starts at N + (j - 1) ticks and ends at N + j: none
  // may reach the queue's first item or start at the running call's deadline.
  struct {
    uint64_t Left = 0;
    uint64_t Reads = 0;
    uint64_t Next = 0;
  } Ahead_;
  static constexpr uint64_t kMostReadsAhead = 1u << 16; // the progress watchdog's trip waits no longer
  void ReadAhead(uint64_t Value) {
    if (!Core_.Images.WatchdogQuiet()) {
      return;
    }
    const uint64_t Now = Core_.Events.NowNs();
    const uint64_t Due = std::min(Core_.Events.FirstDueNs() - 1, Core_.Images.WatchdogDueNs());
    Ahead_.Left = Due > Now ? std::min((Due - Now) / kCounterTickNs, kMostReadsAhead) : 0;
    Ahead_.Next = Value + 1;
  }
};

// The tables firmware sees, in one run of the processor's pages.
struct GuestProcessor::GuestTables {
  EFI_SYSTEM_TABLE System;
  EFI_BOOT_SERVICES Boot;
  EFI_RUNTIME_SERVICES Runtime;
  EFI_DXE_SERVICES Dxe;
  EFI_CONFIGURATION_TABLE Configuration[kMaxConfigurationTables];
  EFI_HANDLE HandleSlot;
  char16_t Vendor[sizeof(kGuestVendor) / sizeof(char16_t)];
};

GuestProcessor::GuestProcessor(Platform::Impl &Core)
    : Core_(Core), Memory_(Core.Options.ProcessorMemory), Bus_(std::make_unique<BoardBus>(Core)),
      Cpu_(std::make_unique<cpu::Aarch64Cpu>(*Bus_, Describe(Core))) {
  // DRAM is declared by now; the board's blocks come later and are checked at each load.
  if (std::string Clash = ClashWithBoard(Core, Memory_); !Clash.empty()) {
    throw std::runtime_error(Clash);
  }
  Cpu_->Ram().MapRam(Core.Ram.Base(), Core.Ram.End() - Core.Ram.Base(),
                     static_cast<uint8_t *>(Core.Ram.At(Core.Ram.Base())));
  Cpu_->Ram().MapRam(Memory_.Base(), Memory_.Size(), Memory_.Host(Memory_.Base()));
  Cpu_->SetTrapPage(TakePages(1));
  const uint64_t Stack = TakePages(kGuardPages + kStackPages);
  Cpu_->SetStack(Stack + EFI_PAGES_TO_SIZE(kGuardPages),
                 Stack + EFI_PAGES_TO_SIZE(kGuardPages + kStackPages));
  Bus_->Attach(*Cpu_);
  BuildTables();
  Core.Images.SetGuestStop([Processor = Cpu_.get()] { return Processor->InterruptRunning(); });
  if (const char *File = std::getenv("BOARDSIM_CPU_PROFILE"); File != nullptr && *File != '\0') {
    ProfileFile_ = File;
    Profile_ = std::make_unique<cpu::CpuProfile>();
    Cpu_->SetProfile(Profile_.get());
  }
}

GuestProcessor::~GuestProcessor() {
  Core_.Images.SetGuestStop({});
  if (Profile_) {
    Profile_->Stop();
    std::ofstream Out(ProfileFile_);
    const char *Names[cpu::CpuProfile::Parts] = {"jit", "services", "models", "counter"};
    for (unsigned Part = 0; Part < cpu::CpuProfile::Parts; Part++) {
      const auto Which = static_cast<cpu::CpuProfile::Part>(Part);
      Out << Names[Part] << " " << Profile_->Ns(Which) << " " << Profile_->Entries(Which) << "\n";
    }
  }
}

uint64_t GuestProcessor::TakePages(uint64_t Pages) {
  const std::optional<uint64_t> Address = Memory_.Allocate(Pages);
  if (!Address) {
    throw std::runtime_error("the processor's memory " + Memory_.Describe() + " has no room for its own " +
                             std::to_string(Pages) + " pages");
  }
  return *Address;
}

// Copies of the core's tables whose members are the stubs of the core's functions. The core's
// own tables keep the host functions: host code (producers, models) calls through them too.
// The consoles' records are firmware's only: their members become stubs in place.
void GuestProcessor::BuildTables() {
  Tables_ = new (reinterpret_cast<void *>(TakePages(EFI_SIZE_TO_PAGES(sizeof(GuestTables))))) GuestTables{};
  cpu::Aarch64Cpu *Processor = Cpu_.get();
  EFI_BOOT_SERVICES &Boot = Tables_->Boot;
  Boot = Core_.BootServices;
  EFI_RUNTIME_SERVICES &Runtime = Tables_->Runtime;
  Runtime = Core_.RuntimeServices;
  EFI_DXE_SERVICES &Dxe = Tables_->Dxe;
  Dxe = Core_.DxeServices;
  // The core's services answer for the image that called them (its pool, its opens).
#define GUEST_SERVICE(Table, Member)                                                                         \
  do {                                                                                                       \
    if (Table.Member != nullptr) {                                                                           \
      Table.Member = cpu::ExportFunction(Processor, #Member, Table.Member, cpu::ActsFor::GuestCaller);       \
    }                                                                                                        \
  } while (false)
  GUEST_SERVICE(Boot, RaiseTPL);
  GUEST_SERVICE(Boot, RestoreTPL);
  GUEST_SERVICE(Boot, AllocatePages);
  GUEST_SERVICE(Boot, FreePages);
  GUEST_SERVICE(Boot, GetMemoryMap);
  GUEST_SERVICE(Boot, AllocatePool);
  GUEST_SERVICE(Boot, FreePool);
  GUEST_SERVICE(Boot, CreateEvent);
  GUEST_SERVICE(Boot, SetTimer);
  GUEST_SERVICE(Boot, WaitForEvent);
  GUEST_SERVICE(Boot, SignalEvent);
  GUEST_SERVICE(Boot, CloseEvent);
  GUEST_SERVICE(Boot, CheckEvent);
  GUEST_SERVICE(Boot, InstallProtocolInterface);
  GUEST_SERVICE(Boot, ReinstallProtocolInterface);
  GUEST_SERVICE(Boot, UninstallProtocolInterface);
  GUEST_SERVICE(Boot, HandleProtocol);
  GUEST_SERVICE(Boot, RegisterProtocolNotify);
  GUEST_SERVICE(Boot, LocateHandle);
  GUEST_SERVICE(Boot, LocateDevicePath);
  GUEST_SERVICE(Boot, InstallConfigurationTable);
  GUEST_SERVICE(Boot, LoadImage);
  GUEST_SERVICE(Boot, StartImage);
  GUEST_SERVICE(Boot, Exit);
  GUEST_SERVICE(Boot, UnloadImage);
  GUEST_SERVICE(Boot, ExitBootServices);
  GUEST_SERVICE(Boot, GetNextMonotonicCount);
  GUEST_SERVICE(Boot, Stall);
  GUEST_SERVICE(Boot, SetWatchdogTimer);
  GUEST_SERVICE(Boot, ConnectController);
  GUEST_SERVICE(Boot, DisconnectController);
  GUEST_SERVICE(Boot, OpenProtocol);
  GUEST_SERVICE(Boot, CloseProtocol);
  GUEST_SERVICE(Boot, OpenProtocolInformation);
  GUEST_SERVICE(Boot, ProtocolsPerHandle);
  GUEST_SERVICE(Boot, LocateHandleBuffer);
  GUEST_SERVICE(Boot, LocateProtocol);
  GUEST_SERVICE(Boot, InstallMultipleProtocolInterfaces);
  GUEST_SERVICE(Boot, UninstallMultipleProtocolInterfaces);
  GUEST_SERVICE(Boot, CalculateCrc32);
  GUEST_SERVICE(Boot, CopyMem);
  GUEST_SERVICE(Boot, SetMem);
  GUEST_SERVICE(Boot, CreateEventEx);
  GUEST_SERVICE(Runtime, GetTime);
  GUEST_SERVICE(Runtime, SetTime);
  GUEST_SERVICE(Runtime, GetWakeupTime);
  GUEST_SERVICE(Runtime, SetWakeupTime);
  GUEST_SERVICE(Runtime, SetVirtualAddressMap);
  GUEST_SERVICE(Runtime, ConvertPointer);
  GUEST_SERVICE(Runtime, GetVariable);
  GUEST_SERVICE(Runtime, GetNextVariableName);
  GUEST_SERVICE(Runtime, SetVariable);
  GUEST_SERVICE(Runtime, GetNextHighMonotonicCount);
  GUEST_SERVICE(Runtime, ResetSystem);
  GUEST_SERVICE(Runtime, UpdateCapsule);
  GUEST_SERVICE(Runtime, QueryCapsuleCapabilities);
  GUEST_SERVICE(Runtime, QueryVariableInfo);
  GUEST_SERVICE(Dxe, AddMemorySpace);
  GUEST_SERVICE(Dxe, AllocateMemorySpace);
  GUEST_SERVICE(Dxe, FreeMemorySpace);
  GUEST_SERVICE(Dxe, RemoveMemorySpace);
  GUEST_SERVICE(Dxe, GetMemorySpaceDescriptor);
  GUEST_SERVICE(Dxe, SetMemorySpaceAttributes);
  GUEST_SERVICE(Dxe, GetMemorySpaceMap);
  GUEST_SERVICE(Dxe, AddIoSpace);
  GUEST_SERVICE(Dxe, AllocateIoSpace);
  GUEST_SERVICE(Dxe, FreeIoSpace);
  GUEST_SERVICE(Dxe, RemoveIoSpace);
  GUEST_SERVICE(Dxe, GetIoSpaceDescriptor);
  GUEST_SERVICE(Dxe, GetIoSpaceMap);
  GUEST_SERVICE(Dxe, Dispatch);
  GUEST_SERVICE(Dxe, Schedule);
  GUEST_SERVICE(Dxe, Trust);
  GUEST_SERVICE(Dxe, ProcessFirmwareVolume);
  GUEST_SERVICE(Dxe, SetMemorySpaceCapabilities);
  for (ConsoleDevice *Console : {Core_.ConOut.get(), Core_.StdErr.get()}) {
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL &Text = Console->Protocol;
    GUEST_SERVICE(Text, Reset);
    GUEST_SERVICE(Text, OutputString);
    GUEST_SERVICE(Text, TestString);
    GUEST_SERVICE(Text, QueryMode);
    GUEST_SERVICE(Text, SetMode);
    GUEST_SERVICE(Text, SetAttribute);
    GUEST_SERVICE(Text, ClearScreen);
    GUEST_SERVICE(Text, SetCursorPosition);
    GUEST_SERVICE(Text, EnableCursor);
  }
#undef GUEST_SERVICE
  std::copy(std::begin(kGuestVendor), std::end(kGuestVendor), Tables_->Vendor);
  SyncSystemTable();
}

// The system table's own fields change as the boot goes on (configuration tables): the core
// calls this on every change. Host code keeps the core's entries (the DXE services with native
// members); firmware finds the table of stubs in that entry of its own array.
void GuestProcessor::SyncSystemTable() {
  EFI_SYSTEM_TABLE &System = Tables_->System;
  System = Core_.SystemTable;
  System.FirmwareVendor = reinterpret_cast<CHAR16 *>(Tables_->Vendor);
  System.BootServices = &Tables_->Boot;
  System.RuntimeServices = &Tables_->Runtime;
  const size_t Count = std::min(Core_.ConfigurationTables.size(), kMaxConfigurationTables);
  for (size_t Index = 0; Index < Count; Index++) {
    EFI_CONFIGURATION_TABLE &Entry = Tables_->Configuration[Index];
    Entry = Core_.ConfigurationTables[Index];
    if (Entry.VendorTable == &Core_.DxeServices) {
      Entry.VendorTable = &Tables_->Dxe;
    }
  }
  System.NumberOfTableEntries = Count;
  System.ConfigurationTable = Count == 0 ? nullptr : Tables_->Configuration;
  for (EFI_TABLE_HEADER *Header :
       {&Tables_->Boot.Hdr, &Tables_->Runtime.Hdr, &Tables_->Dxe.Hdr, &System.Hdr}) {
    Header->CRC32 = 0;
  }
  Tables_->Boot.Hdr.CRC32 = Crc32(&Tables_->Boot, sizeof(Tables_->Boot));
  Tables_->Runtime.Hdr.CRC32 = Crc32(&Tables_->Runtime, sizeof(Tables_->Runtime));
  Tables_->Dxe.Hdr.CRC32 = Crc32(&Tables_->Dxe, sizeof(Tables_->Dxe));
  System.Hdr.CRC32 = Crc32(&System, sizeof(System));
}

EFI_SYSTEM_TABLE *GuestProcessor::SystemTable() {
  return &Tables_->System;
}

EFI_HANDLE *GuestProcessor::HandleSlot() {
  return &Tables_->HandleSlot;
}

Halt GuestProcessor::AsHalt(const cpu::GuestFault &Fault) const {
  if (Fault.Kind == cpu::FaultKind::Interrupted) {
    return Core_.Images.TakeProgressTrip(); // only the progress watchdog stops the processor
  }
  const EFI_HANDLE Image = Core_.Images.ImageFromAddress(reinterpret_cast<const void *>(Fault.Pc));
  // The halt breakpoint and the dead loop's wait, as the host build's seam names them.
  const std::string Reason = Fault.Kind == cpu::FaultKind::Breakpoint ? std::string("CpuBreakpoint")
                             : Fault.Kind == cpu::FaultKind::DeadLoop ? std::string("CpuDeadLoop")
                                                                      : std::string(Fault.what());
  return Halt(Reason, Image != nullptr ? Core_.Images.ImageNameOf(Image) : Core_.Images.CurrentImageName(),
              Core_.Events.NowNs());
}

EFI_STATUS GuestProcessor::Load(const std::filesystem::path &File, ImageRecord &Image) {
  if (std::string Clash = ClashWithBoard(Core_, Memory_); !Clash.empty()) {
    Core_.ErrorOf("processor memory", Image.Name, Clash);
    return EFI_OUT_OF_RESOURCES;
  }
  const std::vector<uint8_t> Bytes = ImageBytes(File);
  std::string Error;
  EFI_STATUS Status = EFI_LOAD_ERROR;
  const std::optional<cpu::LoadedImage> Loaded = cpu::LoadPeImage(
      Bytes, Memory_.Size(),
      [&](uint64_t Pages, uint16_t) -> std::optional<cpu::GuestPages> {
        const std::optional<uint64_t> Address = Memory_.Allocate(Pages);
        if (!Address) {
          Status = EFI_OUT_OF_RESOURCES;
          Core_.ErrorOf("processor memory", Image.Name,
                        File.filename().string() + " needs " + std::to_string(Pages) +
                            " pages; the processor's memory " + Memory_.Describe() + " has no run that long");
          return std::nullopt;
        }
        return cpu::GuestPages{*Address, Memory_.Host(*Address)};
      },
      Error);
  if (!Loaded) {
    Core_.LogLine("load " + Image.Name + ": " + File.string() + ": " + Error);
    return Status;
  }
  Cpu_->AddImage(File.filename().string(), *Loaded);
  Image.Base = Loaded->Base;
  Image.Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(Loaded->Entry);
  Image.Loaded.ImageBase = reinterpret_cast<VOID *>(Loaded->Base);
  Image.Loaded.ImageSize = Loaded->Bytes;
  Loaded_[&Image] = *Loaded;
  return EFI_SUCCESS;
}

EFI_STATUS GuestProcessor::Start(ImageRecord &Image, EFI_HANDLE Handle) {
  return cpu::CallFirmware(Cpu_.get(), Image.Entry, Handle, &Tables_->System);
}

void GuestProcessor::Unload(const ImageRecord *Image) {
  const auto Found = Loaded_.find(Image);
  if (Found == Loaded_.end()) {
    return;
  }
  Cpu_->RemoveImage(Found->second);
  Memory_.Free(Found->second.Base, EFI_SIZE_TO_PAGES(Found->second.Bytes));
  Loaded_.erase(Found);
}

std::string ModuleImageProblem(const PlatformOptions &Options, const std::string &Name) {
  const std::filesystem::path File = Options.ModuleFile(Name);
  if (!Options.Aarch64Images || !std::filesystem::is_regular_file(File)) {
    return "";
  }
  const std::string Problem = cpu::PeImageProblem(ImageBytes(File), Options.ProcessorMemory.Size);
  return Problem.empty() ? "" : File.string() + ": " + Problem;
}

} // namespace host
