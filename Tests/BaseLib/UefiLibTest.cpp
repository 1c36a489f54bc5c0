// Name lookup for the Component Name protocols, the driver-model installation and console print.
#include "FakeUefi.h"

#include <Library/UefiLib.h>

#include <gtest/gtest.h>

namespace {

CHAR16 EnglishName[] = u"Display Driver";
CHAR16 FrenchName[] = u"Pilote d'affichage";
CHAR8 EnglishLanguages[] = "eng;en";
CHAR8 FrenchLanguages[] = "fra;fr-FR";

const EFI_UNICODE_STRING_TABLE Names[] = {
    {EnglishLanguages, EnglishName},
    {FrenchLanguages, FrenchName},
    {nullptr, nullptr},
};

TEST(LookupUnicodeString2, Iso639MatchesThreeLetterCodes) {
  CHAR16 *Found = nullptr;
  EXPECT_EQ(LookupUnicodeString2("eng", "engfra", Names, &Found, TRUE), EFI_SUCCESS);
  EXPECT_EQ(Found, EnglishName);
  EXPECT_EQ(LookupUnicodeString2("fra", "engfra", Names, &Found, TRUE), EFI_SUCCESS);
  EXPECT_EQ(Found, FrenchName);
  // Supported list does not hold it, or a chunk straddles codes ("ngf" inside "engfra").
  EXPECT_EQ(LookupUnicodeString2("deu", "engfra", Names, &Found, TRUE), EFI_UNSUPPORTED);
  EXPECT_EQ(LookupUnicodeString2("ngf", "engfra", Names, &Found, TRUE), EFI_UNSUPPORTED);
  // Short languages must not be read past their end.
  EXPECT_EQ(LookupUnicodeString2("en", "engfra", Names, &Found, TRUE), EFI_UNSUPPORTED);
}

TEST(LookupUnicodeString2, Rfc4646MatchesWholeEntries) {
  CHAR16 *Found = nullptr;
  EXPECT_EQ(LookupUnicodeString2("en", "en;fr-FR", Names, &Found, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Found, EnglishName);
  EXPECT_EQ(LookupUnicodeString2("fr-FR", "en;fr-FR", Names, &Found, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Found, FrenchName);
  // A prefix of an entry is not that entry.
  EXPECT_EQ(LookupUnicodeString2("fr", "en;fr-FR", Names, &Found, FALSE), EFI_UNSUPPORTED);
  EXPECT_EQ(LookupUnicodeString2("e", "en;fr-FR", Names, &Found, FALSE), EFI_UNSUPPORTED);
  // Supported but absent from the table.
  EXPECT_EQ(LookupUnicodeString2("de", "en;de", Names, &Found, FALSE), EFI_UNSUPPORTED);
}

TEST(LookupUnicodeString2, ArgumentErrors) {
  CHAR16 *Found = nullptr;
  EXPECT_EQ(LookupUnicodeString2(nullptr, "en", Names, &Found, FALSE), EFI_INVALID_PARAMETER);
  EXPECT_EQ(LookupUnicodeString2("en", "en", Names, nullptr, FALSE), EFI_INVALID_PARAMETER);
  EXPECT_EQ(LookupUnicodeString2("en", "en", nullptr, &Found, FALSE), EFI_UNSUPPORTED);
}

TEST(UefiLib, InstallsBindingAndOnlyTheGivenNameProtocols) {
  FakeUefi Uefi;
  EFI_DRIVER_BINDING_PROTOCOL Binding{};
  EFI_COMPONENT_NAME2_PROTOCOL Name2{};
  EFI_HANDLE Image = reinterpret_cast<EFI_HANDLE>(0x77);
  ASSERT_EQ(
      EfiLibInstallDriverBindingComponentName2(Image, &Uefi.SystemTable, &Binding, nullptr, nullptr, &Name2),
      EFI_SUCCESS);
  EXPECT_EQ(Binding.ImageHandle, Image);
  ASSERT_NE(Binding.DriverBindingHandle, nullptr) << "the new handle must be stored in the binding";
  ASSERT_EQ(Uefi.Protocols.size(), 2u);
  EXPECT_TRUE(CompareGuidValues(Uefi.Protocols[0].Guid, gEfiDriverBindingProtocolGuid));
  EXPECT_EQ(Uefi.Protocols[0].Interface, &Binding);
  EXPECT_TRUE(CompareGuidValues(Uefi.Protocols[1].Guid, gEfiComponentName2ProtocolGuid));
  EXPECT_EQ(Uefi.Protocols[1].Handle, Binding.DriverBindingHandle);
}

TEST(UefiLib, LocateProtocolBufferCollectsEveryInstance) {
  FakeUefi Uefi;
  int First = 1, Second = 2;
  EFI_HANDLE A = nullptr, B = nullptr;
  Uefi.BootServices.InstallMultipleProtocolInterfaces(&A, &gEfiDevicePathProtocolGuid, &First, nullptr);
  Uefi.BootServices.InstallMultipleProtocolInterfaces(&B, &gEfiDevicePathProtocolGuid, &Second, nullptr);
  UINTN Count = 0;
  VOID **Interfaces = nullptr;
  ASSERT_EQ(EfiLocateProtocolBuffer(&gEfiDevicePathProtocolGuid, &Count, &Interfaces), EFI_SUCCESS);
  ASSERT_EQ(Count, 2u);
  EXPECT_EQ(Interfaces[0], &First);
  EXPECT_EQ(Interfaces[1], &Second);
  EXPECT_EQ(Uefi.Pool.size(), 1u) << "only the caller's buffer may stay allocated";
  EXPECT_EQ(EfiLocateProtocolBuffer(&gEfiDriverBindingProtocolGuid, &Count, &Interfaces), EFI_NOT_FOUND);
  EXPECT_EQ(Count, 0u);
}

TEST(UefiLib, PrintGoesToTheRightConsole) {
  FakeUefi Uefi;
  EXPECT_EQ(Print(u"%d-%a\n", 5, "x"), 4u);
  EXPECT_EQ(AsciiErrorPrint("ASSERT %a(%d): %a\n", "Unit.cpp", 317, "FALSE"), 28u);
  EXPECT_EQ(Uefi.ConOutText, u"5-x\n");
  EXPECT_EQ(Uefi.StdErrText, u"ASSERT Unit.cpp(317): FALSE\n");
}

} // namespace
