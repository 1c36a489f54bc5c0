// The board's AArch64 processor as the core uses it (PlatformOptions::Aarch64ImageDir): the
// .efi images loaded into DRAM pages and started on it, the tables they see (copies in DRAM whose
// services are trap stubs into the core's own functions), the address space behind its bus and
// the virtual clock behind its counter.
#pragma once

#include "Aarch64Cpu.h"
#include "HostPlatform.h"

#include <filesystem>
#include <map>

namespace host {

struct ImageRecord;

class GuestProcessor {
public:
  explicit GuestProcessor(Platform::Impl &Core);
  ~GuestProcessor();
  GuestProcessor(const GuestProcessor &) = delete;
  GuestProcessor &operator=(const GuestProcessor &) = delete;

  // Loads File into pages of DRAM and fills Image's entry and base; EFI_LOAD_ERROR (the reason in
  // the board log) for an image the loader refuses, EFI_OUT_OF_RESOURCES without pages.
  EFI_STATUS Load(const std::filesystem::path &File, ImageRecord &Image);
  // Runs the image's entry with the tables firmware sees; a fault of the image is a halt.
  EFI_STATUS Start(ImageRecord &Image, EFI_HANDLE Handle);
  // Gives the pages of the image Load filled back (by the record's address; nothing for others).
  void Unload(const ImageRecord *Image);

  cpu::Aarch64Cpu &Cpu() { return *Cpu_; }

private:
  class BoardBus;
  uint64_t TakePages(EFI_MEMORY_TYPE Type, uint64_t Pages);
  void BuildTables();
  void SyncSystemTable();

  Platform::Impl &Core_;
  std::unique_ptr<BoardBus> Bus_;
  std::unique_ptr<cpu::Aarch64Cpu> Cpu_;
  struct GuestTables;
  GuestTables *Tables_ = nullptr; // in DRAM
  std::map<const ImageRecord *, cpu::LoadedImage> Loaded_;
};

// A fault of guest code as the halt of Image it is (the progress watchdog's own halt when the
// watchdog interrupted it).
[[noreturn]] void RaiseGuestHalt(Platform::Impl &Core, const cpu::GuestFault &Fault, const std::string &Image);

} // namespace host
