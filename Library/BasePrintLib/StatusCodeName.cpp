// The status-name table of the system: every formatter that prints an EFI_STATUS by name
// (%r here and in the vendor trace formatter) asks StatusCodeName.
#include <Uefi/UefiBaseType.h>

namespace {

// Fixed-width rows, NUL-padded: a name that outgrows its row fails to compile.
constexpr UINTN ErrorNameWidth = 25;
constexpr UINTN WarningNameWidth = 26;
constexpr UINTN PiWarningNameWidth = 35;

constexpr CHAR8 SuccessName[ErrorNameWidth] = "EFI_SUCCESS";

// Warning codes 1-4.
constexpr CHAR8 WarningNames[][WarningNameWidth] = {
    "EFI_WARN_UNKNOWN_GLYPH",
    "EFI_WARN_DELETE_FAILURE",
    "EFI_WARN_WRITE_FAILURE",
    "EFI_WARN_BUFFER_TOO_SMALL",
};

// PI warning codes 0-1.
constexpr CHAR8 PiWarningNames[][PiWarningNameWidth] = {
    "EFI_WARN_INTERRUPT_SOURCE_PENDING",
    "EFI_WARN_INTERRUPT_SOURCE_QUIESCED",
};

// Error codes 1-33, in code order.
constexpr CHAR8 ErrorNames[][ErrorNameWidth] = {
    "EFI_LOAD_ERROR",           "EFI_INVALID_PARAMETER",  "EFI_UNSUPPORTED",
    "EFI_BAD_BUFFER_SIZE",      "EFI_BUFFER_TOO_SMALL",   "EFI_NOT_READY",
    "EFI_DEVICE_ERROR",         "EFI_WRITE_PROTECTED",    "EFI_OUT_OF_RESOURCES",
    "EFI_VOLUME_CORRUPTED",     "EFI_VOLUME_FULL",        "EFI_NO_MEDIA",
    "EFI_MEDIA_CHANGED",        "EFI_NOT_FOUND",          "EFI_ACCESS_DENIED",
    "EFI_NO_RESPONSE",          "EFI_NO_MAPPING",         "EFI_TIMEOUT",
    "EFI_NOT_STARTED",          "EFI_ALREADY_STARTED",    "EFI_ABORTED",
    "EFI_ICMP_ERROR",           "EFI_TFTP_ERROR",         "EFI_PROTOCOL_ERROR",
    "EFI_INCOMPATIBLE_VERSION", "EFI_SECURITY_VIOLATION", "EFI_CRC_ERROR",
    "EFI_END_OF_MEDIA",         "EFI_UNDEFINED_29",       "EFI_UNDEFINED_30",
    "EFI_END_OF_FILE",          "EFI_INVALID_LANGUAGE",   "EFI_COMPROMISED_DATA",
};

// PI error codes 0-2.
constexpr CHAR8 PiErrorNames[][ErrorNameWidth] = {
    "EFI_INTERRUPT_PENDING",
    "EFI_REQUEST_UNLOAD_IMAGE",
    "EFI_NOT_AVAILABLE_YET",
};

// Vendor error codes 1-2.
constexpr CHAR8 VendorErrorNames[][ErrorNameWidth] = {
    "EFI_DBE_EOF",
    "EFI_DBE_BOF",
};

static_assert(sizeof(WarningNames) == 4 * WarningNameWidth);
static_assert(sizeof(PiWarningNames) == 2 * PiWarningNameWidth);
static_assert(sizeof(ErrorNames) == 33 * ErrorNameWidth);
static_assert(sizeof(PiErrorNames) == 3 * ErrorNameWidth);
static_assert(sizeof(VendorErrorNames) == 2 * ErrorNameWidth);
static_assert(EFI_COMPROMISED_DATA == EncodeError(ARRAY_SIZE(ErrorNames)));

constexpr UINTN ClassBits = MAX_BIT | EFI_OEM_BIT | EFI_PI_BIT;

// Row Code - First of Table, or NULL when Code is outside [First, First + Rows).
template <UINTN Rows, UINTN Width>
const CHAR8 *Row(const CHAR8 (&Table)[Rows][Width], UINTN Code, UINTN First) {
  if (Code < First || Code - First >= Rows) {
    return NULL;
  }
  return Table[Code - First];
}

const CHAR8 *WarningName(EFI_STATUS Status) {
  if ((Status & EFI_PI_BIT) == 0) {
    return Row(WarningNames, Status, 1);
  }
  return Row(PiWarningNames, Status & ~EFI_PI_BIT, 0);
}

const CHAR8 *ErrorName(EFI_STATUS Status) {
  UINTN Code = Status & ~ClassBits;
  if ((Status & EFI_PI_BIT) != 0) {
    return Row(PiErrorNames, Code, 0);
  }
  if ((Status & EFI_OEM_BIT) != 0) {
    return Row(VendorErrorNames, Code, 1);
  }
  return Row(ErrorNames, Code, 1);
}

} // namespace

const CHAR8 *StatusCodeName(EFI_STATUS Status) {
  if (Status == EFI_SUCCESS) {
    return SuccessName;
  }
  return (Status & MAX_BIT) == 0 ? WarningName(Status) : ErrorName(Status);
}
