// UEFI base data types and status codes (UEFI 2.x, section 2.3 and appendix D;
// PI 1.x status codes; the vendor database codes the debug text names).
#pragma once

#include <Base.h>

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_LBA;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);
typedef EFI_GUID GUID;

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);

struct EFI_MAC_ADDRESS {
  UINT8 Addr[32];
};

constexpr UINTN MAX_BIT = 0x8000000000000000ULL;
constexpr UINTN EFI_PI_BIT = 0x2000000000000000ULL;  // bit 61: PI-defined codes
constexpr UINTN EFI_OEM_BIT = 0x4000000000000000ULL; // bit 62: OEM / vendor codes

constexpr EFI_STATUS EncodeError(UINTN Code) {
  return MAX_BIT | Code;
}
constexpr EFI_STATUS EncodeWarning(UINTN Code) {
  return Code;
}

#define EFI_ERROR(StatusCode) (((INTN)(EFI_STATUS)(StatusCode)) < 0)

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR = EncodeError(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EncodeError(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EncodeError(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = EncodeError(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EncodeError(5);
constexpr EFI_STATUS EFI_NOT_READY = EncodeError(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EncodeError(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = EncodeError(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EncodeError(9);
constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EncodeError(10);
constexpr EFI_STATUS EFI_VOLUME_FULL = EncodeError(11);
constexpr EFI_STATUS EFI_NO_MEDIA = EncodeError(12);
constexpr EFI_STATUS EFI_MEDIA_CHANGED = EncodeError(13);
constexpr EFI_STATUS EFI_NOT_FOUND = EncodeError(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = EncodeError(15);
constexpr EFI_STATUS EFI_NO_RESPONSE = EncodeError(16);
constexpr EFI_STATUS EFI_NO_MAPPING = EncodeError(17);
constexpr EFI_STATUS EFI_TIMEOUT = EncodeError(18);
constexpr EFI_STATUS EFI_NOT_STARTED = EncodeError(19);
constexpr EFI_STATUS EFI_ALREADY_STARTED = EncodeError(20);
constexpr EFI_STATUS EFI_ABORTED = EncodeError(21);
constexpr EFI_STATUS EFI_ICMP_ERROR = EncodeError(22);
constexpr EFI_STATUS EFI_TFTP_ERROR = EncodeError(23);
constexpr EFI_STATUS EFI_PROTOCOL_ERROR = EncodeError(24);
constexpr EFI_STATUS EFI_INCOMPATIBLE_VERSION = EncodeError(25);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION = EncodeError(26);
constexpr EFI_STATUS EFI_CRC_ERROR = EncodeError(27);
constexpr EFI_STATUS EFI_END_OF_MEDIA = EncodeError(28);
constexpr EFI_STATUS EFI_END_OF_FILE = EncodeError(31);
constexpr EFI_STATUS EFI_INVALID_LANGUAGE = EncodeError(32);
constexpr EFI_STATUS EFI_COMPROMISED_DATA = EncodeError(33);

constexpr EFI_STATUS EFI_WARN_UNKNOWN_GLYPH = EncodeWarning(1);
constexpr EFI_STATUS EFI_WARN_DELETE_FAILURE = EncodeWarning(2);
constexpr EFI_STATUS EFI_WARN_WRITE_FAILURE = EncodeWarning(3);
constexpr EFI_STATUS EFI_WARN_BUFFER_TOO_SMALL = EncodeWarning(4);

// PI status codes (bit 61).
constexpr EFI_STATUS EFI_INTERRUPT_PENDING = MAX_BIT | EFI_PI_BIT | 0;
constexpr EFI_STATUS EFI_REQUEST_UNLOAD_IMAGE = MAX_BIT | EFI_PI_BIT | 1;
constexpr EFI_STATUS EFI_NOT_AVAILABLE_YET = MAX_BIT | EFI_PI_BIT | 2;
constexpr EFI_STATUS EFI_WARN_INTERRUPT_SOURCE_PENDING = EFI_PI_BIT | 0;
constexpr EFI_STATUS EFI_WARN_INTERRUPT_SOURCE_QUIESCED = EFI_PI_BIT | 1;

// Vendor database codes (bits 63 and 62).
constexpr EFI_STATUS EFI_DBE_EOF = MAX_BIT | EFI_OEM_BIT | 1;
constexpr EFI_STATUS EFI_DBE_BOF = MAX_BIT | EFI_OEM_BIT | 2;

static_assert(EFI_NOT_AVAILABLE_YET == 0xA000000000000002ULL);
static_assert(EFI_NOT_FOUND == 0x800000000000000EULL);

// Returns the status name as debug text prints it ("EFI_NOT_FOUND"), or NULL when the value
// has no name. One table serves every formatter of the system.
const CHAR8 *StatusCodeName(EFI_STATUS Status);

inline bool CompareGuidValues(const EFI_GUID &A, const EFI_GUID &B) {
  const UINT8 *Pa = reinterpret_cast<const UINT8 *>(&A);
  const UINT8 *Pb = reinterpret_cast<const UINT8 *>(&B);
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
    if (Pa[Index] != Pb[Index]) {
      return false;
    }
  }
  return true;
}
