// The emulated core as its units share it: the platform's composition (the options, the board log
// and the errors of the boot, DRAM and the tables in it) holding one member per part: memory
// (CoreMemory), the handle database and the driver model, events with the TPL and the clock
// (CoreEvents), images (ImageTable), the address space, variables and the GCD map. Each part
// reaches the others it needs through its constructor. Host-only; firmware never sees it.
#pragma once

#include "AddressSpace.h"
#include "CoreEvents.h"
#include "CoreMemory.h"
#include "CoreReport.h"
#include "Dram.h"
#include "DriverModel.h"
#include "GcdMap.h"
#include "GenericTimer.h"
#include "HandleDatabase.h"
#include "HostPlatform.h"
#include "ImageTable.h"
#include "ProgressWatchdog.h"
#include "VariableStore.h"

#include <Pi/PiDxeCis.h>
#include <Protocol/BusSpecificDriverOverride.h>
#include <Protocol/Cpu.h>
#include <Protocol/DriverBinding.h>
#include <Protocol/DriverFamilyOverride.h>
#include <Protocol/LoadedImage.h>
#include <Protocol/PlatformDriverOverride.h>
#include <Protocol/SimpleTextOut.h>

#include <array>
#include <compare>
#include <cstdarg>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace host {

// GUIDs the core needs, kept local so that host code does not depend on the firmware's
// GUID library (whose definitions tests may also link).
namespace CoreGuid {
inline constexpr EFI_GUID DevicePath = EFI_DEVICE_PATH_PROTOCOL_GUID;
inline constexpr EFI_GUID DriverBinding = EFI_DRIVER_BINDING_PROTOCOL_GUID;
inline constexpr EFI_GUID PlatformDriverOverride = EFI_PLATFORM_DRIVER_OVERRIDE_PROTOCOL_GUID;
inline constexpr EFI_GUID BusSpecificDriverOverride = EFI_BUS_SPECIFIC_DRIVER_OVERRIDE_PROTOCOL_GUID;
inline constexpr EFI_GUID DriverFamilyOverride = EFI_DRIVER_FAMILY_OVERRIDE_PROTOCOL_GUID;
inline constexpr EFI_GUID CpuArch = EFI_CPU_ARCH_PROTOCOL_GUID;
inline constexpr EFI_GUID LoadedImage = EFI_LOADED_IMAGE_PROTOCOL_GUID;
inline constexpr EFI_GUID SimpleTextOut = EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL_GUID;
inline constexpr EFI_GUID ExitBootServices = EFI_EVENT_GROUP_EXIT_BOOT_SERVICES;
inline constexpr EFI_GUID VirtualAddressChange = EFI_EVENT_GROUP_VIRTUAL_ADDRESS_CHANGE;
inline constexpr EFI_GUID DxeServicesTable = {
    0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};
} // namespace CoreGuid

std::string StatusName(EFI_STATUS Status); // "EFI_NOT_FOUND", or "0x..." for unnamed values

// Device path helpers (the handle database compares paths).
size_t DevicePathNodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node);
bool IsDevicePathEndNode(const EFI_DEVICE_PATH_PROTOCOL *Node);
size_t DevicePathInstanceSize(const EFI_DEVICE_PATH_PROTOCOL *Path); // bytes before the first end node

inline constexpr size_t kMaxConfigurationTables = 64;

// The core's tables in DRAM: those the OS keeps after the hand-over (runtime services data) and
// those it drops (boot services data), a page each at the top of DRAM.
struct RuntimeTables {
  EFI_SYSTEM_TABLE System;
  EFI_RUNTIME_SERVICES Runtime;
  EFI_CONFIGURATION_TABLE Configuration[kMaxConfigurationTables];
};
struct BootTables {
  EFI_BOOT_SERVICES Boot;
  EFI_DXE_SERVICES Dxe;
};
static_assert(sizeof(RuntimeTables) <= EFI_PAGE_SIZE && sizeof(BootTables) <= EFI_PAGE_SIZE);

struct ConsoleDevice {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Protocol{}; // first: the record is found from This
  EFI_SIMPLE_TEXT_OUTPUT_MODE Mode{};
  std::u16string Text;
  std::string Name;
  EFI_HANDLE Handle = nullptr;
};
// A console built in DRAM pool: destroyed in place, its memory goes with the DRAM.
struct DestroyInPlace {
  void operator()(ConsoleDevice *Device) const { Device->~ConsoleDevice(); }
};
using ConsolePointer = std::unique_ptr<ConsoleDevice, DestroyInPlace>;

// A range given to SetVirtualAddressMap; ConvertPointer maps addresses inside it.
struct VirtualRange {
  uint64_t PhysicalStart = 0;
  uint64_t Size = 0;
  int64_t Offset = 0;
};

struct Platform::Impl final : CoreReport {
  explicit Impl(PlatformOptions Options);

  PlatformOptions Options;
  BoardLog Log;

  // The board's DRAM, and the tables in it.
  host::Dram Ram;
  RuntimeTables &RuntimeArea;
  BootTables &BootArea;
  EFI_SYSTEM_TABLE &SystemTable;
  EFI_BOOT_SERVICES &BootServices;
  EFI_RUNTIME_SERVICES &RuntimeServices;
  EFI_DXE_SERVICES &DxeServices;
  std::vector<EFI_CONFIGURATION_TABLE> ConfigurationTables; // copied into RuntimeArea by UpdateTableCrcs
  EFI_HANDLE FirmwareHandle = nullptr;
  bool BootServicesEnded = false;
  uint64_t MonotonicCount = 0;

  std::unique_ptr<GcdMap> Gcd = std::make_unique<GcdMap>();
  CoreMemory Memory{Ram, *Gcd, *this};

  // Errors of the boot: firmware misuse the core found, each "<rule>: <image>: <what, where>".
  std::vector<std::string> Errors;
  std::vector<std::string> ExpectedErrors; // substrings a test declared

  // The firmware's own image: host producers install on it and own what they allocate.
  EFI_LOADED_IMAGE_PROTOCOL FirmwareImage{};

  // The core's parts, each reaching the others it needs through its constructor.
  HandleDatabase Handles{Events, Drivers, *this};
  DriverModel Drivers{Handles, Images, *this};
  CoreEvents Events{*this, Handles, Memory, Images};
  ImageTable Images{Options, *this, Memory,      Handles,
                    Events,  Space, SystemTable, {ConfigurationTables, [this] { UpdateTableCrcs(); }}};

  // Address space and processor.
  AddressSpace Space{*this};
  GenericTimer Timer{Events};
  std::vector<std::string> CpuOperations;
  // The processor's identification registers as the board sets them, and the frequency of the
  // core's generic timer (the host build's TimerLib reads it as the images read CNTFRQ_EL0).
  std::map<std::string, uint64_t> SystemRegisters{{"CNTFRQ_EL0", kCounterHz}};

  // Consoles.
  ConsolePointer ConOut;
  ConsolePointer StdErr;

  // Runtime.
  std::vector<VirtualRange> VirtualMap;
  bool VirtualMapSet = false;
  bool InVirtualAddressChange = false; // ConvertPointer is callable only while the group runs
  int64_t TimeOffsetSeconds = 0;

  std::unique_ptr<VariableStore> Variables = std::make_unique<VariableStore>();

  // Set up in the units: each fills its members of the tables.
  void FillMiscServices();
  void InitBootServices();
  void InitRuntimeServices();
  void InitDxeServices();
  void InitConsoles();
  void UpdateTableCrcs();

  void LogLine(const std::string &Text) override { Log.Append("core", Text + "\n", Events.NowNs()); }
  void Error(const std::string &Rule, const std::string &Text) override;
  void ErrorOf(const std::string &Rule, const std::string &Image, const std::string &Text) override;
  void AddError(const std::string &Text) override;
  // Records calling a service above the highest TPL the UEFI specification allows for it.
  void CheckServiceTpl(const char *Service);
  std::string CurrentImageName() const override;

  void SignalVirtualAddressChange(); // runs the group with ConvertPointer callable
  // Checks a boot service's call: the progress watchdog, the hand-over, the TPL, the map freeze.
  bool BootServiceAllowed(const char *Service);
};

// Opens a boot-service function: binds Core and refuses the call after ExitBootServices.
#define CORE_BOOT_SERVICE(Name)                                                                              \
  Platform::Impl &Core = host::Core();                                                                       \
  if (!Core.BootServiceAllowed(Name)) {                                                                      \
    return EFI_UNSUPPORTED;                                                                                  \
  }

// Records a processor operation ("ArmDisableMmu", ...) by either build; the interrupt mask
// follows the masking ones.
void RecordCpuOperation(Platform::Impl &Platform, const std::string &Name);

// The platform alive now; the table functions and the seams reach it here.
Platform::Impl &Core();
bool CoreAlive();

} // namespace host
