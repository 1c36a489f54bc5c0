// Display identification: the EDID from the platform's override or read from the monitor over
// the DDC lines of CRB7, and the list of mode-table rows the display can take.
#include <Library/BaseMemoryLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Protocol/EdidOverride.h>

#include "VantorGraphics.h"

namespace {

// ---- DDC lines ----------------------------------------------------------------------------

constexpr UINT8 CRB7_SCL_DRIVE = 0x01; // 1 pulls SCL low
constexpr UINT8 CRB7_SDA_DRIVE = 0x04; // 1 pulls SDA low
constexpr UINT8 CRB7_SCL_LEVEL = 0x10;
constexpr UINT8 CRB7_SDA_LEVEL = 0x20;

constexpr UINTN SCL_SET_ATTEMPTS = 65536;
constexpr UINTN SDA_SET_ATTEMPTS = 4096;
constexpr UINTN SCL_STRETCH_READS = 4096;
constexpr UINTN LEVEL_CONFIRM_READS = 5; // reads after the first before the levels are compared
constexpr UINTN BIT_DELAY_READS = 150;   // the delay d: 8-bit reads of port 0x3D4

constexpr UINT8 DDC_ADDRESS_WRITE = 0xA0;
constexpr UINT8 DDC_ADDRESS_READ = 0xA1;
constexpr UINT8 DDC_FIRST_OFFSET = 0x00;

// A header found at offset k needs k bytes beyond the block to complete it.
constexpr UINTN DDC_BUFFER_SIZE = 2 * VANTOR_EDID_BLOCK_SIZE;

// A DDC transfer fails when a level never settles: the display is taken as absent.
struct DDC_LINES {
  VANTOR_PRIVATE_DATA *Private;
  BOOLEAN Failed;
};

VOID Delay(DDC_LINES *Lines) {
  for (UINTN Read = 0; Read < BIT_DELAY_READS; Read++) {
    VantorPortRead(Lines->Private, VANTOR_PORT_CRTC);
  }
}

// Drives one line (released for level 1, pulled low for 0) until its drive bit reads back.
VOID SetLine(DDC_LINES *Lines, UINT8 DriveBit, UINTN Attempts, BOOLEAN Level) {
  const UINT8 Drive = Level ? 0 : DriveBit;
  for (UINTN Attempt = 0; Attempt < Attempts; Attempt++) {
    VantorIndexModify(Lines->Private, VANTOR_PORT_CRTC, CR_DDC, static_cast<UINT8>(~DriveBit), Drive);
    if ((VantorCrtcRead(Lines->Private, CR_DDC) & DriveBit) == Drive) {
      return;
    }
  }
}

VOID SetScl(DDC_LINES *Lines, BOOLEAN Level) {
  SetLine(Lines, CRB7_SCL_DRIVE, SCL_SET_ATTEMPTS, Level);
  Delay(Lines);
}

VOID SetSda(DDC_LINES *Lines, BOOLEAN Level) {
  SetLine(Lines, CRB7_SDA_DRIVE, SDA_SET_ATTEMPTS, Level);
  Delay(Lines);
}

// The level of a line once the first read and the sixth agree; 0 and Failed set when they
// keep disagreeing.
BOOLEAN ReadLine(DDC_LINES *Lines, UINT8 LevelBit) {
  if (Lines->Failed) {
    return FALSE;
  }
  for (UINTN Attempt = 0; Attempt < VANTOR_DDC_LEVEL_ATTEMPTS; Attempt++) {
    const UINT8 First = VantorCrtcRead(Lines->Private, CR_DDC);
    UINT8 Last = First;
    for (UINTN Read = 0; Read < LEVEL_CONFIRM_READS; Read++) {
      Last = VantorCrtcRead(Lines->Private, CR_DDC);
    }
    if (((First ^ Last) & LevelBit) == 0) {
      return (Last & LevelBit) != 0;
    }
  }
  Lines->Failed = TRUE;
  return FALSE;
}

VOID Start(DDC_LINES *Lines) {
  SetScl(Lines, FALSE);
  SetSda(Lines, TRUE);
  SetScl(Lines, TRUE);
  SetSda(Lines, FALSE);
  SetScl(Lines, TRUE);
}

VOID Stop(DDC_LINES *Lines) {
  SetScl(Lines, FALSE);
  SetSda(Lines, FALSE);
  SetScl(Lines, TRUE);
  SetSda(Lines, TRUE);
  SetScl(Lines, TRUE);
}

VOID SendByte(DDC_LINES *Lines, UINT8 Byte) {
  for (UINTN Bit = 0; Bit < 8; Bit++) {
    SetScl(Lines, FALSE);
    SetSda(Lines, (Byte & (0x80 >> Bit)) != 0);
    SetScl(Lines, TRUE);
  }
}

// The display may hold SCL low while it gets the bit ready.
VOID WaitForScl(DDC_LINES *Lines) {
  for (UINTN Read = 0; Read < SCL_STRETCH_READS && !Lines->Failed; Read++) {
    if (ReadLine(Lines, CRB7_SCL_LEVEL)) {
      return;
    }
  }
}

UINT8 ReceiveByte(DDC_LINES *Lines) {
  UINT8 Byte = 0;
  for (UINTN Bit = 0; Bit < 8; Bit++) {
    SetScl(Lines, FALSE);
    SetSda(Lines, TRUE);
    SetScl(Lines, TRUE);
    WaitForScl(Lines);
    Byte = static_cast<UINT8>((Byte << 1) | (ReadLine(Lines, CRB7_SDA_LEVEL) ? 1 : 0));
    SetScl(Lines, FALSE);
  }
  return Byte;
}

BOOLEAN Acknowledged(DDC_LINES *Lines) {
  SetScl(Lines, FALSE);
  SetSda(Lines, TRUE);
  SetScl(Lines, TRUE);
  return !ReadLine(Lines, CRB7_SDA_LEVEL) && !Lines->Failed;
}

// Acknowledge (more bytes wanted) or no-acknowledge (the last byte).
VOID SendAcknowledge(DDC_LINES *Lines, BOOLEAN More) {
  SetScl(Lines, FALSE);
  SetSda(Lines, !More);
  SetScl(Lines, TRUE);
}

BOOLEAN SendAcknowledged(DDC_LINES *Lines, UINT8 Byte) {
  SendByte(Lines, Byte);
  return Acknowledged(Lines);
}

// Offset of the EDID header among the first Count bytes, or Count when there is none.
UINTN FindHeader(const UINT8 *Bytes, UINTN Count) {
  for (UINTN Offset = 0; Offset + sizeof(VANTOR_EDID_HEADER) <= Count; Offset++) {
    if (CompareMem(Bytes + Offset, VANTOR_EDID_HEADER, sizeof(VANTOR_EDID_HEADER)) == 0) {
      return Offset;
    }
  }
  return Count;
}

// Reads the block from word offset 0. When the header is not at the start of the 128 bytes,
// the read goes on until the block that starts at the header is complete. Returns the number
// of bytes in Buffer, 0 when the display did not answer.
UINTN ReadDdcBlock(VANTOR_PRIVATE_DATA *Private, UINT8 *Buffer) {
  DDC_LINES Lines = {Private, FALSE};
  VantorCrtcWrite(Private, CR_UNLOCK, VANTOR_CRTC_UNLOCK);
  SetScl(&Lines, TRUE);
  SetScl(&Lines, FALSE);
  SetScl(&Lines, TRUE);
  if (!ReadLine(&Lines, CRB7_SCL_LEVEL)) {
    return 0;
  }
  Start(&Lines);
  if (!SendAcknowledged(&Lines, DDC_ADDRESS_WRITE) || !SendAcknowledged(&Lines, DDC_FIRST_OFFSET)) {
    return 0;
  }
  Start(&Lines);
  if (!SendAcknowledged(&Lines, DDC_ADDRESS_READ)) {
    return 0;
  }
  UINTN Wanted = VANTOR_EDID_BLOCK_SIZE;
  for (UINTN Count = 0; Count < Wanted; Count++) {
    Buffer[Count] = ReceiveByte(&Lines);
    if (Lines.Failed) {
      return 0;
    }
    if (Count + 1 == VANTOR_EDID_BLOCK_SIZE) {
      const UINTN Header = FindHeader(Buffer, VANTOR_EDID_BLOCK_SIZE);
      Wanted += Header < VANTOR_EDID_BLOCK_SIZE ? Header : 0;
    }
    SendAcknowledge(&Lines, Count + 1 < Wanted);
  }
  Stop(&Lines);
  return Lines.Failed ? 0 : Wanted;
}

} // namespace

// ---- DDC read ----------------------------------------------------------------------------------

EFI_STATUS VantorReadEdid(VANTOR_PRIVATE_DATA *Private, UINT8 **Edid, UINTN *EdidSize) {
  UINT8 Bytes[DDC_BUFFER_SIZE];
  const UINTN Count = ReadDdcBlock(Private, Bytes);
  if (Count == 0) {
    return EFI_UNSUPPORTED;
  }
  const UINTN Header = FindHeader(Bytes, VANTOR_EDID_BLOCK_SIZE);
  if (Header == VANTOR_EDID_BLOCK_SIZE) {
    return EFI_UNSUPPORTED;
  }
  VOID *Copy = NULL;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, VANTOR_EDID_BLOCK_SIZE, &Copy))) {
    return EFI_OUT_OF_RESOURCES;
  }
  CopyMem(Copy, Bytes + Header, VANTOR_EDID_BLOCK_SIZE);
  *Edid = static_cast<UINT8 *>(Copy);
  *EdidSize = VANTOR_EDID_BLOCK_SIZE;
  return EFI_SUCCESS;
}

// ---- Mode list ---------------------------------------------------------------------------------

namespace {

constexpr UINT8 CRD0_WIDE_SCREEN_ALLOWED = 0x01;
constexpr UINTN ALWAYS_ACCEPTED_ROW = 0; // 640 x 480, which every VESA display takes

// The platform's EDID for the child, when it supplies one to use as it is.
BOOLEAN OverrideEdid(VANTOR_PRIVATE_DATA *Private, UINT8 **Edid, UINTN *EdidSize) {
  EFI_EDID_OVERRIDE_PROTOCOL *Override = NULL;
  if (EFI_ERROR(
          gBS->LocateProtocol(&gEfiEdidOverrideProtocolGuid, NULL, reinterpret_cast<VOID **>(&Override)))) {
    return FALSE;
  }
  UINT32 Attributes = 0;
  UINTN Size = 0;
  UINT8 *Block = NULL;
  if (EFI_ERROR(Override->GetEdid(Override, &Private->Handle, &Attributes, &Size, &Block)) ||
      Attributes != 0 || Size == 0 || Block == NULL) {
    return FALSE;
  }
  *Edid = Block;
  *EdidSize = Size;
  return TRUE;
}

BOOLEAN CopyInto(const UINT8 *Edid, UINTN Size, UINT32 *CopySize, UINT8 **Copy) {
  VOID *Buffer = NULL;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, &Buffer))) {
    return FALSE;
  }
  CopyMem(Buffer, Edid, Size);
  *CopySize = static_cast<UINT32>(Size);
  *Copy = static_cast<UINT8 *>(Buffer);
  return TRUE;
}

VOID FreeCopy(UINT32 *Size, UINT8 **Copy) {
  if (*Copy != NULL) {
    gBS->FreePool(*Copy);
  }
  *Size = 0;
  *Copy = NULL;
}

EFI_STATUS BuildFailed(VANTOR_PRIVATE_DATA *Private, UINT8 *OverrideBlock) {
  if (OverrideBlock != NULL) {
    gBS->FreePool(OverrideBlock);
  }
  FreeCopy(&Private->EdidDiscovered.SizeOfEdid, &Private->EdidDiscovered.Edid);
  FreeCopy(&Private->EdidActive.SizeOfEdid, &Private->EdidActive.Edid);
  return EFI_DEVICE_ERROR;
}

VOID AppendMode(VANTOR_PRIVATE_DATA *Private, UINTN Row) {
  const VANTOR_VIDEO_MODE *Mode = &gVantorVideoModes[Row];
  Private->ModeList[Private->ModeCount++] = {static_cast<UINT32>(Row), Mode->Width, Mode->Height,
                                             Mode->BitsPerPixel, Mode->RefreshRate};
}

// The bytes a mode's frame buffer may take: the frame-buffer size of the chip's strap, and no
// more than BAR 0 decodes (the strap alone when the BAR's length cannot be had).
UINT64 FrameBufferRoom(VANTOR_PRIVATE_DATA *Private) {
  UINT64 Room = VantorStrapFrameBufferSize(VantorSocRead(Private, Scu(SCU_STRAP)));
  EFI_PHYSICAL_ADDRESS Base = 0;
  UINT64 BarLength = 0;
  if (!EFI_ERROR(VantorFrameBufferBar(Private, &Base, &BarLength)) && BarLength < Room) {
    Room = BarLength;
  }
  return Room;
}

BOOLEAN FrameBufferFits(const VANTOR_VIDEO_MODE *Mode, UINT64 Room) {
  return static_cast<UINT64>(VantorPitch(Mode->Width)) * (Mode->BitsPerPixel / 8) * Mode->Height <= Room;
}

VOID ListModes(VANTOR_PRIVATE_DATA *Private, const VANTOR_DISPLAY_LIMITS *Limits) {
  Private->ModeCount = 0;
  const UINT64 Room = FrameBufferRoom(Private);
  for (UINTN Row = 0; Row < VANTOR_MODE_TABLE_ROWS; Row++) {
    const VANTOR_VIDEO_MODE *Mode = &gVantorVideoModes[Row];
    if (Mode->Width != 0 && Mode->Height != 0 && VantorModeFits(Limits, Mode) &&
        FrameBufferFits(Mode, Room)) {
      AppendMode(Private, Row);
    }
  }
  if (Private->ModeCount == 0) {
    AppendMode(Private, ALWAYS_ACCEPTED_ROW); // Graphics Output never goes without a mode
  }
}

} // namespace

EFI_STATUS VantorBuildModeList(VANTOR_PRIVATE_DATA *Private) {
  Private->EdidDiscovered = {0, NULL};
  Private->EdidActive = {0, NULL};

  UINT8 *OverrideBlock = NULL;
  UINT8 *Edid = NULL;
  UINTN EdidSize = 0;
  if (OverrideEdid(Private, &OverrideBlock, &EdidSize)) {
    Edid = OverrideBlock;
  } else {
    const EFI_STATUS Status = VantorReadEdid(Private, &Edid, &EdidSize);
    if (Status == EFI_OUT_OF_RESOURCES) {
      return BuildFailed(Private, NULL);
    }
    if (!EFI_ERROR(Status)) {
      Private->EdidDiscovered = {static_cast<UINT32>(EdidSize), Edid};
    } else {
      Edid = NULL;
      EdidSize = 0;
    }
  }

  // An override shorter than a block is not parsed: parsing reads 128 bytes.
  VANTOR_DISPLAY_LIMITS Limits;
  const UINT8 *Parsed = EdidSize >= VANTOR_EDID_BLOCK_SIZE ? Edid : NULL;
  if (VantorParseEdid(Parsed, &Limits) == 1 &&
      !CopyInto(Edid, EdidSize, &Private->EdidActive.SizeOfEdid, &Private->EdidActive.Edid)) {
    return BuildFailed(Private, OverrideBlock);
  }

  if ((VantorCrtcRead(Private, CR_MEMORY_STATE) & (CRD0_BMC_MEMORY_SET_UP | CRD0_WIDE_SCREEN_ALLOWED)) ==
      CRD0_BMC_MEMORY_SET_UP) {
    Limits.WideScreen = 0;
  }
  ListModes(Private, &Limits);
  return EFI_SUCCESS;
}
