// UEFI helpers: console print and the driver-model installation routine (EDK2 UefiLib class).
#pragma once

#include <Protocol/ComponentName.h>
#include <Protocol/ComponentName2.h>
#include <Protocol/DriverBinding.h>
#include <Uefi.h>

// Prints to gST->ConOut / gST->StdErr with the EDK2 print conventions (Library/PrintLib.h);
// text beyond 319 characters is cut. Returns the characters printed.
UINTN Print(const CHAR16 *Format, ...);
UINTN ErrorPrint(const CHAR16 *Format, ...);
UINTN AsciiPrint(const CHAR8 *Format, ...);
UINTN AsciiErrorPrint(const CHAR8 *Format, ...);

// Installs Driver Binding (with ImageHandle and DriverBindingHandle filled in) and, when
// given, Component Name and Component Name 2 on DriverBindingHandle.
EFI_STATUS EfiLibInstallDriverBindingComponentName2(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                                                    EFI_DRIVER_BINDING_PROTOCOL *DriverBinding,
                                                    EFI_HANDLE DriverBindingHandle,
                                                    EFI_COMPONENT_NAME_PROTOCOL *ComponentName,
                                                    EFI_COMPONENT_NAME2_PROTOCOL *ComponentName2);

struct EFI_UNICODE_STRING_TABLE {
  CHAR8 *Language;
  CHAR16 *UnicodeString;
};

// Looks Language up in a table keyed by language lists ("eng;en"); Iso639Language selects
// three-letter matching (Component Name) instead of RFC 4646 matching (Component Name 2).
EFI_STATUS LookupUnicodeString2(const CHAR8 *Language, const CHAR8 *SupportedLanguages,
                                const EFI_UNICODE_STRING_TABLE *UnicodeStringTable, CHAR16 **UnicodeString,
                                BOOLEAN Iso639Language);

EFI_STATUS EfiLocateProtocolBuffer(EFI_GUID *Protocol, UINTN *NoProtocols, VOID ***Buffer);
