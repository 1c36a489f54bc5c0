// Images and the calls into them: each module's record, loading, starting and unloading, the
// call frames that tell which image's code runs now, and the two watchdogs that end a call
// that never returns (the virtual one on the clock, the progress one on wall time). Host-only;
// part of the core.
#pragma once

#include "AddressSpace.h"
#include "CoreEvents.h"
#include "CoreMemory.h"
#include "CoreReport.h"
#include "HandleDatabase.h"
#include "HostPlatform.h"
#include "ProgressWatchdog.h"

#include <Protocol/LoadedImage.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cpu {
class Aarch64Cpu;
}

namespace host {

class GuestProcessor; // GuestProcessor.h

struct ImageRecord {
  EFI_HANDLE Handle = nullptr;
  std::string Name;
  void *Library = nullptr; // dlopen handle
  std::filesystem::path TempFile;
  uintptr_t Base = 0; // load address of the shared object
  EFI_IMAGE_ENTRY_POINT Entry = nullptr;
  bool IsApplication = false;
  bool Started = false;
  bool Running = false;
  EFI_LOADED_IMAGE_PROTOCOL Loaded{};
};

// One call into firmware: an image entry, a Guard() or a notification.
struct CallFrame {
  EFI_HANDLE Image = nullptr;
  std::string Name;
  uint64_t StartNs = 0;
};

// Unwinds from Exit() to the StartImage of the image that called it.
struct ImageExit {
  EFI_HANDLE Image;
  EFI_STATUS Status;
  UINTN ExitDataSize = 0;
  CHAR16 *ExitData = nullptr; // pool of the exiting image, handed to whoever started it
};

// The configuration tables of the system table, from which an image that goes takes the
// tables that reach into it; Changed recomputes the tables' CRCs.
struct ConfigurationTableList {
  std::vector<EFI_CONFIGURATION_TABLE> &Tables;
  std::function<void()> Changed;
};

class ImageTable {
public:
  // What an image's load, run and unload touch: its handle and Loaded Image interface, its
  // events and memory, the clock its frames are measured on, the address space whose charges
  // follow the frames, and the system table handed to its entry.
  ImageTable(const PlatformOptions &Options, CoreReport &Report, CoreMemory &Memory, HandleDatabase &Handles,
             CoreEvents &Events, AddressSpace &Space, EFI_SYSTEM_TABLE &SystemTable,
             ConfigurationTableList Configuration);
  ~ImageTable();
  ImageTable(const ImageTable &) = delete;
  ImageTable &operator=(const ImageTable &) = delete;

  static void FillServices(EFI_BOOT_SERVICES &Services);

  EFI_STATUS LoadModule(const std::string &Name, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle);
  // Runs an image's entry. Exit data an image leaves with goes to the caller through the two
  // out-parameters (the pool then belongs to the image's parent); without them it is freed.
  ImageResult StartImage(EFI_HANDLE ImageHandle, UINTN *ExitDataSize = nullptr, CHAR16 **ExitData = nullptr);
  EFI_STATUS UnloadImage(EFI_HANDLE ImageHandle, bool CallUnload);
  void UnloadAllImages(bool BootServicesEnded); // the end of the boot: before or after the hand-over
  bool IsLoaded(EFI_HANDLE ImageHandle) const { return Images_.count(ImageHandle) != 0; }
  ImageRecord *Find(EFI_HANDLE ImageHandle) const;
  // Loads an image from a copy of a module's shared object; the LoadImage service's path.
  EFI_STATUS LoadFromBuffer(const std::string &Name, const void *Buffer, size_t Size, bool IsApplication,
                            EFI_HANDLE Parent, EFI_HANDLE *ImageHandle);
  size_t Count() const { return Images_.size(); }
  // The AArch64 processor every image of the boot runs on (PlatformOptions::Aarch64Images),
  // given before any producer installs; none in the host build.
  void SetGuest(std::unique_ptr<GuestProcessor> Guest);
  GuestProcessor *Guest() const { return Guest_.get(); }
  cpu::Aarch64Cpu *Processor() const { return Processor_; }

  // Which image runs now, by call frame: the firmware's own handle (named "core") outside any.
  void SetFirmwareHandle(EFI_HANDLE Handle) { FirmwareHandle_ = Handle; }
  std::string CurrentImageName() const;
  EFI_HANDLE CurrentImage() const;
  EFI_HANDLE ImageFromAddress(const void *Address) const; // the image whose code is at Address
  // The image whose code called a service that sees ReturnAddress: by that address in the host
  // build, by the guest's return address when the service was called through a trap stub;
  // nullptr when host code called it (a producer, a test).
  EFI_HANDLE FirmwareCaller(const void *ReturnAddress) const;
  EFI_HANDLE CallerImage(const void *ReturnAddress) const; // FirmwareCaller, else the image running now
  // The code a service that spends time (a stall, a wait) charges it to: ReturnAddress in the
  // host build; on the processor the guest code that called the service's stub, which may be an
  // image called by another image's code without a frame of its own (ReturnAddress while host
  // code calls).
  const void *CallerCode(const void *ReturnAddress) const;
  std::string ImageNameOf(EFI_HANDLE Image) const; // "core" for none

  // A call into firmware; a halt inside ends it and is returned.
  std::optional<Halt> RunFrame(EFI_HANDLE Image, const std::string &Name, const std::function<void()> &Call);
  EFI_HANDLE TopFrameImage() const { return Frames_.empty() ? nullptr : Frames_.back().Image; }
  uint64_t FrameGeneration() const { return FrameGeneration_; } // counts the changes of the frames
  EFI_HANDLE InnermostRunningImage() const; // of the frames, the last whose image runs; nullptr for none

  // The virtual watchdog: a call that ran longer than the board's watchdog allows halts. Asked
  // on every access: small, so that the address space's paths take it inline.
  // Until the clock reaches the running call's deadline (kept while the frames stay as they
  // are) only the progress watchdog's flag needs a look.
  void CheckWatchdog() {
    if (!WatchdogQuiet()) {
      CheckWatchdogs();
    }
  }
  // CheckWatchdog has nothing to do: the clock is short of the deadline and the progress
  // watchdog has not tripped.
  bool WatchdogQuiet() const { return Events_.NowNs() < WatchdogDueNs_ && !Watchdog_->Tripped(); }
  // The running call's deadline, once WatchdogQuiet has found the clock short of it.
  uint64_t WatchdogDueNs() const { return WatchdogDueNs_; }
  // The progress watchdog's trip, taken as a halt.
  void CheckProgress() {
    if (Watchdog_->Tripped() && !Frames_.empty()) {
      ProgressHalt();
    }
  }
  void ClockMoved(uint64_t NowNs) { Watchdog_->ClockMoved(NowNs); }
  void CodeTranslated() {
    if (Watchdog_) {
      Watchdog_->CodeTranslated();
    }
  }
  // The progress watchdog's halt, taken: the guest code it stopped (below) ends with it, even when
  // the clock or a first translation moved after the stop was sent.
  Halt TakeProgressTrip();
  // How the progress watchdog stops guest code on the AArch64 processor (empty: no processor).
  void SetGuestStop(std::function<bool()> Stop) {
    if (Watchdog_) {
      Watchdog_->SetGuestStop(std::move(Stop));
    }
  }
  void StopWatchdog() { Watchdog_.reset(); }

private:
  friend class ImageScope;

  EFI_STATUS RegisterImage(std::unique_ptr<ImageRecord> Image, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle);
  EFI_STATUS LoadGuestModule(const std::string &Name, EFI_HANDLE Parent, EFI_HANDLE *ImageHandle);
  void ReleaseImageCode(const ImageRecord &Image);
  void CheckWatchdogs(); // both watchdogs, and the running call's deadline
  void FramesChanged() {
    FrameGeneration_++;
    WatchdogDueNs_ = 0;
  }
  [[noreturn]] void WatchdogHalt(uint64_t Elapsed) const;
  [[noreturn]] void ProgressHalt();
  bool InsideImage(EFI_HANDLE Image, const void *Address) const;
  bool ReachesIntoImage(EFI_HANDLE Image, const void *Address) const;
  void DropOpens(EFI_HANDLE ImageHandle, const std::string &Name, HandleRecord *Handle);
  void DropConfigurationTables(EFI_HANDLE ImageHandle, const std::string &Name);
  void ReleaseImageObjects(EFI_HANDLE ImageHandle, const std::string &Name);

  const PlatformOptions &Options_;
  CoreReport &Report_;
  CoreMemory &Memory_;
  HandleDatabase &Handles_;
  CoreEvents &Events_;
  AddressSpace &Space_;
  EFI_SYSTEM_TABLE &SystemTable_;
  ConfigurationTableList Configuration_;
  EFI_HANDLE FirmwareHandle_ = nullptr;
  std::map<EFI_HANDLE, std::unique_ptr<ImageRecord>> Images_;
  std::vector<CallFrame> Frames_;
  std::unique_ptr<ProgressWatchdog> Watchdog_; // the wall-clock one; the virtual one is CheckWatchdog
  uint64_t FrameGeneration_ = 0;
  uint64_t WatchdogDueNs_ = 0;            // the running call's deadline; 0: to be worked out
  std::unique_ptr<GuestProcessor> Guest_; // the AArch64 processor of an AArch64 boot
  cpu::Aarch64Cpu *Processor_ = nullptr;  // its processor
};

// Marks code of an image as running inside the current call (a driver's Supported, a
// notification), for attribution; the watchdog keeps measuring the enclosing call.
class ImageScope {
public:
  ImageScope(ImageTable &Images, EFI_HANDLE Image);
  ~ImageScope();
  ImageScope(const ImageScope &) = delete;
  ImageScope &operator=(const ImageScope &) = delete;

private:
  ImageTable &Images_;
  size_t Depth_;
  Spender Outer_;
};

inline bool CoreEvents::SpendAtOnce(TimeAccount &Account, uint64_t TimeAccount::*Bucket,
                                    uint64_t Nanoseconds) {
  const uint64_t Target = NowNs_ > UINT64_MAX - Nanoseconds ? UINT64_MAX : NowNs_ + Nanoseconds;
  if (!DueQueue_.empty() && DueQueue_.begin()->first.DueNs <= Target) {
    return false;
  }
  // As MoveClockTo would charge the step with the account as the spender.
  Account.*Bucket += Target - NowNs_;
  NowNs_ = Target;
  Images_.ClockMoved(NowNs_);
  return true;
}

} // namespace host
