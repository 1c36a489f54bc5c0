// The platform object: one boot of the emulated board, its tables and its host-side views.
#include "CoreInternal.h"
#include "GuestProcessor.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace host {

namespace {
Platform *gCurrentPlatform = nullptr;
Platform::Impl *gCurrentImpl = nullptr;

constexpr char16_t kFirmwareVendor[] = u"Host Board Emulator";
constexpr UINT32 kFirmwareRevision = 0x00010000;
constexpr uint64_t kTablePages = 2;

std::filesystem::path DefaultModuleDir() {
#ifdef FIRMWARE_MODULE_DIR
  return FIRMWARE_MODULE_DIR;
#else
  return {};
#endif
}
} // namespace

Platform::Impl &Core() {
  if (gCurrentImpl == nullptr) {
    throw std::logic_error("no host::Platform is alive");
  }
  return *gCurrentImpl;
}

bool CoreAlive() {
  return gCurrentImpl != nullptr;
}

Halt::Halt(std::string ReasonText, std::string ImageName, uint64_t TimeNs)
    : Reason(std::move(ReasonText)), Image(std::move(ImageName)), VirtualTimeNs(TimeNs) {
  Text = "halt in " + Image + ": " + Reason + " at " + std::to_string(VirtualTimeNs) + " ns";
}

namespace {

// The page at the top of DRAM that holds the core's tables of one kind (Index 0: those kept
// for runtime, 1: boot services').
template <class Tables> Tables &TablesPage(const Dram &Ram, uint64_t Index) {
  if (Ram.End() - Ram.Base() < EFI_PAGES_TO_SIZE(kTablePages)) {
    throw std::runtime_error("DRAM too small for the core's tables");
  }
  return *new (Ram.At(Ram.End() - EFI_PAGES_TO_SIZE(Index + 1))) Tables{};
}

// DRAM in the memory space map as the platform's resource descriptors declare system memory,
// allocated to the core's memory services, which hand it out as pages and pool.
void DeclareDram(Platform::Impl &Core) {
  EFI_PHYSICAL_ADDRESS Base = Core.Ram.Base();
  const uint64_t Size = Core.Ram.End() - Base;
  EFI_STATUS Status =
      Core.Gcd->AddMemorySpace(EfiGcdMemoryTypeSystemMemory, Base, Size, GcdMap::kSystemMemoryCapabilities);
  if (!EFI_ERROR(Status)) {
    Status = Core.Gcd->SetMemorySpaceAttributes(Base, Size, GcdMap::kSystemMemoryAttributes);
  }
  if (!EFI_ERROR(Status)) {
    Status = Core.Gcd->AllocateMemorySpace(EfiGcdAllocateAddress, EfiGcdMemoryTypeSystemMemory, 0, Size,
                                           &Base, Core.FirmwareHandle, nullptr);
  }
  if (EFI_ERROR(Status)) {
    throw std::logic_error("DRAM does not fit the memory space map: " + StatusName(Status));
  }
}

} // namespace

Platform::Impl::Impl(PlatformOptions PlatformOptionsIn)
    : Options(std::move(PlatformOptionsIn)), Ram(Options.Dram.Base, Options.Dram.Size),
      RuntimeArea(TablesPage<RuntimeTables>(Ram, 0)), BootArea(TablesPage<BootTables>(Ram, 1)),
      SystemTable(RuntimeArea.System), BootServices(BootArea.Boot), RuntimeServices(RuntimeArea.Runtime),
      DxeServices(BootArea.Dxe) {
  if (Options.ModuleDir.empty()) {
    Options.ModuleDir = DefaultModuleDir();
  }
  Log.SetEcho(Options.Echo);
  Memory.TakePages(
      {reinterpret_cast<uint64_t>(&RuntimeArea), 1, EfiRuntimeServicesData, nullptr, PageUse::Tables});
  Memory.TakePages({reinterpret_cast<uint64_t>(&BootArea), 1, EfiBootServicesData, nullptr, PageUse::Tables});
}

void Platform::Impl::UpdateTableCrcs() {
  SystemTable.NumberOfTableEntries = ConfigurationTables.size();
  std::copy(ConfigurationTables.begin(), ConfigurationTables.end(), RuntimeArea.Configuration);
  SystemTable.ConfigurationTable = ConfigurationTables.empty() ? nullptr : RuntimeArea.Configuration;
  for (EFI_TABLE_HEADER *Header :
       {&BootServices.Hdr, &RuntimeServices.Hdr, &DxeServices.Hdr, &SystemTable.Hdr}) {
    Header->CRC32 = 0;
  }
  BootServices.Hdr.CRC32 = Crc32(&BootServices, sizeof(BootServices));
  RuntimeServices.Hdr.CRC32 = Crc32(&RuntimeServices, sizeof(RuntimeServices));
  DxeServices.Hdr.CRC32 = Crc32(&DxeServices, sizeof(DxeServices));
  SystemTable.Hdr.CRC32 = Crc32(&SystemTable, sizeof(SystemTable));
  if (GuestProcessor *Guest = Images.Guest()) {
    Guest->SyncSystemTable();
  }
}

std::string Platform::Impl::CurrentImageName() const {
  return Images.CurrentImageName();
}

Platform::Platform(PlatformOptions Options) {
  if (gCurrentPlatform != nullptr) {
    throw std::logic_error("only one host::Platform may be alive at a time");
  }
  Impl_ = std::make_unique<Impl>(std::move(Options));
  gCurrentPlatform = this;
  gCurrentImpl = Impl_.get();
  Impl &Core = *Impl_;

  Core.InitBootServices();
  Core.InitRuntimeServices();
  Core.InitDxeServices();

  Core.SystemTable.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  Core.SystemTable.Hdr.Revision = EFI_SYSTEM_TABLE_REVISION;
  Core.SystemTable.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  Core.SystemTable.FirmwareVendor = const_cast<CHAR16 *>(kFirmwareVendor);
  Core.SystemTable.FirmwareRevision = kFirmwareRevision;
  Core.SystemTable.BootServices = &Core.BootServices;
  Core.SystemTable.RuntimeServices = &Core.RuntimeServices;

  // The firmware's own image handle: host producers install on it and own what they allocate.
  EFI_LOADED_IMAGE_PROTOCOL &FirmwareImage = Core.FirmwareImage;
  FirmwareImage.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  FirmwareImage.SystemTable = &Core.SystemTable;
  FirmwareImage.ImageCodeType = EfiBootServicesCode;
  FirmwareImage.ImageDataType = EfiBootServicesData;
  Core.Handles.InstallProtocol(&Core.FirmwareHandle, CoreGuid::LoadedImage, &FirmwareImage, false);
  Core.Images.SetFirmwareHandle(Core.FirmwareHandle);
  Core.Memory.StatsOf(Core.FirmwareHandle).Name = "firmware";

  DeclareDram(Core);
  Core.InitConsoles();
  if (Core.Options.Aarch64Images) {
    // Before any producer installs: what they hand to firmware is exported to it.
    Core.Images.SetGuest(std::make_unique<GuestProcessor>(Core));
    Core.FirmwareImage.SystemTable = Core.Images.Guest()->SystemTable(); // what firmware may look up
  }
  Core.ConfigurationTables.push_back({CoreGuid::DxeServicesTable, &Core.DxeServices});
  Core.UpdateTableCrcs();

  if (!Core.Options.NvramFile.empty()) {
    std::string Error;
    if (!Core.Variables->AttachFile(Core.Options.NvramFile, &Error)) {
      Core.LogLine("NVRAM file " + Core.Options.NvramFile.string() + " not usable: " + Error);
    }
  }
  Core.LogLine("platform up");
}

Platform::~Platform() {
  Impl &Core = *Impl_;
  Core.Images.UnloadAllImages(Core.BootServicesEnded);
  Core.Memory.ReleaseAll();
  Core.Images.StopWatchdog();
  gCurrentPlatform = nullptr;
  gCurrentImpl = nullptr;
}

Platform &Platform::Current() {
  if (gCurrentPlatform == nullptr) {
    throw std::logic_error("no host::Platform is alive");
  }
  return *gCurrentPlatform;
}

EFI_SYSTEM_TABLE *Platform::SystemTable() {
  return &Impl_->SystemTable;
}
EFI_BOOT_SERVICES *Platform::BootServices() {
  return &Impl_->BootServices;
}
EFI_RUNTIME_SERVICES *Platform::RuntimeServices() {
  return &Impl_->RuntimeServices;
}
EFI_DXE_SERVICES *Platform::DxeServices() {
  return &Impl_->DxeServices;
}
EFI_HANDLE Platform::FirmwareHandle() {
  return Impl_->FirmwareHandle;
}
cpu::Aarch64Cpu *Platform::Processor() const {
  return Impl_->Images.Processor();
}

EFI_STATUS Platform::LoadModule(const std::string &Name, EFI_HANDLE *ImageHandle) {
  return Impl_->Images.LoadModule(Name, Impl_->FirmwareHandle, ImageHandle);
}

ImageResult Platform::StartImage(EFI_HANDLE ImageHandle) {
  return Impl_->Images.StartImage(ImageHandle);
}

ImageResult Platform::RunModule(const std::string &Name) {
  EFI_HANDLE Handle = nullptr;
  EFI_STATUS Status = LoadModule(Name, &Handle);
  if (EFI_ERROR(Status)) {
    ImageResult Result;
    Result.Status = Status;
    Result.Unloaded = true;
    return Result;
  }
  return StartImage(Handle);
}

bool Platform::IsImageLoaded(EFI_HANDLE ImageHandle) const {
  return Impl_->Images.IsLoaded(ImageHandle);
}

std::string Platform::ImageName(EFI_HANDLE ImageHandle) const {
  const ImageStats *Found = Impl_->Memory.FindStats(ImageHandle);
  return Found != nullptr ? Found->Name : std::string();
}

std::string Platform::CurrentImageName() const {
  return Impl_->CurrentImageName();
}

std::optional<Halt> Platform::Guard(const std::function<void()> &Call) {
  return Impl_->Images.RunFrame(nullptr, std::string(), Call);
}

const std::vector<Fault> &Platform::Faults() const {
  return Impl_->Space.Faults();
}
uint64_t Platform::VirtualTimeNs() const {
  return Impl_->Events.NowNs();
}
void Platform::AdvanceTime(uint64_t Nanoseconds) {
  Impl_->Events.Spend(Impl_->Events.CurrentAccount(), &TimeAccount::ServiceNs, Nanoseconds);
}
void Platform::After(uint64_t DelayNs, std::function<void()> Work) {
  const uint64_t Now = Impl_->Events.NowNs();
  const uint64_t Due = DelayNs > UINT64_MAX - Now ? UINT64_MAX : Now + DelayNs;
  // Even a work due now waits for the clock's next step, so that it never runs inside the model
  // access that scheduled it; a work scheduled by a work runs in the same step when it is due.
  Impl_->Events.Schedule(Due, std::move(Work));
}
bool Platform::InterruptsEnabled() const {
  return Impl_->Events.InterruptsEnabled();
}
void Platform::SetInterruptsEnabled(bool Enabled) {
  Impl_->Events.SetInterruptsEnabled(Enabled);
}
const std::vector<std::string> &Platform::CpuOperations() const {
  return Impl_->CpuOperations;
}
void Platform::SetSystemRegister(const std::string &Name, uint64_t Value) {
  Impl_->SystemRegisters[Name] = Value;
  if (GuestProcessor *Guest = Impl_->Images.Guest()) {
    Guest->Cpu().Registers().SetIdentity(Name, Value); // the board describes its processor after making it
  }
}

uint64_t Platform::OutstandingPoolBytes(EFI_HANDLE ImageHandle) const {
  const ImageStats *Found = Impl_->Memory.FindStats(ImageHandle);
  return Found != nullptr ? Found->PoolBytes : 0;
}

uint64_t Platform::OutstandingPages(EFI_HANDLE ImageHandle) const {
  const ImageStats *Found = Impl_->Memory.FindStats(ImageHandle);
  return Found != nullptr ? Found->Pages : 0;
}

uint64_t Platform::FreePoolCalls(EFI_HANDLE ImageHandle) const {
  const ImageStats *Found = Impl_->Memory.FindStats(ImageHandle);
  return Found != nullptr ? Found->FreePoolCalls : 0;
}

const std::map<std::string, TimeAccount> &Platform::TimeAccounts() const {
  return Impl_->Events.Accounts();
}

const std::vector<std::string> &Platform::MemoryErrors() const {
  return Impl_->Memory.MemoryErrors();
}

EFI_TPL Platform::CurrentTpl() const {
  return Impl_->Events.CurrentTpl();
}
bool Platform::BootServicesActive() const {
  return !Impl_->Events.TimerInterruptStopped() && !Impl_->BootServicesEnded;
}

std::u16string Platform::ConsoleText() const {
  return Impl_->ConOut->Text;
}
std::u16string Platform::StdErrText() const {
  return Impl_->StdErr->Text;
}

BoardLog &Platform::Log() {
  return Impl_->Log;
}
VariableStore &Platform::Variables() {
  return *Impl_->Variables;
}
MemoryRange Platform::Dram() const {
  return {Impl_->Ram.Base(), Impl_->Ram.End() - Impl_->Ram.Base()};
}

VOID *Platform::AllocateRecord(EFI_MEMORY_TYPE Type, size_t Size) {
  VOID *Record = Impl_->Memory.CarvePool(Type, Size, nullptr);
  if (Record != nullptr) {
    Impl_->Memory.MapChanged();
  }
  return Record;
}

void Platform::RequireRecordsInDram(bool On) {
  Impl_->Handles.RequireRecordsIn(On ? &Impl_->Ram : nullptr);
}

void Platform::FailAllocation(uint64_t Nth, const std::string &Image) {
  Impl_->Memory.FailAllocation(Nth, Image);
}

uint64_t Platform::FirmwareAllocations() const {
  return Impl_->Memory.FirmwareAllocations();
}

GcdMap &Platform::Gcd() {
  return *Impl_->Gcd;
}

} // namespace host
