// Images: each module's shared object loaded from a private copy (so every load has its
// own globals), started through its entry point, and unloaded as the DXE dispatcher does.
#include "ImageTable.h"

#include "CoreInternal.h"
#include "FirmwareCall.h"
#include "GuestProcessor.h"

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

namespace host {

namespace {

constexpr char kEntrySymbol[] = "_ModuleEntryPoint";
constexpr char kElfMagic[] = "\x7F"
                             "ELF";
// Written next to each module by the build: "DRIVER" or "APPLICATION".
constexpr char kKindSuffix[] = ".kind";

bool ReadFile(const std::filesystem::path &Path, std::vector<char> &Bytes) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    return false;
  }
  Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return true;
}

bool IsApplicationModule(const std::filesystem::path &ModulePath) {
  std::filesystem::path KindFile = ModulePath;
  KindFile.replace_extension(kKindSuffix);
  std::ifstream In(KindFile);
  std::string Kind;
  return In && (In >> Kind) && Kind == "APPLICATION";
}

constexpr char kCopyPrefix[] = "hostimage-";

// A fresh file for every load: dlopen maps a path once per process, so each load of the same
// module needs its own copy to get its own globals. The name carries the process id, so that
// the copies a killed process left behind can be told from those of a live one.
std::filesystem::path WriteTempCopy(const std::string &Name, const void *Bytes, size_t Size) {
  std::filesystem::path Pattern = std::filesystem::temp_directory_path() /
                                  (kCopyPrefix + std::to_string(getpid()) + "-" + Name + "-XXXXXX.so");
  std::string Path = Pattern.string();
  int File = mkstemps(Path.data(), 3);
  if (File < 0) {
    return {};
  }
  const char *Data = static_cast<const char *>(Bytes);
  size_t Written = 0;
  while (Written < Size) {
    ssize_t Count = write(File, Data + Written, Size - Written);
    if (Count <= 0) {
      close(File);
      unlink(Path.c_str());
      return {};
    }
    Written += static_cast<size_t>(Count);
  }
  close(File);
  return Path;
}

// The copies of processes that are gone ("hostimage-<pid>-..."): a process killed in the middle
// of a boot never unloads its images.
void RemoveLeftoverCopies() {
  std::error_code Failure;
  for (const auto &Entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), Failure)) {
    const std::string File = Entry.path().filename().string();
    if (File.rfind(kCopyPrefix, 0) != 0) {
      continue;
    }
    const size_t IdAt = sizeof(kCopyPrefix) - 1;
    const std::optional<uint64_t> Owner = ParseNumber(File.substr(IdAt, File.find('-', IdAt) - IdAt));
    const bool OwnerGone = Owner && kill(static_cast<pid_t>(*Owner), 0) != 0 && errno == ESRCH;
    if (OwnerGone) {
      std::filesystem::remove(Entry.path(), Failure);
    }
  }
}

} // namespace

EFI_STATUS ImageTable::LoadFromBuffer(const std::string &Name, const void *Buffer, size_t Size,
                                      bool IsApplication, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle) {
  if (Size < 4 || std::memcmp(Buffer, kElfMagic, 4) != 0) {
    return EFI_UNSUPPORTED;
  }
  if (Guest_) {
    // Host code cannot call the images' function pointers, nor they its: no shared object joins
    // a boot of AArch64 images.
    Report_.LogLine("load " + Name + ": EFI_UNSUPPORTED (a shared object in a boot of AArch64 images)");
    return EFI_UNSUPPORTED;
  }
  std::filesystem::path TempFile = WriteTempCopy(Name, Buffer, Size);
  if (TempFile.empty()) {
    return EFI_OUT_OF_RESOURCES;
  }
  void *Library = dlopen(TempFile.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (Library == nullptr) {
    const char *Error = dlerror();
    Report_.LogLine("load " + Name + ": " + (Error != nullptr ? Error : "dlopen failed"));
    std::filesystem::remove(TempFile);
    return EFI_LOAD_ERROR;
  }
  void *Entry = dlsym(Library, kEntrySymbol);
  Dl_info Info{};
  if (Entry == nullptr || dladdr(Entry, &Info) == 0) {
    Report_.LogLine("load " + Name + ": no " + kEntrySymbol);
    dlclose(Library);
    std::filesystem::remove(TempFile);
    return EFI_LOAD_ERROR;
  }
  auto Image = std::make_unique<ImageRecord>();
  Image->Name = Name;
  Image->Library = Library;
  Image->TempFile = TempFile;
  Image->Base = reinterpret_cast<uintptr_t>(Info.dli_fbase);
  Image->Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(Entry);
  Image->IsApplication = IsApplication;
  Image->Loaded.ImageBase = Info.dli_fbase;
  Image->Loaded.ImageSize = Size;
  const EFI_STATUS Status = RegisterImage(std::move(Image), Parent, ImageHandle);
  if (EFI_ERROR(Status)) {
    dlclose(Library);
    std::filesystem::remove(TempFile);
  }
  return Status;
}

// A loaded image's record and its Loaded Image protocol.
EFI_STATUS ImageTable::RegisterImage(std::unique_ptr<ImageRecord> Image, EFI_HANDLE Parent,
                                     EFI_HANDLE *ImageHandle) {
  const std::string Name = Image->Name;
  const bool IsApplication = Image->IsApplication;
  EFI_LOADED_IMAGE_PROTOCOL &Loaded = Image->Loaded;
  Loaded.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  Loaded.ParentHandle = Parent;
  Loaded.SystemTable = Guest_ ? Guest_->SystemTable() : &SystemTable_;
  Loaded.ImageCodeType = IsApplication ? EfiLoaderCode : EfiBootServicesCode;
  Loaded.ImageDataType = IsApplication ? EfiLoaderData : EfiBootServicesData;

  EFI_HANDLE Handle = nullptr;
  // The Loaded Image interface lives in the record, whose address is stable.
  ImageRecord *Record = Image.get();
  EFI_STATUS Status = Handles_.InstallProtocol(&Handle, CoreGuid::LoadedImage, &Record->Loaded, true);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Record->Handle = Handle;
  Watchdog_->AddImageCode(Record->Base, Name);
  Images_[Handle] = std::move(Image);
  Memory_.StatsOf(Handle) = ImageStats{};
  Memory_.StatsOf(Handle).Name = Name;
  *ImageHandle = Handle;
  Report_.LogLine("load " + Name + ": EFI_SUCCESS");
  return EFI_SUCCESS;
}

// <Name>.efi on the AArch64 processor.
EFI_STATUS ImageTable::LoadGuestModule(const std::string &Name, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle) {
  const std::filesystem::path ImagePath = Options_.ModuleFile(Name);
  if (!std::filesystem::is_regular_file(ImagePath)) {
    Report_.LogLine("load " + Name + ": EFI_NOT_FOUND (" + ImagePath.string() + ")");
    return EFI_NOT_FOUND;
  }
  auto Image = std::make_unique<ImageRecord>();
  Image->Name = Name;
  Image->IsApplication = IsApplicationModule(ImagePath);
  if (const EFI_STATUS Status = Guest_->Load(ImagePath, *Image); EFI_ERROR(Status)) {
    return Status;
  }
  const ImageRecord *Record = Image.get();
  const EFI_STATUS Status = RegisterImage(std::move(Image), Parent, ImageHandle);
  if (EFI_ERROR(Status)) {
    Guest_->Unload(Record); // by address: the record is gone
  }
  return Status;
}

// The shared object, or the pages of an image on the AArch64 processor.
void ImageTable::ReleaseImageCode(const ImageRecord &Image) {
  if (Image.Library != nullptr) {
    dlclose(Image.Library);
  } else if (Guest_) {
    Guest_->Unload(&Image);
  }
}

namespace {

constexpr size_t kScannedRecordBytes = 4096; // how much of an allocated record the unload checks read

} // namespace

bool ImageTable::InsideImage(EFI_HANDLE Image, const void *Address) const {
  return Address != nullptr && ImageFromAddress(Address) == Image;
}

// Whether the record at Address is the image's own (in its code or globals) or, in allocated
// memory, holds a pointer into the image: either way it reaches into the image once it goes.
bool ImageTable::ReachesIntoImage(EFI_HANDLE Image, const void *Address) const {
  if (InsideImage(Image, Address)) {
    return true;
  }
  const auto Start = ALIGN_VALUE(reinterpret_cast<uintptr_t>(Address), sizeof(void *));
  const size_t Span = Memory_.AllocatedSpan(Address, kScannedRecordBytes);
  for (uintptr_t At = Start; At + sizeof(void *) <= reinterpret_cast<uintptr_t>(Address) + Span;
       At += sizeof(void *)) {
    if (InsideImage(Image, *reinterpret_cast<void *const *>(At))) {
      return true;
    }
  }
  return false;
}

// BY_DRIVER opens are a driver's hold on a controller: a driver that goes must have stopped.
void ImageTable::DropOpens(EFI_HANDLE ImageHandle, const std::string &Name, HandleRecord *Handle) {
  for (const auto &Protocol : Handle->Protocols) {
    auto &Opens = Protocol->Opens;
    auto Left = std::remove_if(Opens.begin(), Opens.end(),
                               [&](const OpenEntry &Open) { return Open.AgentHandle == ImageHandle; });
    if (std::any_of(Left, Opens.end(), [](const OpenEntry &Open) {
          return (Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0;
        })) {
      Report_.ErrorOf("unload", Name,
                      "left a BY_DRIVER open on handle " + std::to_string(Handle->Key) +
                          " at unload; closed");
    }
    Opens.erase(Left, Opens.end());
  }
}

void ImageTable::DropConfigurationTables(EFI_HANDLE ImageHandle, const std::string &Name) {
  auto &Tables = Configuration_.Tables;
  auto Stale = std::remove_if(Tables.begin(), Tables.end(), [&](const EFI_CONFIGURATION_TABLE &Entry) {
    return ReachesIntoImage(ImageHandle, Entry.VendorTable);
  });
  if (Stale != Tables.end()) {
    Report_.ErrorOf("unload", Name,
                    "left " + std::to_string(std::distance(Stale, Tables.end())) +
                        " configuration table(s) reaching into the image at unload; removed");
    Tables.erase(Stale, Tables.end());
    Configuration_.Changed();
  }
}

// What an image leaves behind when it goes: its events, its opens, and the interfaces and
// configuration tables that are in its globals or, allocated, point into its code or globals.
// Left in place they would call into unmapped memory later.
void ImageTable::ReleaseImageObjects(EFI_HANDLE ImageHandle, const std::string &Name) {
  std::vector<EventRecord *> Events = Events_.Live();
  for (EventRecord *Event : Events) {
    if (Event->OwnerImage == ImageHandle ||
        InsideImage(ImageHandle, reinterpret_cast<const void *>(Event->NotifyFunction))) {
      Report_.ErrorOf("unload", Name, "left an event open at unload; closed");
      Events_.CloseEvent(Event);
    }
  }
  std::vector<HandleRecord *> Handles = Handles_.All();
  for (HandleRecord *Handle : Handles) {
    if (Handles_.ValidHandle(Handle) == nullptr) {
      continue;
    }
    DropOpens(ImageHandle, Name, Handle);
    auto &List = Handle->Protocols;
    auto Stale = std::remove_if(List.begin(), List.end(), [&](const auto &Protocol) {
      return ReachesIntoImage(ImageHandle, Protocol->Interface);
    });
    if (Stale != List.end()) {
      Report_.ErrorOf("unload", Name,
                      "left " + std::to_string(std::distance(Stale, List.end())) +
                          " protocol interface(s) installed on handle " + std::to_string(Handle->Key) +
                          " at unload; removed");
      List.erase(Stale, List.end());
      Handles_.RemoveHandleIfEmpty(Handle);
    }
  }
  DropConfigurationTables(ImageHandle, Name);
}

EFI_STATUS ImageTable::LoadModule(const std::string &Name, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle) {
  if (ImageHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Guest_) {
    return LoadGuestModule(Name, Parent, ImageHandle);
  }
  static std::once_flag LeftoversRemoved;
  std::call_once(LeftoversRemoved, RemoveLeftoverCopies);
  const std::filesystem::path ModulePath = Options_.ModuleFile(Name);
  std::vector<char> Bytes;
  if (!ReadFile(ModulePath, Bytes)) {
    Report_.LogLine("load " + Name + ": EFI_NOT_FOUND (" + ModulePath.string() + ")");
    return EFI_NOT_FOUND;
  }
  return LoadFromBuffer(Name, Bytes.data(), Bytes.size(), IsApplicationModule(ModulePath), Parent,
                        ImageHandle);
}

namespace {

// The NUL-terminated text at the start of exit data, within its size.
std::u16string ExitText(const CHAR16 *Data, UINTN Size) {
  std::u16string Text;
  for (UINTN Index = 0; Index < Size / sizeof(CHAR16) && Data[Index] != u'\0'; Index++) {
    Text.push_back(Data[Index]);
  }
  return Text;
}

} // namespace

ImageResult ImageTable::StartImage(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, CHAR16 **ExitData) {
  ImageResult Result;
  auto Found = Images_.find(ImageHandle);
  if (Found == Images_.end() || Found->second->Started) {
    Result.Status = EFI_INVALID_PARAMETER;
    return Result;
  }
  ImageRecord *Image = Found->second.get();
  const std::string Name = Image->Name;
  Image->Started = true;
  Image->Running = true;
  Report_.LogLine("start " + Name);
  EFI_STATUS Status = EFI_SUCCESS;
  ImageExit Left{ImageHandle, EFI_SUCCESS};
  Result.Halted = RunFrame(ImageHandle, Name, [&] {
    try {
      Status = Image->Library == nullptr ? Guest_->Start(*Image, ImageHandle)
                                         : Image->Entry(ImageHandle, &SystemTable_);
    } catch (const ImageExit &Exit) {
      if (Exit.Image != ImageHandle) {
        throw;
      }
      Status = Exit.Status;
      Left = Exit;
    }
  });
  if (Left.ExitData != nullptr) {
    Result.ExitData = ExitText(Left.ExitData, Left.ExitDataSize);
    if (ExitDataSize != nullptr && ExitData != nullptr) {
      Memory_.TransferPool(Left.ExitData, Image->Loaded.ParentHandle);
      *ExitDataSize = Left.ExitDataSize;
      *ExitData = Left.ExitData;
    } else {
      Memory_.FreePool(ImageHandle, Left.ExitData);
    }
  }
  Image->Running = false;
  if (Result.Halted) {
    // A halted image stopped the board where it stood: nothing is unloaded.
    Result.Status = EFI_ABORTED;
    Report_.LogLine(Name + " halted: " + Result.Halted->Reason);
    return Result;
  }
  Result.Status = Status;
  Report_.LogLine(Name + " returned " + StatusName(Status));
  if (Image->IsApplication || EFI_ERROR(Status)) {
    UnloadImage(ImageHandle, false);
    Result.Unloaded = true;
  }
  return Result;
}

EFI_STATUS ImageTable::UnloadImage(EFI_HANDLE ImageHandle, bool CallUnload) {
  auto Found = Images_.find(ImageHandle);
  if (Found == Images_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  ImageRecord *Image = Found->second.get();
  if (CallUnload && Image->Started) {
    if (Image->Loaded.Unload == nullptr) {
      return EFI_UNSUPPORTED;
    }
    ImageScope Scope(*this, ImageHandle);
    EFI_STATUS Status = cpu::CallFirmware(Processor_, Image->Loaded.Unload, ImageHandle);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  const std::string Name = Image->Name;
  ReleaseImageObjects(ImageHandle, Name);
  Memory_.ReportLeaks(ImageHandle, "at unload");
  if (HandleRecord *Record = Handles_.ValidHandle(ImageHandle)) {
    auto &List = Record->Protocols;
    List.erase(std::remove_if(List.begin(), List.end(),
                              [&](const auto &Protocol) { return Protocol->Interface == &Image->Loaded; }),
               List.end());
    Handles_.RemoveHandleIfEmpty(Record);
  }
  Watchdog_->RemoveImageCode(Image->Base);
  ReleaseImageCode(*Image);
  std::error_code Ignored;
  std::filesystem::remove(Image->TempFile, Ignored);
  Images_.erase(Found);
  Report_.LogLine("unload " + Name);
  return EFI_SUCCESS;
}

// Memory a loaded module holds at the end is normal (a driver keeps its records for the OS
// hand-over); leaks are reported only where an unloaded image left memory behind.
void ImageTable::UnloadAllImages(bool BootServicesEnded) {
  std::string Held;
  for (const auto &[Handle, Image] : Images_) {
    const ImageStats &Entry = Memory_.StatsOf(Handle);
    if (Entry.PoolBytes != 0 || Entry.Pages != 0) {
      Held += (Held.empty() ? "" : ", ") + Image->Name + " " + std::to_string(Entry.PoolBytes) +
              " bytes of pool and " + std::to_string(Entry.Pages) + " pages";
    }
  }
  if (!Held.empty()) {
    Report_.LogLine(std::string("memory the loaded modules hold ") +
                    (BootServicesEnded ? "since the hand-over" : "at the end") +
                    " (kept, not leaked): " + Held);
  }
  while (!Images_.empty()) {
    auto Found = Images_.begin();
    ImageRecord *Image = Found->second.get();
    Watchdog_->RemoveImageCode(Image->Base);
    ReleaseImageCode(*Image);
    std::error_code Ignored;
    std::filesystem::remove(Image->TempFile, Ignored);
    Images_.erase(Found);
  }
}

namespace {

EFI_STATUS EFIAPI LoadImage(BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle,
                            EFI_DEVICE_PATH_PROTOCOL *DevicePath, VOID *SourceBuffer, UINTN SourceSize,
                            EFI_HANDLE *ImageHandle) {
  CORE_BOOT_SERVICE("LoadImage");
  if (ImageHandle == nullptr || Core.Handles.ValidHandle(ParentImageHandle) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (SourceBuffer == nullptr) {
    // There are no file systems on the emulated board to load a path from.
    return DevicePath == nullptr ? EFI_INVALID_PARAMETER : EFI_NOT_FOUND;
  }
  return Core.Images.LoadFromBuffer("image" + std::to_string(Core.Images.Count() + 1), SourceBuffer,
                                    SourceSize, false, ParentImageHandle, ImageHandle);
}

EFI_STATUS EFIAPI StartImage(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, CHAR16 **ExitData) {
  CORE_BOOT_SERVICE("StartImage");
  if (ExitDataSize != nullptr) {
    *ExitDataSize = 0;
  }
  if (ExitData != nullptr) {
    *ExitData = nullptr;
  }
  ImageResult Result = Core.Images.StartImage(ImageHandle, ExitDataSize, ExitData);
  if (Result.Halted) {
    // A halt stops the board, not just the image: the caller does not carry on either.
    throw *Result.Halted;
  }
  return Result.Status;
}

EFI_STATUS EFIAPI Exit(EFI_HANDLE ImageHandle, EFI_STATUS ExitStatus, UINTN ExitDataSize, CHAR16 *ExitData) {
  CORE_BOOT_SERVICE("Exit");
  ImageRecord *Found = Core.Images.Find(ImageHandle);
  if (Found == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Found->Started) {
    return Core.Images.UnloadImage(ImageHandle, false);
  }
  // Only the innermost running image may exit.
  const EFI_HANDLE Innermost = Core.Images.InnermostRunningImage();
  if ((Innermost != nullptr && Innermost != ImageHandle) || !Found->Running) {
    return EFI_INVALID_PARAMETER;
  }
  // Exit data is pool the image allocated; anything else cannot be handed on.
  if (ExitData != nullptr && !Core.Memory.IsPoolBuffer(ExitData)) {
    Core.Memory.MemoryError(Found->Name + ": Exit() with exit data that is not a pool buffer");
    ExitData = nullptr;
    ExitDataSize = 0;
  }
  throw ImageExit{ImageHandle, ExitStatus, ExitDataSize, ExitData};
}

EFI_STATUS EFIAPI UnloadImage(EFI_HANDLE ImageHandle) {
  CORE_BOOT_SERVICE("UnloadImage");
  return Core.Images.UnloadImage(ImageHandle, true);
}

} // namespace

void ImageTable::FillServices(EFI_BOOT_SERVICES &BootServices) {
  BootServices.LoadImage = host::LoadImage;
  BootServices.StartImage = host::StartImage;
  BootServices.Exit = host::Exit;
  BootServices.UnloadImage = host::UnloadImage;
}

} // namespace host
