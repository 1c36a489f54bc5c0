// The calls into firmware: the frames that tell which image's code runs now, the lookups of an
// image by its handle or by an address in its code, and the watchdogs that end a call that
// never returns.
#include "ImageTable.h"

#include "GuestProcessor.h"

#include <dlfcn.h>

#include <algorithm>

namespace host {

ImageTable::ImageTable(const PlatformOptions &Options, CoreReport &Report, CoreMemory &Memory,
                       HandleDatabase &Handles, CoreEvents &Events, AddressSpace &Space,
                       EFI_SYSTEM_TABLE &SystemTable, ConfigurationTableList Configuration)
    : Options_(Options), Report_(Report), Memory_(Memory), Handles_(Handles), Events_(Events), Space_(Space),
      SystemTable_(SystemTable), Configuration_(std::move(Configuration)),
      Watchdog_(std::make_unique<ProgressWatchdog>(std::chrono::milliseconds(Options.ProgressLimitMs))) {}

ImageTable::~ImageTable() = default;

ImageRecord *ImageTable::Find(EFI_HANDLE ImageHandle) const {
  auto Found = Images_.find(ImageHandle);
  return Found != Images_.end() ? Found->second.get() : nullptr;
}

std::string ImageTable::CurrentImageName() const {
  for (auto Frame = Frames_.rbegin(); Frame != Frames_.rend(); ++Frame) {
    if (!Frame->Name.empty()) {
      return Frame->Name;
    }
  }
  return "core";
}

EFI_HANDLE ImageTable::CurrentImage() const {
  for (auto Frame = Frames_.rbegin(); Frame != Frames_.rend(); ++Frame) {
    if (Frame->Image != nullptr) {
      return Frame->Image;
    }
  }
  return FirmwareHandle_;
}

void ImageTable::SetGuest(std::unique_ptr<GuestProcessor> Guest) {
  Guest_ = std::move(Guest);
  Processor_ = Guest_ ? &Guest_->Cpu() : nullptr;
}

// On the AArch64 processor every image is an .efi in DRAM pages: its own range says.
EFI_HANDLE ImageTable::ImageFromAddress(const void *Address) const {
  if (Guest_) {
    const auto At = reinterpret_cast<uintptr_t>(Address);
    for (const auto &[Handle, Image] : Images_) {
      if (Image->Library == nullptr && At - Image->Base < Image->Loaded.ImageSize) {
        return Handle;
      }
    }
    return nullptr;
  }
  Dl_info Info{};
  if (Address == nullptr || dladdr(Address, &Info) == 0) {
    return nullptr;
  }
  for (const auto &[Handle, Image] : Images_) {
    if (Image->Base != 0 && Image->Base == reinterpret_cast<uintptr_t>(Info.dli_fbase)) {
      return Handle;
    }
  }
  return nullptr;
}

EFI_HANDLE ImageTable::FirmwareCaller(const void *ReturnAddress) const {
  if (Processor_ != nullptr) {
    const uint64_t Guest = Processor_->ServiceCaller();
    return Guest != 0 ? ImageFromAddress(reinterpret_cast<const void *>(Guest)) : nullptr;
  }
  return ImageFromAddress(ReturnAddress);
}

const void *ImageTable::CallerCode(const void *ReturnAddress) const {
  const uint64_t Guest = Processor_ != nullptr ? Processor_->ServiceCaller() : 0;
  return Guest != 0 ? reinterpret_cast<const void *>(Guest) : ReturnAddress;
}

EFI_HANDLE ImageTable::CallerImage(const void *ReturnAddress) const {
  EFI_HANDLE Image = FirmwareCaller(ReturnAddress);
  return Image != nullptr ? Image : CurrentImage();
}

std::string ImageTable::ImageNameOf(EFI_HANDLE Image) const {
  const ImageStats *Found = Memory_.FindStats(Image);
  return (Found != nullptr && !Found->Name.empty()) ? Found->Name : "core";
}

EFI_HANDLE ImageTable::InnermostRunningImage() const {
  for (auto Frame = Frames_.rbegin(); Frame != Frames_.rend(); ++Frame) {
    const ImageRecord *Running = Find(Frame->Image);
    if (Running != nullptr && Running->Running) {
      return Frame->Image;
    }
  }
  return nullptr;
}

void ImageTable::CheckWatchdogs() {
  CheckProgress();
  if (Frames_.empty() || Options_.WatchdogNs == 0) {
    WatchdogDueNs_ = UINT64_MAX;
    return;
  }
  const uint64_t StartNs = Frames_.back().StartNs;
  const uint64_t Elapsed = Events_.NowNs() - StartNs;
  if (Elapsed > Options_.WatchdogNs) {
    WatchdogHalt(Elapsed);
  }
  // The call halts once more than the limit has passed.
  WatchdogDueNs_ =
      Options_.WatchdogNs >= UINT64_MAX - StartNs ? UINT64_MAX : StartNs + Options_.WatchdogNs + 1;
}

[[gnu::cold, gnu::noinline]] void ImageTable::WatchdogHalt(uint64_t Elapsed) const {
  throw Halt("watchdog: " + CurrentImageName() + " ran " + std::to_string(Elapsed / 1'000'000) +
                 " ms of virtual time without returning",
             CurrentImageName(), Events_.NowNs());
}

[[gnu::cold, gnu::noinline]] void ImageTable::ProgressHalt() {
  throw TakeProgressTrip();
}

Halt ImageTable::TakeProgressTrip() {
  Watchdog_->Take();
  return Halt(Watchdog_->Reason(), CurrentImageName(), Events_.NowNs());
}

ImageScope::ImageScope(ImageTable &Images, EFI_HANDLE Image) : Images_(Images) {
  CallFrame Frame;
  Frame.Image = Image;
  const ImageStats *Found = Images.Memory_.FindStats(Image);
  if (Image != nullptr && Found != nullptr) {
    Frame.Name = Found->Name;
  }
  Frame.StartNs = Images.Frames_.empty() ? Images.Events_.NowNs() : Images.Frames_.back().StartNs;
  Images.Frames_.push_back(Frame);
  Images.FramesChanged();
  Images.Space_.FramesChanged();
  Depth_ = Images.Frames_.size();
  // Time the image's code spends is its own, not that of a spender it was called from.
  Outer_ = Images.Events_.Charged();
  Images.Events_.SetCharged({});
}

ImageScope::~ImageScope() {
  if (Images_.Frames_.size() >= Depth_) {
    Images_.Frames_.resize(Depth_ - 1);
    Images_.FramesChanged();
  }
  Images_.Space_.FramesChanged();
  Images_.Events_.SetCharged(Outer_);
}

std::optional<Halt> ImageTable::RunFrame(EFI_HANDLE Image, const std::string &Name,
                                         const std::function<void()> &Call) {
  const size_t Depth = Frames_.size();
  const EFI_TPL SavedTpl = Events_.CurrentTpl();
  Frames_.push_back({Image, Name, Events_.NowNs()});
  FramesChanged();
  Space_.FramesChanged();
  struct Unwind {
    ImageTable &Images;
    size_t Depth;
    Spender Outer;
    ~Unwind() {
      Images.Frames_.resize(std::min(Images.Frames_.size(), Depth));
      Images.FramesChanged();
      Images.Space_.FramesChanged();
      Images.Events_.SetCharged(Outer);
    }
  } Restore{*this, Depth, Events_.Charged()};
  Events_.SetCharged({});
  Watchdog_->CallStarted();
  struct CallEnd {
    ProgressWatchdog &Watchdog;
    ~CallEnd() { Watchdog.CallEnded(); }
  } Ended{*Watchdog_};
  const auto Stop = [&](const Halt &Stopped) {
    Frames_.resize(Depth);
    FramesChanged();
    Space_.FramesChanged();
    Events_.ResetTpl(SavedTpl);
    Events_.SetInterruptsEnabled(SavedTpl < TPL_HIGH_LEVEL);
    Report_.LogLine("halt: " + Stopped.Reason + " in " + Stopped.Image + " at " +
                    std::to_string(Stopped.VirtualTimeNs) + " ns");
    return Stopped;
  };
  try {
    Call();
  } catch (const Halt &Stopped) {
    return Stop(Stopped);
  } catch (const cpu::GuestFault &Fault) {
    // A fault of an image, wherever host code called into it (an entry, a notification, a
    // driver's Start), stops the board as a halt does.
    return Stop(Guest_->AsHalt(Fault));
  }
  return std::nullopt;
}

} // namespace host
