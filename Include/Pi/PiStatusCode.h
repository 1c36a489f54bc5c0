// Status-code types, values and data records (PI 1.x, volume 3, status codes).
#pragma once

#include <Uefi/UefiBaseType.h>

typedef UINT32 EFI_STATUS_CODE_TYPE;
typedef UINT32 EFI_STATUS_CODE_VALUE;

// Status-code types (low byte of EFI_STATUS_CODE_TYPE).
constexpr EFI_STATUS_CODE_TYPE EFI_STATUS_CODE_TYPE_MASK = 0x000000FF;
constexpr EFI_STATUS_CODE_TYPE EFI_PROGRESS_CODE = 0x00000001;
constexpr EFI_STATUS_CODE_TYPE EFI_ERROR_CODE = 0x00000002;
constexpr EFI_STATUS_CODE_TYPE EFI_DEBUG_CODE = 0x00000003;

// Status-code values: class in the top byte, subclass in the next, operation below.
constexpr EFI_STATUS_CODE_VALUE EFI_STATUS_CODE_CLASS_MASK = 0xFF000000;
constexpr EFI_STATUS_CODE_VALUE EFI_STATUS_CODE_SUBCLASS_MASK = 0x00FF0000;
constexpr EFI_STATUS_CODE_VALUE EFI_SOFTWARE = 0x03000000;
constexpr EFI_STATUS_CODE_VALUE EFI_SOFTWARE_UNSPECIFIED = EFI_SOFTWARE | 0x00000000;

// The header of every status-code data record. HeaderSize is the size of this header and
// Size the number of data bytes that follow it; Type tells how to read those bytes.
struct EFI_STATUS_CODE_DATA {
  UINT16 HeaderSize;
  UINT16 Size;
  EFI_GUID Type;
};
static_assert(sizeof(EFI_STATUS_CODE_DATA) == 20);
static_assert(OFFSET_OF(EFI_STATUS_CODE_DATA, Size) == 2);
static_assert(OFFSET_OF(EFI_STATUS_CODE_DATA, Type) == 4);

// String data (Type EFI_STATUS_CODE_DATA_TYPE_STRING_GUID).
#define EFI_STATUS_CODE_DATA_TYPE_STRING_GUID                                                                \
  {                                                                                                          \
    0x92D11080, 0x496F, 0x4D95, {                                                                            \
      0xBE, 0x7E, 0x03, 0x74, 0x88, 0x38, 0x2B, 0x0A                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiStatusCodeDataTypeStringGuid;

enum EFI_STRING_TYPE : UINT32 { EfiStringAscii = 0, EfiStringUnicode = 1, EfiStringToken = 2 };

typedef VOID *EFI_HII_HANDLE;
typedef UINT16 EFI_STRING_ID;

struct EFI_STATUS_CODE_STRING_TOKEN {
  EFI_HII_HANDLE Handle;
  EFI_STRING_ID Token;
};
static_assert(sizeof(EFI_STATUS_CODE_STRING_TOKEN) == 16);

union EFI_STATUS_CODE_STRING {
  CHAR8 *Ascii;
  CHAR16 *Unicode;
  EFI_STATUS_CODE_STRING_TOKEN Hii;
};
static_assert(sizeof(EFI_STATUS_CODE_STRING) == 16);

struct EFI_STATUS_CODE_STRING_DATA {
  EFI_STATUS_CODE_DATA DataHeader;
  EFI_STRING_TYPE StringType;
  EFI_STATUS_CODE_STRING String;
};
static_assert(sizeof(EFI_STATUS_CODE_STRING_DATA) == 40);
static_assert(OFFSET_OF(EFI_STATUS_CODE_STRING_DATA, StringType) == 20);
static_assert(OFFSET_OF(EFI_STATUS_CODE_STRING_DATA, String) == 24);
