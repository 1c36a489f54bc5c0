// Two boots in one process, the variable services and the DXE services through the tables.
#include "CoreTestSupport.h"
#include "ScratchFiles.h"

#include <Pi/PiDxeCis.h>
#include <Protocol/Cpu.h>

#include <filesystem>
#include <unistd.h>

using namespace coretest;

namespace {

constexpr EFI_GUID kVendor = {0x158DEF5A, 0xF656, 0x419C, {0xB0, 0x27, 0x7A, 0x31, 0x92, 0xC0, 0x79, 0xD2}};
constexpr EFI_GUID kCounterGuid = {
    0x7D1C3F62, 0x1B0E, 0x4C55, {0x9A, 0x11, 0x52, 0x0D, 0x3E, 0x64, 0x71, 0x02}};

host::PlatformOptions Options(const std::filesystem::path &Nvram) {
  host::PlatformOptions Settings;
  Settings.ModuleDir = HOST_CORE_TEST_MODULE_DIR;
  Settings.NvramFile = Nvram;
  return Settings;
}

UINT32 CounterAfterOneRun(host::Platform &Board) {
  EXPECT_EQ(Board.RunModule("CoreTestCounter").Status, EFI_SUCCESS);
  EFI_GUID Guid = kCounterGuid;
  VOID *Counter = nullptr;
  EXPECT_EQ(Board.BootServices()->LocateProtocol(&Guid, nullptr, &Counter), EFI_SUCCESS);
  return Counter != nullptr ? *static_cast<UINT32 *>(Counter) : 0;
}

TEST(PlatformLifecycle, SecondBootSeesNonVolatileVariablesButNoOtherState) {
  const board_test::Scratch Scratch("hostcore-nvram");
  const std::filesystem::path &Nvram = Scratch.Path();
  CHAR16 Persistent[] = u"Kept";
  CHAR16 Volatile[] = u"Lost";
  EFI_GUID Vendor = kVendor;
  UINT8 Value = 0x5A;
  {
    host::Platform Board(Options(Nvram));
    EFI_RUNTIME_SERVICES *RT = Board.RuntimeServices();
    ASSERT_EQ(RT->SetVariable(Persistent, &Vendor,
                              EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, &Value),
              EFI_SUCCESS);
    ASSERT_EQ(RT->SetVariable(Volatile, &Vendor, EFI_VARIABLE_BOOTSERVICE_ACCESS, 1, &Value), EFI_SUCCESS);
    EXPECT_EQ(CounterAfterOneRun(Board), 1u);
  }
  {
    host::Platform Board(Options(Nvram));
    EFI_RUNTIME_SERVICES *RT = Board.RuntimeServices();
    UINT8 Read = 0;
    UINTN Size = sizeof(Read);
    UINT32 Attributes = 0;
    EXPECT_EQ(RT->GetVariable(Persistent, &Vendor, &Attributes, &Size, &Read), EFI_SUCCESS);
    EXPECT_EQ(Read, 0x5A);
    Size = sizeof(Read);
    EXPECT_EQ(RT->GetVariable(Volatile, &Vendor, &Attributes, &Size, &Read), EFI_NOT_FOUND);
    // The module starts from fresh globals in the second boot.
    EXPECT_EQ(CounterAfterOneRun(Board), 1u);

    // Boot-service variables vanish from view at the hand-over.
    ASSERT_EQ(Board.ExitBootServices(), EFI_SUCCESS);
    Size = sizeof(Read);
    EXPECT_EQ(RT->GetVariable(Persistent, &Vendor, &Attributes, &Size, &Read), EFI_NOT_FOUND);
  }
  std::filesystem::remove(Nvram);
}

TEST(PlatformLifecycle, OnlyOnePlatformAtATime) {
  host::Platform Board(Options({}));
  EXPECT_EQ(&host::Platform::Current(), &Board);
  EXPECT_THROW(host::Platform Second(Options({})), std::logic_error);
}

TEST(PlatformLifecycle, DxeServicesReachTheGcdMap) {
  host::Platform Board(Options({}));
  EFI_DXE_SERVICES *DS = Board.DxeServices();
  EXPECT_EQ(DS->Hdr.Signature, DXE_SERVICES_SIGNATURE);
  constexpr EFI_PHYSICAL_ADDRESS kBase = 0x10511000;
  ASSERT_EQ(
      DS->AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, kBase, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
      EFI_SUCCESS);
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
  ASSERT_EQ(DS->GetMemorySpaceDescriptor(kBase, &Descriptor), EFI_SUCCESS);
  EXPECT_EQ(Descriptor.GcdMemoryType, EfiGcdMemoryTypeMemoryMappedIo);
  UINTN Count = 0;
  EFI_GCD_MEMORY_SPACE_DESCRIPTOR *Map = nullptr;
  ASSERT_EQ(DS->GetMemorySpaceMap(&Count, &Map), EFI_SUCCESS);
  EXPECT_GE(Count, 2u);
  // The map came from the pool, so FreePool takes it back cleanly.
  EXPECT_EQ(Board.BootServices()->FreePool(Map), EFI_SUCCESS);
  EXPECT_TRUE(Board.MemoryErrors().empty());
}

// Memory attributes reach the page tables through the CPU architectural protocol; until it is
// installed they cannot be set, and the GCD map changes only when the CPU applied them.
TEST(PlatformLifecycle, SetMemorySpaceAttributesGoesThroughTheCpuArchProtocol) {
  host::Platform Board(Options({}));
  EFI_DXE_SERVICES *DS = Board.DxeServices();
  constexpr EFI_PHYSICAL_ADDRESS kBase = 0x10511000;
  ASSERT_EQ(
      DS->AddMemorySpace(EfiGcdMemoryTypeMemoryMappedIo, kBase, 0x1000, EFI_MEMORY_UC | EFI_MEMORY_RUNTIME),
      EFI_SUCCESS);
  auto Attributes = [&] {
    EFI_GCD_MEMORY_SPACE_DESCRIPTOR Descriptor{};
    DS->GetMemorySpaceDescriptor(kBase, &Descriptor);
    return Descriptor.Attributes;
  };
  constexpr UINT64 kWanted = EFI_MEMORY_UC | EFI_MEMORY_RUNTIME;
  EXPECT_EQ(DS->SetMemorySpaceAttributes(kBase, 0x1000, kWanted), EFI_NOT_AVAILABLE_YET);
  EXPECT_EQ(Attributes(), 0u);

  static std::vector<std::pair<EFI_PHYSICAL_ADDRESS, UINT64>> Applied;
  static EFI_STATUS CpuStatus = EFI_SUCCESS;
  EFI_CPU_ARCH_PROTOCOL Cpu{};
  Cpu.SetMemoryAttributes = [](EFI_CPU_ARCH_PROTOCOL *, EFI_PHYSICAL_ADDRESS Base, UINT64,
                               UINT64 Attributes) {
    Applied.emplace_back(Base, Attributes);
    return CpuStatus;
  };
  EFI_HANDLE Handle = nullptr;
  EFI_GUID CpuGuid = EFI_CPU_ARCH_PROTOCOL_GUID;
  ASSERT_EQ(Board.BootServices()->InstallProtocolInterface(&Handle, &CpuGuid, EFI_NATIVE_INTERFACE, &Cpu),
            EFI_SUCCESS);
  CpuStatus = EFI_ACCESS_DENIED;
  EXPECT_EQ(DS->SetMemorySpaceAttributes(kBase, 0x1000, kWanted), EFI_ACCESS_DENIED);
  EXPECT_EQ(Attributes(), 0u);
  CpuStatus = EFI_SUCCESS;
  const UINTN KeyBefore = CurrentMapKey(Board.BootServices());
  EXPECT_EQ(DS->SetMemorySpaceAttributes(kBase, 0x1000, kWanted), EFI_SUCCESS);
  EXPECT_EQ(Attributes(), kWanted);
  EXPECT_NE(CurrentMapKey(Board.BootServices()), KeyBefore)
      << "the runtime range joined the memory map under the old key";
  // A request the GCD map refuses never reaches the CPU.
  EXPECT_EQ(DS->SetMemorySpaceAttributes(kBase, 0x1000, EFI_MEMORY_WB), EFI_UNSUPPORTED);
  std::vector<std::pair<EFI_PHYSICAL_ADDRESS, UINT64>> Expected = {{kBase, kWanted}, {kBase, kWanted}};
  EXPECT_EQ(Applied, Expected);
  EXPECT_TRUE(Board.Errors().empty());
}

} // namespace
