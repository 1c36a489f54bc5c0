// The trace path: formatted text reported as debug status codes.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EfiLib.h>
#include <Protocol/StatusCode.h>

namespace {

constexpr UINTN STRING_DATA_SIZE = sizeof(EFI_STATUS_CODE_STRING_DATA);
constexpr UINT16 STRING_DATA_HEADER_SIZE = sizeof(EFI_STATUS_CODE_DATA);

// Every field of the record header but the string pointer. Static storage is zero-filled
// first, so the bytes of the string union behind the pointer are zero too.
constexpr EFI_STATUS_CODE_STRING_DATA mStringDataTemplate = {
    {STRING_DATA_HEADER_SIZE, (UINT16)(STRING_DATA_SIZE - STRING_DATA_HEADER_SIZE),
     EFI_STATUS_CODE_DATA_TYPE_STRING_GUID},
    EfiStringAscii,
    {nullptr},
};
static_assert(STRING_DATA_HEADER_SIZE == 20 && STRING_DATA_SIZE - STRING_DATA_HEADER_SIZE == 20);

// Written over the end of a text that filled its record.
constexpr CHAR8 OVERFLOW_MARKER[] = "... DEBUG BUFFER OVERFLOW!!!\n";
constexpr UINTN OVERFLOW_MARKER_SIZE = sizeof(OVERFLOW_MARKER); // with its NUL
static_assert(OVERFLOW_MARKER_SIZE == 30);
// The marker is only written into records with room for the header, the marker and some text.
constexpr UINTN OVERFLOW_MARKER_MIN_RECORD = 69;

constexpr const CHAR8 *ASSERT_FORMAT = "ASSERT in %s on %i: %s\n";

// NULL until a lookup succeeds.
EFI_STATUS_CODE_RUNTIME_PROTOCOL *mStatusCode = nullptr;

} // namespace

VOID BuildStatusCodeString(UINT8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Args) {
  // A record needs its header and at least the text's NUL.
  if (Buffer == nullptr || Size <= STRING_DATA_SIZE) {
    return;
  }
  CHAR8 *Text = reinterpret_cast<CHAR8 *>(Buffer + STRING_DATA_SIZE);
  CopyMem(Buffer, &mStringDataTemplate, STRING_DATA_SIZE);
  CopyMem(Buffer + OFFSET_OF(EFI_STATUS_CODE_STRING_DATA, String), &Text, sizeof(Text));

  UINTN TextSize = Size - STRING_DATA_SIZE;
  UINTN Length = FormatText(Text, TextSize, Format, Args);
  if (Length == FORMAT_TEXT_ERROR) {
    // No format: an empty text.
    *Text = '\0';
    return;
  }
  if (Length >= TextSize - 1 && Size > OVERFLOW_MARKER_MIN_RECORD) {
    CopyMem(Buffer + Size - OVERFLOW_MARKER_SIZE, OVERFLOW_MARKER, OVERFLOW_MARKER_SIZE);
  }
}

EFI_STATUS ReportDebugStatusCode(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                 EFI_GUID *CallerId, VOID *Data) {
  if (mStatusCode == nullptr) {
    if (BootServicesEnded) {
      return EFI_UNSUPPORTED;
    }
    // LibInitialize has not run: there is no way to the platform yet.
    if (gLibBootServices == nullptr) {
      return EFI_NOT_READY;
    }
    VOID *Interface = nullptr;
    EFI_STATUS Status =
        gLibBootServices->LocateProtocol(&gEfiStatusCodeRuntimeProtocolGuid, nullptr, &Interface);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    if (Interface == nullptr) {
      return EFI_NOT_FOUND;
    }
    mStatusCode = static_cast<EFI_STATUS_CODE_RUNTIME_PROTOCOL *>(Interface);
  }
  return mStatusCode->ReportStatusCode(Type, Value, Instance, CallerId,
                                       static_cast<EFI_STATUS_CODE_DATA *>(Data));
}

EFI_STATUS TraceMessage(UINTN Level, const CHAR8 *Format, ...) {
  if (((UINT32)Level & TraceLevelMask) == 0) {
    return EFI_SUCCESS;
  }
  alignas(EFI_STATUS_CODE_STRING_DATA) UINT8 Record[STATUS_CODE_RECORD_SIZE];
  VA_LIST Args;
  VA_START(Args, Format);
  BuildStatusCodeString(Record, sizeof(Record), Format, Args);
  VA_END(Args);
  return ReportDebugStatusCode(EFI_DEBUG_CODE, EFI_SOFTWARE_UNSPECIFIED, 0, nullptr, Record);
}

VOID LibAssert(const CHAR8 *File, UINTN Line, const CHAR8 *Expression) {
  TraceMessage(TRACE_ALWAYS, ASSERT_FORMAT, File, (UINT32)Line, Expression);
  // Waits for a debugger to move execution on.
  CpuDeadLoop();
}
