// The status-name table at every class boundary, and its fixed-width row layout.
#include <Uefi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Name(EFI_STATUS Status) {
  const CHAR8 *Text = StatusCodeName(Status);
  return Text == nullptr ? "(none)" : Text;
}

TEST(StatusCodeName, WarningsPlainAndPi) {
  EXPECT_EQ(Name(0), "EFI_SUCCESS");
  EXPECT_EQ(Name(1), "EFI_WARN_UNKNOWN_GLYPH");
  EXPECT_EQ(Name(4), "EFI_WARN_BUFFER_TOO_SMALL");
  EXPECT_EQ(Name(5), "(none)");
  EXPECT_EQ(Name(EFI_PI_BIT | 0), "EFI_WARN_INTERRUPT_SOURCE_PENDING");
  EXPECT_EQ(Name(EFI_PI_BIT | 1), "EFI_WARN_INTERRUPT_SOURCE_QUIESCED");
  EXPECT_EQ(Name(EFI_PI_BIT | 2), "(none)");
  // Vendor warnings have no names: bit 62 must not be ignored.
  EXPECT_EQ(Name(EFI_OEM_BIT | 1), "(none)");
  EXPECT_EQ(Name(EFI_OEM_BIT | EFI_PI_BIT | 1), "(none)");
}

TEST(StatusCodeName, Errors) {
  EXPECT_EQ(Name(MAX_BIT), "(none)");
  EXPECT_EQ(Name(EFI_LOAD_ERROR), "EFI_LOAD_ERROR");
  EXPECT_EQ(Name(EFI_NOT_FOUND), "EFI_NOT_FOUND");
  EXPECT_EQ(Name(EFI_INCOMPATIBLE_VERSION), "EFI_INCOMPATIBLE_VERSION");
  EXPECT_EQ(Name(EncodeError(29)), "EFI_UNDEFINED_29");
  EXPECT_EQ(Name(EncodeError(30)), "EFI_UNDEFINED_30");
  EXPECT_EQ(Name(EFI_END_OF_FILE), "EFI_END_OF_FILE");
  EXPECT_EQ(Name(EFI_COMPROMISED_DATA), "EFI_COMPROMISED_DATA");
  EXPECT_EQ(Name(EncodeError(34)), "(none)");
  EXPECT_EQ(Name(EncodeError(0xFFFFFFFF)), "(none)");
}

TEST(StatusCodeName, PiAndVendorErrors) {
  EXPECT_EQ(Name(EFI_INTERRUPT_PENDING), "EFI_INTERRUPT_PENDING");
  EXPECT_EQ(Name(EFI_REQUEST_UNLOAD_IMAGE), "EFI_REQUEST_UNLOAD_IMAGE");
  EXPECT_EQ(Name(EFI_NOT_AVAILABLE_YET), "EFI_NOT_AVAILABLE_YET");
  EXPECT_EQ(Name(MAX_BIT | EFI_PI_BIT | 3), "(none)");
  // PI errors keep their names whatever bit 62 says.
  EXPECT_EQ(Name(MAX_BIT | EFI_OEM_BIT | EFI_PI_BIT | 2), "EFI_NOT_AVAILABLE_YET");
  EXPECT_EQ(Name(MAX_BIT | EFI_OEM_BIT), "(none)");
  EXPECT_EQ(Name(EFI_DBE_EOF), "EFI_DBE_EOF");
  EXPECT_EQ(Name(EFI_DBE_BOF), "EFI_DBE_BOF");
  EXPECT_EQ(Name(MAX_BIT | EFI_OEM_BIT | 3), "(none)");
}

TEST(StatusCodeName, RowsAreFixedWidthAndNulPadded) {
  const CHAR8 *First = StatusCodeName(EFI_LOAD_ERROR);
  EXPECT_EQ(StatusCodeName(EFI_COMPROMISED_DATA) - First, 32 * 25);
  EXPECT_EQ(StatusCodeName(EFI_WARN_BUFFER_TOO_SMALL) - StatusCodeName(EFI_WARN_UNKNOWN_GLYPH), 3 * 26);
  EXPECT_EQ(StatusCodeName(EFI_WARN_INTERRUPT_SOURCE_QUIESCED) -
                StatusCodeName(EFI_WARN_INTERRUPT_SOURCE_PENDING),
            35);
  // The padding after a short name is all NUL up to the next row.
  const CHAR8 *Row = StatusCodeName(EFI_NOT_FOUND);
  for (size_t Index = std::strlen(Row); Index < 25; Index++) {
    EXPECT_EQ(Row[Index], '\0') << Index;
  }
}

} // namespace
