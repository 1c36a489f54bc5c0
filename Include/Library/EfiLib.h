// The vendor support library: module globals, the trace path (formatted text reported as
// debug status codes), the DSDT locator and AML object search, the MAC text check and the
// table-driven GCD reservation routine.
#pragma once

#include <Uefi.h>

// Module globals filled once by LibInitialize.
extern EFI_HANDLE gLibImageHandle;
extern EFI_SYSTEM_TABLE *gLibSystemTable;
extern EFI_BOOT_SERVICES *gLibBootServices;
extern EFI_RUNTIME_SERVICES *gLibRuntimeServices;
extern BOOLEAN BootServicesEnded;

VOID LibInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Trace path.
constexpr UINTN TRACE_ALWAYS = ~(UINTN)0;  // the level every caller passes
constexpr UINT32 TraceLevelMask = 0xFFFFFFFF;
constexpr UINTN STATUS_CODE_RECORD_SIZE = 2048;

EFI_STATUS TraceMessage(UINTN Level, const CHAR8 *Format, ...);
UINTN FormatText(CHAR8 *Buffer, UINTN Count, const CHAR8 *Format, VA_LIST Args);
VOID BuildStatusCodeString(UINT8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Args);
EFI_STATUS ReportDebugStatusCode(UINT32 Type, UINT32 Value, UINT32 Instance, EFI_GUID *CallerId, VOID *Data);
// Reports "ASSERT in <File> on <Line>: <Expression>" and waits for a debugger.
VOID LibAssert(const CHAR8 *File, UINTN Line, const CHAR8 *Expression);

#define LIB_ASSERT(Expression)                          \
  do {                                                  \
    if (!(Expression)) {                                \
      LibAssert(__FILE_NAME__, __LINE__, #Expression);  \
    }                                                   \
  } while (FALSE)

// DSDT location and AML search.
enum AML_OBJECT_KIND : UINT32 {
  AmlScope = 1,
  AmlName = 3,
  AmlProcessor = 4,
  AmlThermalZone = 5,
  AmlDevice = 6,
  AmlMethod = 7,
  AmlPowerResource = 8,
  AmlOperationRegion = 9,
};

struct AML_OBJECT_INFO {
  UINT8 *Object;
  UINT8 *Name;
  UINT8 *DataStart;
  UINT32 Type;
  UINTN Length;
};

EFI_STATUS LibGetDsdt(UINT64 *Dsdt, UINT32 Version);
EFI_STATUS FindAmlObject(UINT8 *Start, UINTN Length, const CHAR8 *Name, UINT32 Kind, AML_OBJECT_INFO *Info);
BOOLEAN CheckObjectOpcode(UINT8 *NameSeg, UINT8 Opcode, UINT8 ExtendedPrefix, AML_OBJECT_INFO *Info);
UINT8 *FindNameSeg(UINT8 *Start, UINT32 Seg, UINTN Length);
UINTN DecodePkgLength(const UINT8 *Lead, UINT8 *FollowingBytes);

// MAC text check shared by the MAC publication and EEPROM drivers: EFI_SUCCESS for a
// 17-character unicast, non-zero "xx:xx:xx:xx:xx:xx" text, EFI_INVALID_PARAMETER otherwise.
constexpr UINTN MAC_TEXT_LENGTH = 17;
EFI_STATUS ValidateMacText(const CHAR8 *Text);
