// The standard entry sequence, linked once with the driver entry library and once with the
// application entry library (ENTRY_KIND_APPLICATION set).
#include "ExampleModuleWiring.h"
#include "FakeUefi.h"

#include <Library/ModuleEntryPoint.h>

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

EFI_STATUS StartImage(FakeUefi &Uefi, EFI_STATUS EntryStatus) {
  WiringCalls.clear();
  WiringEntryStatus = EntryStatus;
  return _ModuleEntryPoint(reinterpret_cast<EFI_HANDLE>(0x20), &Uefi.SystemTable);
}

TEST(ModuleEntryPoint, OldSystemTableIsRefusedBeforeAnyCode) {
  FakeUefi Uefi;
  Uefi.SystemTable.Hdr.Revision = (2 << 16) | 60;
  EXPECT_EQ(StartImage(Uefi, EFI_SUCCESS), EFI_INCOMPATIBLE_VERSION);
  EXPECT_EQ(WiringCalls, Calls{});
}

TEST(ModuleEntryPoint, SuccessfulEntry) {
  FakeUefi Uefi;
  EXPECT_EQ(StartImage(Uefi, EFI_SUCCESS), EFI_SUCCESS);
#ifdef ENTRY_KIND_APPLICATION
  EXPECT_EQ(WiringCalls, (Calls{"constructors", "entry", "destructors"}));
#else
  EXPECT_EQ(WiringCalls, (Calls{"constructors", "entry"}));
#endif
}

TEST(ModuleEntryPoint, FailedEntryRunsDestructorsAndReturnsTheStatus) {
  FakeUefi Uefi;
  EXPECT_EQ(StartImage(Uefi, EFI_NOT_READY), EFI_NOT_READY);
  EXPECT_EQ(WiringCalls, (Calls{"constructors", "entry", "destructors"}));
}

} // namespace
