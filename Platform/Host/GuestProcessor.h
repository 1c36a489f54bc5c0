// The board's AArch64 processor as the core uses it (PlatformOptions::Aarch64ImageDir): the
// .efi images loaded into its private memory and started on it, the tables they see (copies in
// that memory whose services are trap stubs into the core's own functions), the address space
// behind its bus and the virtual clock behind its counter. Its own pages never come from DRAM,
// so the core allocates the same DRAM addresses as in the host build. With BOARDSIM_CPU_PROFILE
// set to a file, the processor measures where its wall time goes and writes it there at the end
// (board-bench reads it): one line per part, "<part> <ns> <entries>" for jit, services, models, counter.
#pragma once

#include "Aarch64Cpu.h"
#include "HostPlatform.h"
#include "ProcessorMemory.h"

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

  // Loads File into pages of the processor's memory and fills Image's entry and base;
  // EFI_LOAD_ERROR (the reason in the board log) for an image the loader refuses,
  // EFI_OUT_OF_RESOURCES (an error of the boot naming the image and the region) without pages
  // or when the processor's memory overlaps a block the board has declared since.
  EFI_STATUS Load(const std::filesystem::path &File, ImageRecord &Image);
  // Runs the image's entry with the tables firmware sees; a fault of the image is a halt.
  EFI_STATUS Start(ImageRecord &Image, EFI_HANDLE Handle);
  // Gives the pages of the image Load filled back (by the record's address; nothing for others).
  void Unload(const ImageRecord *Image);

  cpu::Aarch64Cpu &Cpu() { return *Cpu_; }
  // The system table firmware sees: the core's, with stubs for every service and its own copy of
  // the configuration tables, whose DXE services entry is a table of stubs too.
  EFI_SYSTEM_TABLE *SystemTable();
  // Brings the guest's system table and configuration tables up to the core's (on every change).
  void SyncSystemTable();
  // A handle's place in DRAM, for a call of guest code that hands one back (a driver override).
  EFI_HANDLE *HandleSlot();
  // A fault of guest code as the halt of the boot it is, named by the image it happened in.
  Halt AsHalt(const cpu::GuestFault &Fault) const;

private:
  class BoardBus;
  uint64_t TakePages(uint64_t Pages);
  void BuildTables();

  Platform::Impl &Core_;
  ProcessorMemory Memory_;
  std::unique_ptr<BoardBus> Bus_;
  std::unique_ptr<cpu::Aarch64Cpu> Cpu_;
  struct GuestTables;
  GuestTables *Tables_ = nullptr; // in Memory_
  std::map<const ImageRecord *, cpu::LoadedImage> Loaded_;
  std::unique_ptr<cpu::CpuProfile> Profile_; // BOARDSIM_CPU_PROFILE
  std::filesystem::path ProfileFile_;
};

} // namespace host
