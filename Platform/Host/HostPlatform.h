// The emulated UEFI core for the host build: one Platform is one boot of the emulated board.
// It fills real UEFI tables (system table, boot services, runtime services, DXE services)
// with implementations that follow the UEFI and PI rules, loads each module's shared object
// as a separate image, and owns the physical address space where device models attach.
//
// Host code (producers, device models, boardsim, tests) uses this interface; firmware code
// sees only the UEFI tables and the seams of HostAbi.h.
#pragma once

#include "HostText.h"

#include <Uefi.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct EFI_DXE_SERVICES;

namespace cpu {
class Aarch64Cpu;
}

namespace host {

class VariableStore;
class GcdMap;

// Raised when firmware stops for good: a dead loop, a breakpoint, the virtual-time watchdog
// tripping on a wait that never ends, or the progress watchdog on a loop that never moves the
// virtual clock. The platform catches it where it started
// the image (or the protocol member, or the notification) and reports it.
struct Halt : std::exception {
  std::string Reason; // "CpuDeadLoop", "CpuBreakpoint", "watchdog: ...", "progress watchdog: ..."
  std::string Image;  // the image whose code was running
  uint64_t VirtualTimeNs = 0;
  std::string Text;
  Halt(std::string Reason, std::string Image, uint64_t VirtualTimeNs);
  const char *what() const noexcept override { return Text.c_str(); }
};

// A register-level hardware model attached to the physical address space.
class MmioDevice {
public:
  virtual ~MmioDevice() = default;
  virtual std::string Name() const = 0;
  // Offset is relative to the base the device was attached at; Width is 1, 2, 4 or 8 bytes.
  virtual uint64_t Read(uint64_t Offset, unsigned Width) = 0;
  virtual void Write(uint64_t Offset, unsigned Width, uint64_t Value) = 0;
  // Virtual time one access costs (read once, when the device is attached).
  virtual uint64_t AccessCostNs() const { return 100; }
  // Plain memory (a frame buffer): the host bytes behind [Offset, Offset + Length) when a run of
  // Width-byte accesses there only reads and writes them, with no other effect; nullptr when
  // any of it is not plain memory now. A transfer into it is then one copy.
  virtual uint8_t *Memory(uint64_t /*Offset*/, uint64_t /*Length*/, unsigned /*Width*/) { return nullptr; }
  // Virtual time of such a copy of Bytes, at the rate of the device's bus.
  static constexpr uint64_t kBurstBytesPerNs = 4;
  virtual uint64_t BurstCostNs(uint64_t Bytes) const { return AccessCostNs() + Bytes / kBurstBytesPerNs; }
};

// An access to an address where no device is attached. Reads return all ones.
struct Fault {
  uint64_t Address = 0;
  unsigned Width = 0;
  bool IsWrite = false;
  uint64_t Value = 0;
  std::string Image;
  uint64_t VirtualTimeNs = 0;
};

struct LogLine {
  uint64_t VirtualTimeNs = 0;
  std::string Source; // the image or producer that wrote it ("Nicpatch", "core", "acpi")
  std::string Text;   // one line, without its line end
};

// The board log: what the core, the producers and the firmware's diagnostics print.
class BoardLog {
public:
  void SetEcho(std::ostream *Echo) { Echo_ = Echo; }
  // Appends text; several lines in one call are split, a trailing partial line is kept
  // open until the same source completes it.
  void Append(const std::string &Source, const std::string &Text, uint64_t VirtualTimeNs);
  const std::vector<LogLine> &Lines() const { return Lines_; }
  std::string Text() const; // "[source] text\n" per line
  bool Contains(const std::string &Needle) const;
  // Called with each line as it is completed (the screen's console draws them).
  void SetLineListener(std::function<void(const LogLine &)> Listener) { Listener_ = std::move(Listener); }

private:
  void Complete(LogLine Line);

  std::vector<LogLine> Lines_;
  std::function<void(const LogLine &)> Listener_;
  std::string Pending_;
  std::string PendingSource_;
  std::ostream *Echo_ = nullptr;
};

// "EFI_NOT_FOUND" for host code (or "0x..." for a value without a name).
std::string StatusName(EFI_STATUS Status);

// Where a module's virtual time went, charged to the module whose code spent it: its stalls
// (by length asked), its register accesses, its waits for events, and the time of services it
// called (PCI I/O transfers, clock reads). Every step of the clock goes to exactly one account,
// so the accounts add up to the boot's virtual time.
struct TimeAccount {
  uint64_t StallNs = 0;
  std::map<uint64_t, uint64_t> StallsByUs; // stall length in microseconds -> how many
  uint64_t RegisterAccesses = 0;
  uint64_t RegisterNs = 0;
  uint64_t WaitNs = 0;    // WaitForEvent and CheckEvent
  uint64_t ServiceNs = 0; // other services and host code acting for the module
  uint64_t TotalNs() const { return StallNs + RegisterNs + WaitNs + ServiceNs; }
};

// A range of physical addresses.
struct MemoryRange {
  uint64_t Base = 0;
  uint64_t Size = 0;
};

// The board's DRAM (its SoC map's "dram" row): below 4 GiB for 32-bit consumers such as ACPI
// 1.0 tables, and inside the host's low application memory, which the address sanitizer leaves
// to the program (its shadow starts at 0x7FFF8000), so one fixed mapping works in every build.
inline constexpr MemoryRange kBoardDram = {0x60000000, 0x10000000};

// The AArch64 processor's private memory (its stubs, stack, table copies and loaded images):
// clear of DRAM by a gap (a run past DRAM's end is an unmapped access, not a write here), of the
// SoC blocks, the PCI windows, the VGA window and the L3 blocks at 0x7E000000, and inside the
// sanitizer's low application memory like DRAM.
inline constexpr MemoryRange kProcessorMemory = {0x78000000, 0x02000000};

struct PlatformOptions {
  std::filesystem::path ModuleDir; // where <Name>.so are; defaults to the build's module folder
  // Every module and application runs as its AArch64 image (<Name>.efi in Aarch64ImageDir) on
  // the board's AArch64 processor instead of as <Name>.so: all of them, never a mix, as host
  // code cannot call the images' function pointers nor they its.
  bool Aarch64Images = false;
  std::filesystem::path Aarch64ImageDir;
  unsigned ExceptionLevel = 2;             // the AArch64 processor's: 1 or 2 (server firmware runs at EL2)
  std::filesystem::path NvramFile;         // non-volatile variables persist here; empty: none persist
  uint64_t WatchdogNs = 30'000'000'000ull; // virtual time one call into firmware may take
  uint64_t ProgressLimitMs = 5'000;        // wall time a call into firmware may run without the
                                           // virtual clock moving before it halts; 0: no limit
  std::ostream *Echo = nullptr;            // echo of the board log as it grows
  // The system memory the platform hands the core, as its resource descriptors do: mapped at
  // these addresses when the platform starts, it holds every page, pool buffer and table.
  MemoryRange Dram = kBoardDram;
  // The AArch64 processor's own memory, beside DRAM and never the core's (ProcessorMemory.h).
  MemoryRange ProcessorMemory = kProcessorMemory;

  // Where the modules the core loads are, and the file of module Name there: its shared object
  // or its AArch64 image.
  const std::filesystem::path &ModuleFolder() const { return Aarch64Images ? Aarch64ImageDir : ModuleDir; }
  std::filesystem::path ModuleFile(const std::string &Name) const {
    return ModuleFolder() / (Name + (Aarch64Images ? ".efi" : ".so"));
  }
};

// Why the core would refuse module Name's AArch64 image as Options stand ("<file>: <reason>"),
// or empty (also for a shared object, which is checked when it loads, and a missing file).
std::string ModuleImageProblem(const PlatformOptions &Options, const std::string &Name);

struct ImageResult {
  EFI_STATUS Status = EFI_SUCCESS;
  bool Unloaded = false;      // a driver whose entry failed is unloaded, as the dispatcher does
  std::optional<Halt> Halted; // set when the image halted instead of returning
  std::u16string ExitData;    // the text an image passed to Exit(), if any
};

class Platform {
public:
  explicit Platform(PlatformOptions Options = {});
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  // The platform alive now (there is at most one); the tables and the seams reach it here.
  static Platform &Current();

  EFI_SYSTEM_TABLE *SystemTable();
  EFI_BOOT_SERVICES *BootServices();
  EFI_RUNTIME_SERVICES *RuntimeServices();
  EFI_DXE_SERVICES *DxeServices();
  // The handle that owns what the host producers install (the "firmware" image).
  EFI_HANDLE FirmwareHandle();
  // The AArch64 processor the images run on (PlatformOptions::Aarch64Images), nullptr in the
  // host build: host code exports the functions it hands to firmware and calls firmware's
  // function pointers through it (cpu::ExportFunction, cpu::CallFirmware).
  cpu::Aarch64Cpu *Processor() const;

  // Images. LoadModule finds <ModuleDir>/<Name>.so; every load gets fresh globals.
  EFI_STATUS LoadModule(const std::string &Name, EFI_HANDLE *ImageHandle);
  ImageResult StartImage(EFI_HANDLE ImageHandle);
  ImageResult RunModule(const std::string &Name); // LoadModule + StartImage
  bool IsImageLoaded(EFI_HANDLE ImageHandle) const;
  std::string ImageName(EFI_HANDLE ImageHandle) const;
  // The image whose code is running now ("core" when none).
  std::string CurrentImageName() const;

  // Runs a host-side call into firmware (a protocol member, Connect) with the same halt and
  // watchdog handling as an image entry. Returns the halt if one happened.
  std::optional<Halt> Guard(const std::function<void()> &Call);

  // Physical address space.
  void Attach(uint64_t Base, uint64_t Size, std::shared_ptr<MmioDevice> Device);
  const std::vector<Fault> &Faults() const;
  // Bus cycles that host code standing for hardware (a root bridge serving PCI I/O) makes for
  // the firmware code at Caller (a return address; nullptr: the image running now), with the
  // checks, faults and virtual time of firmware's own MMIO. Count elements of Width bytes: Step
  // moves both the address and the buffer on, Fifo keeps the address (a data port), Fill keeps
  // the buffer element (a pattern). A run inside plain memory of one device is one copy. False
  // when an element faulted (an error of the boot).
  enum class BusRun { Step, Fifo, Fill };
  bool BusRead(uint64_t Address, unsigned Width, uint64_t Count, BusRun Run, void *Buffer,
               const void *Caller);
  bool BusWrite(uint64_t Address, unsigned Width, uint64_t Count, BusRun Run, const void *Buffer,
                const void *Caller);
  // Count elements from From to To, backwards when To overlaps From from above.
  bool BusCopy(uint64_t To, uint64_t From, unsigned Width, uint64_t Count, const void *Caller);
  uint64_t VirtualTimeNs() const;
  // Moves the clock on, charged to the image running now ("core" when none); timers and work
  // due on the way run at their due time.
  void AdvanceTime(uint64_t Nanoseconds);
  // Runs Work once, when the virtual clock reaches DelayNs from now (the clock advances with
  // every MMIO access, stall, wait and AdvanceTime). Device models use it for work that
  // completes later, such as a busy bit that clears. Work and timers form one queue: they run
  // in the order of their due times, at those times (so a work scheduled by a work is anchored
  // at the time the first was due), and in the order they were scheduled when due together.
  void After(uint64_t DelayNs, std::function<void()> Work);
  // The boot processor's interrupt mask, as the CPU architectural protocol reports and sets it.
  bool InterruptsEnabled() const;
  void SetInterruptsEnabled(bool Enabled);
  const std::vector<std::string> &CpuOperations() const;
  // What the processor's identification registers read ("MIDR_EL1", "REVIDR_EL1").
  void SetSystemRegister(const std::string &Name, uint64_t Value);
  // Virtual time by module name ("core" for code that belongs to no loaded image).
  const std::map<std::string, TimeAccount> &TimeAccounts() const;

  // The DRAM the core holds (PlatformOptions::Dram).
  MemoryRange Dram() const;
  // Pool for a record a host producer publishes (a protocol interface, a table), charged to no
  // image and kept until the platform ends; null when DRAM is full.
  VOID *AllocateRecord(EFI_MEMORY_TYPE Type, size_t Size);
  // While on, every protocol interface and configuration table installed must lie in DRAM, the
  // only memory firmware on the board sees (the board turns it on while its producers install):
  // one elsewhere is an error of the boot ("record outside DRAM: ...").
  void RequireRecordsInDram(bool On);

  // Memory accounting, per image.
  uint64_t OutstandingPoolBytes(EFI_HANDLE ImageHandle) const;
  uint64_t OutstandingPages(EFI_HANDLE ImageHandle) const;
  uint64_t FreePoolCalls(EFI_HANDLE ImageHandle) const;
  const std::vector<std::string> &MemoryErrors() const; // double frees, foreign frees, leaks
  // Allocation-failure injection: the Nth pool or page allocation made by firmware code (counted
  // from 1; 0: none) fails with EFI_OUT_OF_RESOURCES. With Image, only that image's count.
  // Allocations by host code (producers, tests) never count.
  void FailAllocation(uint64_t Nth, const std::string &Image = "");
  uint64_t FirmwareAllocations() const; // counted so far

  // Errors of the boot: every misuse the core found ("<rule>: <image>: <what and where>"),
  // memory errors included. A test declares the errors it provokes with ExpectError (a
  // substring of the error); UnexpectedErrors are the others, which fail the test at its end.
  const std::vector<std::string> &Errors() const;
  void ExpectError(const std::string &Substring);
  std::vector<std::string> UnexpectedErrors() const;
  std::vector<std::string> TakeErrors(); // hands the errors over and clears them

  // The TPL firmware runs at now, and whether boot services may still be called (false from the
  // start of ExitBootServices).
  EFI_TPL CurrentTpl() const;
  bool BootServicesActive() const;

  // Consoles (ConOut and StdErr), as the firmware wrote them.
  std::u16string ConsoleText() const;
  std::u16string StdErrText() const;

  BoardLog &Log();
  VariableStore &Variables();
  GcdMap &Gcd();

  // Hand-over to the OS: ExitBootServices signals its group once; SetVirtualAddressMap
  // signals the virtual-address-change group, ConvertPointer adding Offset to every pointer.
  EFI_STATUS ExitBootServices();
  EFI_STATUS SetVirtualAddressMap(int64_t Offset);

  struct Impl;

private:
  std::unique_ptr<Impl> Impl_;
};

} // namespace host
