// The vendor support library: module globals, the trace path (formatted text reported as
// debug status codes), the DSDT locator and AML object search, the MAC text check and the
// table-driven GCD reservation routine.
#pragma once

#include <Pi/PiDxeCis.h>
#include <Pi/PiStatusCode.h>
#include <Uefi.h>

// Module globals filled once by LibInitialize: the trace path, the DSDT locator and the GCD
// reservation routine reach the platform only through them.
extern EFI_HANDLE gLibImageHandle;
extern EFI_SYSTEM_TABLE *gLibSystemTable;
extern EFI_BOOT_SERVICES *gLibBootServices;
extern EFI_RUNTIME_SERVICES *gLibRuntimeServices;
// Set by the library's exit-boot-services handler; no module here registers it.
extern BOOLEAN BootServicesEnded;

// Stores the image handle and the tables on the first call; later calls change nothing.
VOID LibInitialize(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Trace path: formatted text reported as debug status codes.
constexpr UINTN TRACE_ALWAYS = ~(UINTN)0; // the level every caller passes
constexpr UINT32 TraceLevelMask = 0xFFFFFFFF;
constexpr UINTN STATUS_CODE_RECORD_SIZE = 2048;
// FormatText's result for a NULL Buffer or Format.
constexpr UINTN FORMAT_TEXT_ERROR = ~(UINTN)0;

// Reports the text as an EFI_DEBUG_CODE status code unless the low 32 bits of Level AND
// TraceLevelMask are zero. Returns the status of the report (no caller checks it).
EFI_STATUS TraceMessage(UINTN Level, const CHAR8 *Format, ...);
// The library's own formatter (%s %a %S %c %g %G %r %d %i %x %X %p %%, "0" fill, widths, "*",
// "l"). Count counts output characters, terminating NUL included; 0 means no limit. Returns
// the characters written without the NUL, or FORMAT_TEXT_ERROR for a NULL Buffer or Format.
UINTN FormatText(CHAR8 *Buffer, UINTN Count, const CHAR8 *Format, VA_LIST Args);
// Builds an EFI_STATUS_CODE_STRING_DATA record with its text right behind it in Buffer;
// text that fills the record ends in an overflow marker.
VOID BuildStatusCodeString(UINT8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Args);
EFI_STATUS ReportDebugStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                 EFI_GUID *CallerId, VOID *Data);
// Reports "ASSERT in <File> on <Line>: <Expression>" and waits for a debugger.
VOID LibAssert(const CHAR8 *File, UINTN Line, const CHAR8 *Expression);

#define LIB_ASSERT(Expression)                                                                               \
  do {                                                                                                       \
    if (!(Expression)) {                                                                                     \
      LibAssert(__FILE_NAME__, __LINE__, #Expression);                                                       \
    }                                                                                                        \
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

// Version masks take EFI_ACPI_TABLE_VERSION bits: 0x02 selects the 1.0b FADT's Dsdt, 0x1C
// (2.0 to 4.0) or 0x01 the later FADT's X_Dsdt, which wins when both are available.
EFI_STATUS LibGetDsdt(UINT64 *Dsdt, UINT32 Version);
// Finds the first object of the given kind named Name (1-4 characters, padded with "_")
// among the bytes [Start, Start + Length). No byte outside that range is read: a name
// segment must lie wholly inside it, and the opcode in front of it too.
EFI_STATUS FindAmlObject(UINT8 *Start, UINTN Length, const CHAR8 *Name, UINT32 Kind, AML_OBJECT_INFO *Info);
// Checks the opcode in front of the name segment at NameSeg. Lower is the first byte the
// check may read: it never looks at bytes before Lower (FindAmlObject passes its Start).
BOOLEAN CheckObjectOpcode(UINT8 *NameSeg, UINT8 Opcode, UINT8 ExtendedPrefix, AML_OBJECT_INFO *Info,
                          const UINT8 *Lower);
UINT8 *FindNameSeg(UINT8 *Start, UINT32 Seg, UINTN Length);
UINTN DecodePkgLength(const UINT8 *Lead, UINT8 *FollowingBytes);
// One past the last byte of a found object with a PkgLength (the PkgLength counts from its
// own first byte); for Name and OperationRegion objects, which have none, DataStart.
UINT8 *AmlObjectEnd(const AML_OBJECT_INFO *Info);
// Length cut so that [Start, Start + result) ends at End at the latest; 0 when Start is at
// or past End. Callers searching inside an object clamp their range to the table with it.
UINTN AmlClampLength(const UINT8 *Start, UINTN Length, const UINT8 *End);

// MAC text check shared by the MAC publication and EEPROM drivers: EFI_SUCCESS for a
// 17-character unicast, non-zero "xx:xx:xx:xx:xx:xx" text, EFI_INVALID_PARAMETER otherwise.
constexpr UINTN MAC_TEXT_LENGTH = 17;
EFI_STATUS ValidateMacText(const CHAR8 *Text);

// Table-driven GCD reservation. One row of a caller's table; the routine may overwrite Type
// with the type the GCD map already has for the range.
struct CspResourceEntry {
  UINT64 Base;
  UINT64 Length;
  UINTN Type;        // EFI_GCD_MEMORY_TYPE of a memory row, EFI_GCD_IO_TYPE of an I/O row
  UINT64 Attributes; // GCD attributes to set; CSP_RESOURCE_IO_ROW marks an I/O-space row
};
constexpr UINT64 CSP_RESOURCE_IO_ROW = ~(UINT64)0;
// Capabilities of every memory range the routine adds: UC, WT, WB, WP and RUNTIME.
constexpr UINT64 CSP_RESOURCE_CAPABILITIES =
    EFI_MEMORY_UC | EFI_MEMORY_WT | EFI_MEMORY_WB | EFI_MEMORY_WP | EFI_MEMORY_RUNTIME;
static_assert(CSP_RESOURCE_CAPABILITIES == 0x800000000000100DULL);

// Adds every row to the GCD map, allocates each range nobody owns yet to ImageHandle and
// DeviceHandle, makes the whole span uncached when every memory row asks for EFI_MEMORY_UC,
// and sets each memory row's attributes (retrying once without cache types). Returns the
// first failed attribute setting, else the last status. A missing DXE services table, a
// failed allocation or a failed descriptor query in the uncached pass is a fatal assertion.
// A NULL Table with rows is EFI_INVALID_PARAMETER, before any GCD call.
EFI_STATUS LibAllocCspResource(CspResourceEntry *Table, UINTN Count, EFI_HANDLE ImageHandle,
                               EFI_HANDLE DeviceHandle);
