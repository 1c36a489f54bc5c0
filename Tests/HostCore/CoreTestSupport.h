// Shared pieces of the core tests: a platform per test and a few host-side drivers.
#pragma once

#include <HostPlatform.h>
#include <Protocol/DriverBinding.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <map>
#include <string>
#include <vector>

namespace coretest {

inline constexpr EFI_GUID kGuidA = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};
inline constexpr EFI_GUID kGuidB = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02}};
inline constexpr EFI_GUID kGuidC = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03}};
inline constexpr EFI_GUID kDriverBindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;
inline constexpr EFI_GUID kDevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;

// The key of the memory map as GetMemoryMap reports it now.
UINTN CurrentMapKey(EFI_BOOT_SERVICES *BS);
// The memory map as GetMemoryMap reports it now, one element per descriptor.
std::vector<EFI_MEMORY_DESCRIPTOR> CurrentMemoryMap(EFI_BOOT_SERVICES *BS);

// A platform per test, with the module folder of the test images.
class CoreTest : public ::testing::Test {
protected:
  // OnProcessor: every image the test loads is its .efi on the AArch64 processor.
  static host::PlatformOptions TestOptions(bool OnProcessor = false) {
    host::PlatformOptions Options;
    Options.ModuleDir = HOST_CORE_TEST_MODULE_DIR;
    Options.WatchdogNs = 1'000'000'000; // one virtual second
    Options.Aarch64Images = OnProcessor;
    Options.Aarch64ImageDir = UEFI_IMAGE_DIR_DEFAULT;
    return Options;
  }
  explicit CoreTest(bool OnProcessor = false)
      : Board(TestOptions(OnProcessor)), BS(Board.BootServices()), RT(Board.RuntimeServices()) {}

  // A test fails on an error of the boot it did not declare with ExpectError.
  void TearDown() override {
    for (const std::string &Error : Board.UnexpectedErrors()) {
      ADD_FAILURE() << "unexpected error of the boot: " << Error;
    }
  }

  EFI_HANDLE NewHandle(const EFI_GUID &Guid, VOID *Interface) {
    EFI_HANDLE Handle = nullptr;
    EFI_GUID Copy = Guid;
    EXPECT_EQ(BS->InstallProtocolInterface(&Handle, &Copy, EFI_NATIVE_INTERFACE, Interface), EFI_SUCCESS);
    return Handle;
  }

public:
  // Whether the uefi-aarch64 build made the test image Name (such as "DelayProbe").
  static bool HaveImage(const std::string &Name) {
    return std::filesystem::exists(std::filesystem::path(UEFI_IMAGE_DIR_DEFAULT) / (Name + ".efi"));
  }

protected:
  host::Platform Board;
  EFI_BOOT_SERVICES *BS;
  EFI_RUNTIME_SERVICES *RT;
};

// A driver-model driver written on the host: it manages controllers carrying kGuidA, opens
// that BY_DRIVER, and may create one child per controller carrying kGuidB.
struct HostDriver {
  EFI_DRIVER_BINDING_PROTOCOL Binding{};
  std::string Name;
  bool CreateChild = false;
  bool RefuseStop = false;
  std::vector<std::string> *Calls = nullptr;
  std::vector<EFI_HANDLE> Children;
  int ChildInterface = 0;

  static HostDriver *From(EFI_DRIVER_BINDING_PROTOCOL *This);
  void Record(const std::string &Call) {
    if (Calls != nullptr) {
      Calls->push_back(Name + "." + Call);
    }
  }
  static EFI_STATUS EFIAPI Supported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                     EFI_DEVICE_PATH_PROTOCOL *Remaining);
  static EFI_STATUS EFIAPI Start(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                 EFI_DEVICE_PATH_PROTOCOL *Remaining);
  static EFI_STATUS EFIAPI Stop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                UINTN NumberOfChildren, EFI_HANDLE *ChildHandleBuffer);

  // Installs the binding on a new handle of the platform alive now.
  void Install(EFI_BOOT_SERVICES *BS, UINT32 Version);
};

} // namespace coretest
