// The table libraries' constructors: what each stores, and how the DXE services table is found.
#include "FakeUefi.h"

#include <Library/DxeServicesTableLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

#include <gtest/gtest.h>

namespace {

TEST(TableLibs, ConstructorsStoreTheTables) {
  FakeUefi Uefi;
  EXPECT_EQ(gST, &Uefi.SystemTable);
  EXPECT_EQ(gBS, &Uefi.BootServices);
  EXPECT_EQ(UefiRuntimeServicesTableLibConstructor(gImageHandle, &Uefi.SystemTable), EFI_SUCCESS);
  EXPECT_EQ(gRT, &Uefi.RuntimeServices);
}

TEST(TableLibs, DxeServicesComeFromTheirConfigurationTableEntry) {
  FakeUefi Uefi;
  int Other = 0, Dxe = 0;
  EFI_CONFIGURATION_TABLE Entries[] = {{{0x1, 0x2, 0x3, {}}, &Other}, {gEfiDxeServicesTableGuid, &Dxe}};
  Uefi.SystemTable.ConfigurationTable = Entries;
  Uefi.SystemTable.NumberOfTableEntries = 1;
  gDS = nullptr;
  EXPECT_EQ(DxeServicesTableLibConstructor(gImageHandle, &Uefi.SystemTable), EFI_NOT_FOUND);
  EXPECT_EQ(gDS, nullptr);
  Uefi.SystemTable.NumberOfTableEntries = 2;
  EXPECT_EQ(DxeServicesTableLibConstructor(gImageHandle, &Uefi.SystemTable), EFI_SUCCESS);
  EXPECT_EQ(static_cast<void *>(gDS), &Dxe);
}

TEST(TableLibs, PrintWithoutAConsolePrintsNothing) {
  FakeUefi Uefi;
  Uefi.SystemTable.ConOut = nullptr;
  EXPECT_EQ(Print(u"lost"), 0u);
  EXPECT_TRUE(Uefi.ConOutText.empty());
}

} // namespace
