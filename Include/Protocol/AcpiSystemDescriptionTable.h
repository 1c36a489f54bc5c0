// ACPI System Description Table protocol (PI 1.x, volume 5): enumerates the installed ACPI
// tables and gives access to their AML namespace.
#pragma once

#include <IndustryStandard/Acpi.h>
#include <Uefi.h>

#define EFI_ACPI_SDT_PROTOCOL_GUID                                                                           \
  {                                                                                                          \
    0xEB97088E, 0xCFDF, 0x49C6, {                                                                            \
      0xBE, 0x4B, 0xD9, 0x06, 0xA5, 0xB2, 0x0E, 0x86                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiAcpiSdtProtocolGuid;

// The ACPI versions a table is installed for; GetAcpiTable reports them per table.
typedef UINT32 EFI_ACPI_TABLE_VERSION;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_NONE = 1u << 0;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_1_0B = 1u << 1;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_2_0 = 1u << 2;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_3_0 = 1u << 3;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_4_0 = 1u << 4;
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_5_0 = 1u << 5;
// The versions whose tables are reached through the XSDT.
constexpr EFI_ACPI_TABLE_VERSION EFI_ACPI_TABLE_VERSION_X =
    EFI_ACPI_TABLE_VERSION_2_0 | EFI_ACPI_TABLE_VERSION_3_0 | EFI_ACPI_TABLE_VERSION_4_0;
static_assert(EFI_ACPI_TABLE_VERSION_X == 0x1C);

typedef VOID *EFI_ACPI_HANDLE;

typedef UINT32 EFI_ACPI_DATA_TYPE;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_NONE = 0;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_OPCODE = 1;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_NAME_STRING = 2;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_OP = 3;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_UINT = 4;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_STRING = 5;
constexpr EFI_ACPI_DATA_TYPE EFI_ACPI_DATA_TYPE_CHILD = 6;

// Same layout as the ACPI description header.
struct EFI_ACPI_SDT_HEADER {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  CHAR8 OemId[6];
  CHAR8 OemTableId[8];
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
};
static_assert(sizeof(EFI_ACPI_SDT_HEADER) == sizeof(EFI_ACPI_DESCRIPTION_HEADER));
static_assert(OFFSET_OF(EFI_ACPI_SDT_HEADER, Length) == 4);
static_assert(OFFSET_OF(EFI_ACPI_SDT_HEADER, OemTableId) == 16);

typedef EFI_STATUS(EFIAPI *EFI_ACPI_NOTIFICATION_FN)(EFI_ACPI_SDT_HEADER *Table,
                                                     EFI_ACPI_TABLE_VERSION Version, UINTN TableKey);

typedef EFI_STATUS(EFIAPI *EFI_ACPI_GET_ACPI_TABLE2)(UINTN Index, EFI_ACPI_SDT_HEADER **Table,
                                                     EFI_ACPI_TABLE_VERSION *Version, UINTN *TableKey);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_REGISTER_NOTIFY)(BOOLEAN Register, EFI_ACPI_NOTIFICATION_FN Notification);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_OPEN)(VOID *Buffer, EFI_ACPI_HANDLE *Handle);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_OPEN_SDT)(UINTN TableKey, EFI_ACPI_HANDLE *Handle);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_CLOSE)(EFI_ACPI_HANDLE Handle);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_GET_CHILD)(EFI_ACPI_HANDLE ParentHandle, EFI_ACPI_HANDLE *Handle);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_GET_OPTION)(EFI_ACPI_HANDLE Handle, UINTN Index,
                                                EFI_ACPI_DATA_TYPE *DataType, const VOID **Data,
                                                UINTN *DataSize);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_SET_OPTION)(EFI_ACPI_HANDLE Handle, UINTN Index, const VOID *Data,
                                                UINTN DataSize);
typedef EFI_STATUS(EFIAPI *EFI_ACPI_FIND_PATH)(EFI_ACPI_HANDLE HandleIn, VOID *AcpiPath,
                                               EFI_ACPI_HANDLE *HandleOut);

struct EFI_ACPI_SDT_PROTOCOL {
  EFI_ACPI_TABLE_VERSION AcpiVersion;
  EFI_ACPI_GET_ACPI_TABLE2 GetAcpiTable;
  EFI_ACPI_REGISTER_NOTIFY RegisterNotify;
  EFI_ACPI_OPEN Open;
  EFI_ACPI_OPEN_SDT OpenSdt;
  EFI_ACPI_CLOSE Close;
  EFI_ACPI_GET_CHILD GetChild;
  EFI_ACPI_GET_OPTION GetOption;
  EFI_ACPI_SET_OPTION SetOption;
  EFI_ACPI_FIND_PATH FindPath;
};
static_assert(OFFSET_OF(EFI_ACPI_SDT_PROTOCOL, GetAcpiTable) == 8);
static_assert(OFFSET_OF(EFI_ACPI_SDT_PROTOCOL, FindPath) == 8 + 8 * 8);
static_assert(sizeof(EFI_ACPI_SDT_PROTOCOL) == 80);
