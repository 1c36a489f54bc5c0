// Writes the MAC texts into the DSDT, in place.
//
// The walk visits every Device object whose name path begins with "_SB_". A device whose
// "_HID" is "VEXC0D19" is a SoC Ethernet port: the fourth character of its "_UID" string is
// its unit digit, and its "_DSM" method carries the key/value pair
//   "local-mac-address" NUL 0x0D "xx:xx:xx:xx:xx:xx" NUL
// whose 17-character value is overwritten with the text of the unit's slot. Every range the
// walk searches ends at the end of its object and never past the end of the table; after a
// patch the table's checksum is made valid again.
#include <IndustryStandard/Acpi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/EfiLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/AcpiSupport.h>

#include "Nicpatch.h"

namespace {

// The DSDT's standard header; AML follows it.
constexpr UINTN ACPI_HEADER_LENGTH_OFFSET = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Length);
constexpr UINTN ACPI_HEADER_CHECKSUM_OFFSET = OFFSET_OF(EFI_ACPI_DESCRIPTION_HEADER, Checksum);
constexpr UINTN ACPI_HEADER_SIZE = sizeof(EFI_ACPI_DESCRIPTION_HEADER);
static_assert(ACPI_HEADER_LENGTH_OFFSET == 4 && ACPI_HEADER_CHECKSUM_OFFSET == 9 && ACPI_HEADER_SIZE == 36);

constexpr UINT8 AML_STRING_PREFIX = 0x0D;

constexpr CHAR8 SYSTEM_BUS_SEGMENT[] = "_SB_";
constexpr CHAR8 ETHERNET_HID[] = "VEXC0D19";
constexpr UINTN ETHERNET_HID_LENGTH = sizeof(ETHERNET_HID) - 1;
constexpr UINTN UNIT_DIGIT_OFFSET = 4; // from the _UID data's prefix byte to the unit digit
constexpr UINTN MAX_UNIT = MAC_STRING_SLOT_COUNT - 1;

constexpr CHAR8 MAC_KEY[] = "local-mac-address";
constexpr UINTN MAC_KEY_LENGTH = sizeof(MAC_KEY) - 1;
// Offsets from the key's first character.
constexpr UINTN MAC_KEY_NUL_OFFSET = MAC_KEY_LENGTH;
constexpr UINTN MAC_VALUE_PREFIX_OFFSET = MAC_KEY_LENGTH + 1;
constexpr UINTN MAC_VALUE_OFFSET = MAC_KEY_LENGTH + 2;
constexpr UINTN MAC_VALUE_NUL_OFFSET = MAC_VALUE_OFFSET + MAC_TEXT_LENGTH;
static_assert(MAC_KEY_LENGTH == 17 && MAC_VALUE_OFFSET == 19 && MAC_VALUE_NUL_OFFSET == 36);

// AML string characters are 0x01-0x7F.
constexpr UINT8 AML_STRING_CHAR_MIN = 0x01;
constexpr UINT8 AML_STRING_CHAR_MAX = 0x7F;

UINT32 ReadUint32(const UINT8 *Bytes) {
  return (UINT32)Bytes[0] | ((UINT32)Bytes[1] << 8) | ((UINT32)Bytes[2] << 16) | ((UINT32)Bytes[3] << 24);
}

// One past the last byte of Info's object (opcode, PkgLength and contents), cut at Limit.
UINT8 *ObjectLimit(const AML_OBJECT_INFO &Info, UINT8 *Limit) {
  UINT8 *End = AmlObjectEnd(&Info);
  return End < Limit ? End : Limit;
}

UINTN SpanFrom(const UINT8 *Start, const UINT8 *Limit) {
  return Start < Limit ? (UINTN)(Limit - Start) : 0;
}

// The unit digit of an Ethernet device, or -1 when the device has no readable "_UID".
INTN ReadUnitDigit(UINT8 *Start, UINT8 *Limit) {
  AML_OBJECT_INFO Uid = {};
  if (EFI_ERROR(FindAmlObject(Start, SpanFrom(Start, Limit), "_UID", AmlName, &Uid))) {
    return -1;
  }
  if (SpanFrom(Uid.DataStart, Limit) <= UNIT_DIGIT_OFFSET) {
    return -1;
  }
  const CHAR8 Digit = (CHAR8)Uid.DataStart[UNIT_DIGIT_OFFSET];
  return (Digit >= '0' && Digit <= '9') ? Digit - '0' : 0;
}

BOOLEAN IsEthernetDevice(UINT8 *Start, UINT8 *Limit) {
  AML_OBJECT_INFO Hid = {};
  if (EFI_ERROR(FindAmlObject(Start, SpanFrom(Start, Limit), "_HID", AmlName, &Hid))) {
    return FALSE;
  }
  if (SpanFrom(Hid.DataStart, Limit) < 1 + ETHERNET_HID_LENGTH) {
    return FALSE;
  }
  return CompareMem(Hid.DataStart + 1, ETHERNET_HID, ETHERNET_HID_LENGTH) == 0;
}

// The first character of the 17-character "local-mac-address" value inside the device's
// _DSM, or NULL when there is none laid out as a 17-character string.
UINT8 *FindMacValue(UINT8 *Start, UINT8 *Limit) {
  AML_OBJECT_INFO Dsm = {};
  if (EFI_ERROR(FindAmlObject(Start, SpanFrom(Start, Limit), "_DSM", AmlMethod, &Dsm))) {
    return NULL;
  }
  UINT8 *DsmLimit = ObjectLimit(Dsm, Limit);
  const UINT8 *Key = FindBytes(Dsm.DataStart, SpanFrom(Dsm.DataStart, DsmLimit),
                               reinterpret_cast<const UINT8 *>(MAC_KEY), MAC_KEY_LENGTH);
  if (Key == NULL) {
    return NULL;
  }
  UINT8 *Pair = Dsm.DataStart + (Key - Dsm.DataStart);
  if (SpanFrom(Pair, DsmLimit) <= MAC_VALUE_NUL_OFFSET || Pair[MAC_KEY_NUL_OFFSET] != 0 ||
      Pair[MAC_VALUE_PREFIX_OFFSET] != AML_STRING_PREFIX || Pair[MAC_VALUE_NUL_OFFSET] != 0) {
    return NULL;
  }
  return Pair + MAC_VALUE_OFFSET;
}

// The slot's text as 17 AML string characters; FALSE when it is shorter or holds characters
// an AML string cannot carry (the table would no longer parse).
BOOLEAN SlotToAmlText(const CHAR16 *Slot, UINT8 *Text) {
  for (UINTN Index = 0; Index < MAC_TEXT_LENGTH; Index++) {
    if (Slot[Index] < AML_STRING_CHAR_MIN || Slot[Index] > AML_STRING_CHAR_MAX) {
      return FALSE;
    }
    Text[Index] = (UINT8)Slot[Index];
  }
  return TRUE;
}

VOID UpdateChecksum(UINT8 *Table, UINTN Length) {
  Table[ACPI_HEADER_CHECKSUM_OFFSET] = 0;
  UINT8 Sum = 0;
  for (UINTN Index = 0; Index < Length; Index++) {
    Sum = (UINT8)(Sum + Table[Index]);
  }
  Table[ACPI_HEADER_CHECKSUM_OFFSET] = (UINT8)(0 - Sum);
}

struct DSDT_WALK {
  const CHAR16 *MacTable;
  UINT8 *TableEnd; // one past the table's last byte
  UINTN Patched;
};

// Patches one SoC Ethernet device. Returns EFI_INVALID_PARAMETER for a unit digit above 8
// and EFI_ABORTED when nine devices are patched already and the walk is complete.
EFI_STATUS PatchEthernetDevice(DSDT_WALK &Walk, const AML_OBJECT_INFO &Device) {
  UINT8 *Limit = ObjectLimit(Device, Walk.TableEnd);
  if (!IsEthernetDevice(Device.DataStart, Limit)) {
    return EFI_SUCCESS;
  }
  const INTN Unit = ReadUnitDigit(Device.DataStart, Limit);
  if (Unit < 0) {
    return EFI_SUCCESS;
  }
  if ((UINTN)Unit > MAX_UNIT) {
    return EFI_INVALID_PARAMETER;
  }
  UINT8 *Value = FindMacValue(Device.DataStart, Limit);
  if (Value == NULL) {
    return EFI_SUCCESS;
  }
  if (Walk.Patched >= MAC_STRING_SLOT_COUNT) {
    return EFI_ABORTED;
  }
  const UINTN Slot = NicpatchSlotOfUnit((UINTN)Unit);
  UINT8 Text[MAC_TEXT_LENGTH];
  if (!SlotToAmlText(Walk.MacTable + Slot * MAC_STRING_SLOT_CHARS, Text)) {
    TraceMessage(TRACE_ALWAYS, "Nicpatcher : MAC text of slot %d is not usable, unit %d left as it is\n",
                 (INT32)Slot, (INT32)Unit);
    return EFI_SUCCESS;
  }
  CopyMem(Value, Text, MAC_TEXT_LENGTH);
  Walk.Patched++;
  return EFI_SUCCESS;
}

EFI_STATUS WalkDsdt(DSDT_WALK &Walk, UINT8 *Table, UINTN Length) {
  UINT8 *Start = Table + ACPI_HEADER_SIZE;
  UINTN SearchLength = Length - ACPI_HEADER_SIZE - 1;
  for (;;) {
    AML_OBJECT_INFO Device = {};
    if (EFI_ERROR(FindAmlObject(Start, SearchLength, SYSTEM_BUS_SEGMENT, AmlDevice, &Device))) {
      return EFI_SUCCESS;
    }
    const EFI_STATUS Status = PatchEthernetDevice(Walk, Device);
    if (Status == EFI_ABORTED) {
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) {
      return Status;
    }
    // Devices nested in this one are visited as well.
    Start = Device.DataStart;
    SearchLength = SpanFrom(Start, Walk.TableEnd);
  }
}

} // namespace

EFI_STATUS PatchDsdtMacs(const CHAR16 *Table) {
  VOID *AcpiSupport = NULL;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiAcpiSupportProtocolGuid, NULL, &AcpiSupport);
  if (EFI_ERROR(Status)) {
    TraceMessage(TRACE_ALWAYS, "ACPI Support Protocol is not ready for MAC components\n");
    return EFI_NOT_READY;
  }
  TraceMessage(TRACE_ALWAYS, "MAC Locate Protocol(ACPISupport)- %r Success\n", Status);

  UINT64 DsdtAddress = 0;
  Status = LibGetDsdt(&DsdtAddress, NICPATCH_DSDT_VERSIONS);
  if (EFI_ERROR(Status)) {
    TraceMessage(TRACE_ALWAYS, "Nicpatcher : Found DSDT Table not found\n");
    return Status;
  }
  UINT8 *Dsdt = reinterpret_cast<UINT8 *>((UINTN)DsdtAddress);
  const UINT32 Length = ReadUint32(Dsdt + ACPI_HEADER_LENGTH_OFFSET);
  TraceMessage(TRACE_ALWAYS, "Nicpatcher : Found DSDT Table at 0x%08X\n", (UINT32)DsdtAddress);
  TraceMessage(TRACE_ALWAYS, "Nicpatcher : Found DSDT Length at %d\n", Length);

  // A table shorter than its header is corrupt; one without AML has nothing to patch.
  if (Length < ACPI_HEADER_SIZE) {
    return EFI_VOLUME_CORRUPTED;
  }
  if (Length <= ACPI_HEADER_SIZE + 1) {
    return EFI_SUCCESS;
  }

  DSDT_WALK Walk = {Table, Dsdt + Length, 0};
  Status = WalkDsdt(Walk, Dsdt, Length);
  if (Walk.Patched > 0) {
    UpdateChecksum(Dsdt, Length);
  }
  return Status;
}
