// AML object search: finds a named object of a given kind by scanning for its 4-character
// name segment and checking the opcode in front of it. It does not parse the AML tree, and
// it never reads a byte outside the range its caller gives.
#include <IndustryStandard/Acpi.h>
#include <Library/EfiLib.h>

namespace {

struct AML_KIND_ENTRY {
  UINT32 Kind;
  UINT8 Opcode;
  UINT8 ExtendedPrefix; // AML_EXT_OP for extended opcodes, 0 otherwise
  UINT8 FixedBytes;     // fixed fields between the name and the object's data
};

constexpr AML_KIND_ENTRY mKinds[] = {
    {AmlScope, AML_SCOPE_OP, 0, 0},
    {AmlName, AML_NAME_OP, 0, 0},
    {AmlProcessor, AML_EXT_PROCESSOR_OP, AML_EXT_OP, 6}, // processor ID, block address, length
    {AmlThermalZone, AML_EXT_THERMAL_ZONE_OP, AML_EXT_OP, 0},
    {AmlDevice, AML_EXT_DEVICE_OP, AML_EXT_OP, 0},
    {AmlMethod, AML_METHOD_OP, 0, 1},                        // method flags
    {AmlPowerResource, AML_EXT_POWER_RES_OP, AML_EXT_OP, 3}, // system level, resource order
    {AmlOperationRegion, AML_EXT_REGION_OP, AML_EXT_OP, 0},
};

// The opcode sits 2 to 5 bytes before the segment: room for a PkgLength of 1 to 4 bytes and
// for path prefixes between the opcode and the segment.
constexpr UINTN MIN_OPCODE_DISTANCE = 2;
constexpr UINTN MAX_OPCODE_DISTANCE = 5;
constexpr CHAR8 NAME_PAD = '_';

constexpr const AML_KIND_ENTRY *FindKind(UINT32 Kind) {
  for (const AML_KIND_ENTRY &Entry : mKinds) {
    if (Entry.Kind == Kind) {
      return &Entry;
    }
  }
  return NULL;
}
static_assert(FindKind(2) == NULL && FindKind(0) == NULL && FindKind(10) == NULL);
static_assert(FindKind(AmlMethod)->FixedBytes == 1 && FindKind(AmlDevice)->ExtendedPrefix == AML_EXT_OP);

constexpr bool HasPkgLength(UINT32 Kind) {
  return Kind != AmlName && Kind != AmlOperationRegion;
}

// Whether [Address - Back, Address) lies at or after Lower.
bool CanReadBack(const UINT8 *Address, UINTN Back, const UINT8 *Lower) {
  return Address >= Lower && (UINTN)(Address - Lower) >= Back;
}

UINT32 SegmentFromName(const CHAR8 *Name) {
  UINT8 Bytes[AML_NAME_SEG_SIZE] = {NAME_PAD, NAME_PAD, NAME_PAD, NAME_PAD};
  for (UINTN Index = 0; Index < AML_NAME_SEG_SIZE && Name[Index] != '\0'; Index++) {
    Bytes[Index] = (UINT8)Name[Index];
  }
  return SIGNATURE_32((UINT32)Bytes[0], (UINT32)Bytes[1], (UINT32)Bytes[2], (UINT32)Bytes[3]);
}

// Objects whose opcode is directly in front of the name: Name and OperationRegion.
BOOLEAN CheckAdjacentOpcode(UINT8 *NameSeg, UINT8 Opcode, UINT8 ExtendedPrefix, const UINT8 *Lower,
                            UINT8 **Object) {
  UINTN OpcodeBytes = ExtendedPrefix != 0 ? 2 : 1;
  if (!CanReadBack(NameSeg, OpcodeBytes, Lower)) {
    return FALSE;
  }
  if (NameSeg[-1] != Opcode || (ExtendedPrefix != 0 && NameSeg[-2] != ExtendedPrefix)) {
    return FALSE;
  }
  *Object = NameSeg - OpcodeBytes;
  return TRUE;
}

// Objects with a PkgLength between the opcode and the name.
BOOLEAN CheckPackageOpcode(UINT8 *NameSeg, UINT8 Opcode, UINT8 ExtendedPrefix, const UINT8 *Lower,
                           UINT8 **Object, UINTN *Length) {
  UINTN PrefixBytes = ExtendedPrefix != 0 ? 1 : 0;
  for (UINTN Distance = MIN_OPCODE_DISTANCE; Distance <= MAX_OPCODE_DISTANCE; Distance++) {
    if (!CanReadBack(NameSeg, Distance + PrefixBytes, Lower)) {
      return FALSE;
    }
    UINT8 *Op = NameSeg - Distance;
    if (*Op == Opcode && (ExtendedPrefix == 0 || Op[-1] == ExtendedPrefix)) {
      // The PkgLength bytes lie between the opcode and the end of the name segment, so
      // decoding them stays inside the range.
      *Object = Op - PrefixBytes;
      *Length = DecodePkgLength(Op + 1, NULL);
      return TRUE;
    }
  }
  return FALSE;
}

} // namespace

UINTN DecodePkgLength(const UINT8 *Lead, UINT8 *FollowingBytes) {
  UINT8 Following = (UINT8)(Lead[0] >> AML_PKG_LENGTH_FOLLOWING_SHIFT);
  if (FollowingBytes != NULL) {
    *FollowingBytes = Following;
  }
  if (Following == 0) {
    return Lead[0] & AML_PKG_LENGTH_SHORT_MASK;
  }
  UINTN Length = Lead[0] & AML_PKG_LENGTH_LEAD_MASK;
  for (UINTN Index = 1; Index <= Following; Index++) {
    Length |= (UINTN)Lead[Index] << (4 + 8 * (Index - 1));
  }
  return Length & AML_PKG_LENGTH_MAX;
}

UINT8 *FindNameSeg(UINT8 *Start, UINT32 Seg, UINTN Length) {
  if (Start == NULL || Length < AML_NAME_SEG_SIZE) {
    return NULL;
  }
  for (UINTN Offset = 0; Offset <= Length - AML_NAME_SEG_SIZE; Offset++) {
    UINT8 *Candidate = Start + Offset;
    UINT32 Value =
        SIGNATURE_32((UINT32)Candidate[0], (UINT32)Candidate[1], (UINT32)Candidate[2], (UINT32)Candidate[3]);
    if (Value == Seg) {
      return Candidate;
    }
  }
  return NULL;
}

BOOLEAN CheckObjectOpcode(UINT8 *NameSeg, UINT8 Opcode, UINT8 ExtendedPrefix, AML_OBJECT_INFO *Info,
                          const UINT8 *Lower) {
  if (NameSeg == NULL || Info == NULL || Lower == NULL) {
    return FALSE;
  }
  // A root or parent prefix right before the segment counts as part of the name.
  if (CanReadBack(NameSeg, 1, Lower) &&
      (NameSeg[-1] == AML_ROOT_CHAR || NameSeg[-1] == AML_PARENT_PREFIX_CHAR)) {
    NameSeg--;
  }

  UINT8 *Object = NULL;
  UINTN Length = 0;
  BOOLEAN Match;
  if ((Opcode == AML_NAME_OP && ExtendedPrefix == 0) ||
      (Opcode == AML_EXT_REGION_OP && ExtendedPrefix == AML_EXT_OP)) {
    Match = CheckAdjacentOpcode(NameSeg, Opcode, ExtendedPrefix, Lower, &Object);
  } else {
    Match = CheckPackageOpcode(NameSeg, Opcode, ExtendedPrefix, Lower, &Object, &Length);
  }
  if (!Match) {
    return FALSE;
  }
  Info->Object = Object;
  Info->Name = NameSeg;
  Info->Length = Length;
  return TRUE;
}

EFI_STATUS FindAmlObject(UINT8 *Start, UINTN Length, const CHAR8 *Name, UINT32 Kind, AML_OBJECT_INFO *Info) {
  const AML_KIND_ENTRY *Entry = FindKind(Kind);
  if (Start == NULL || Name == NULL || Info == NULL || Entry == NULL) {
    return EFI_NOT_FOUND;
  }
  UINT32 Seg = SegmentFromName(Name);
  const UINT8 *Lower = Start;
  UINT8 *End = Start + Length;

  UINT8 *Cursor = Start;
  while (Cursor < End) {
    UINT8 *Hit = FindNameSeg(Cursor, Seg, (UINTN)(End - Cursor));
    if (Hit == NULL) {
      return EFI_NOT_FOUND;
    }
    AML_OBJECT_INFO Found = *Info;
    if (CheckObjectOpcode(Hit, Entry->Opcode, Entry->ExtendedPrefix, &Found, Lower)) {
      Found.Type = Kind;
      Found.DataStart = Hit + AML_NAME_SEG_SIZE + Entry->FixedBytes;
      *Info = Found;
      return EFI_SUCCESS;
    }
    Cursor = Hit + AML_NAME_SEG_SIZE;
  }
  return EFI_NOT_FOUND;
}

UINT8 *AmlObjectEnd(const AML_OBJECT_INFO *Info) {
  if (!HasPkgLength(Info->Type)) {
    return Info->DataStart;
  }
  const AML_KIND_ENTRY *Entry = FindKind(Info->Type);
  UINTN OpcodeBytes = (Entry != NULL && Entry->ExtendedPrefix != 0) ? 2 : 1;
  return Info->Object + OpcodeBytes + Info->Length;
}

UINTN AmlClampLength(const UINT8 *Start, UINTN Length, const UINT8 *End) {
  if (Start >= End) {
    return 0;
  }
  UINTN Available = (UINTN)(End - Start);
  return Length < Available ? Length : Available;
}
