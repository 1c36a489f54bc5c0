// Vidframe's Graphics Output over arbitrary SetMode and Blt calls: operation, rectangles,
// coordinates (small, near the screen's edges, or near the top of the address range) and
// Delta. The harness is the chip: a PCI I/O whose BAR 0 is exactly the visible frame buffer of
// the mode in force, and a 2D engine that copies inside it; any access outside that frame
// buffer, a copy that leaves it, or an access at a TPL below TPL_NOTIFY stops the run. The
// caller's buffer is allocated at exactly the size the call addresses, so AddressSanitizer
// stops any access beyond it. Every call must also give the status the rectangles call for.
#include <IndustryStandard/Acpi.h>
#include <Library/UefiBootServicesTableLib.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VantorGraphics.h"

namespace {

// Mode list entries: mode-table row, width, height (1366 has a pitch of 1368 pixels).
constexpr VANTOR_MODE_ENTRY MODES[] = {{0, 640, 480, 32, 60}, {5, 1366, 768, 32, 60}, {1, 800, 600, 32, 60}};

struct Chip {
  std::vector<uint8_t> FrameBuffer; // the visible frame buffer of the mode in force
  uint32_t Engine[0x14] = {};       // 0x8000..0x804C
  EFI_TPL Tpl = TPL_APPLICATION;
} gChip;

void Check(bool Condition) {
  if (!Condition) {
    __builtin_trap();
  }
}

// ---- The chip's side of the driver's register operations -----------------------------------

void EngineCopy() {
  auto Reg = [](UINT32 Offset) { return gChip.Engine[(Offset - 0x8000) / 4]; };
  const uint32_t Command = Reg(0x803C), Width = Reg(0x8018) >> 16, Height = Reg(0x8018) & 0xFFFF;
  const int64_t StepX = (Command & 0x200000) ? -1 : 1, StepY = (Command & 0x100000) ? -1 : 1;
  const uint64_t SourcePitch = Reg(0x8004) >> 16, DestinationPitch = Reg(0x800C) >> 16;
  const int64_t Sx = Reg(0x8014) >> 16, Sy = Reg(0x8014) & 0xFFFF, Dx = Reg(0x8010) >> 16,
                Dy = Reg(0x8010) & 0xFFFF;
  auto Corner = [&](int64_t X, int64_t Y, uint64_t Pitch, int64_t Column, int64_t Row) {
    const int64_t Cx = X + StepX * Column, Cy = Y + StepY * Row;
    Check(Cx >= 0 && Cy >= 0 && uint64_t(Cx) * 4 < Pitch);
    const uint64_t Offset = uint64_t(Cy) * Pitch + uint64_t(Cx) * 4;
    Check(Offset + 4 <= gChip.FrameBuffer.size());
    return Offset;
  };
  for (int64_t Row = 0; Row < Height; Row++) {
    for (int64_t Column = 0; Column < Width; Column++) {
      std::memmove(&gChip.FrameBuffer[Corner(Dx, Dy, DestinationPitch, Column, Row)],
                   &gChip.FrameBuffer[Corner(Sx, Sy, SourcePitch, Column, Row)], 4);
    }
  }
}

void EngineWrite(UINT32 Offset, UINT32 Value);
UINT32 EngineRead(UINT32 Offset);

EFI_STATUS EFIAPI MemAccess(bool Write, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 Bar, UINT64 Offset,
                            UINTN Count, VOID *Buffer) {
  if (Bar == VANTOR_REGISTER_BAR) { // the 2D engine's registers, one 32-bit access at a time
    Check(Width == EfiPciIoWidthUint32 && Count == 1 && Offset <= 0xFFFFFFFF);
    auto *Value = static_cast<UINT32 *>(Buffer);
    Write ? EngineWrite(static_cast<UINT32>(Offset), *Value)
          : void(*Value = EngineRead(static_cast<UINT32>(Offset)));
    return EFI_SUCCESS;
  }
  Check(Bar == VANTOR_FRAME_BUFFER_BAR && gChip.Tpl == TPL_NOTIFY);
  const UINTN Bytes = 1u << (Width & 3);
  const bool Fill = Width >= EfiPciIoWidthFillUint8;
  Check(Count <= gChip.FrameBuffer.size() / Bytes && Offset <= gChip.FrameBuffer.size() - Count * Bytes);
  auto *Data = static_cast<uint8_t *>(Buffer);
  for (UINTN Index = 0; Index < Count; Index++) {
    uint8_t *At = &gChip.FrameBuffer[Offset + Index * Bytes];
    const uint8_t *Element = Data + (Fill ? 0 : Index * Bytes);
    Write ? std::memcpy(At, Element, Bytes) : std::memcpy(Data + Index * Bytes, At, Bytes);
  }
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset,
                          UINTN Count, VOID *Buffer) {
  return MemAccess(false, W, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL *, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset,
                           UINTN Count, VOID *Buffer) {
  return MemAccess(true, W, Bar, Offset, Count, Buffer);
}
EFI_STATUS EFIAPI GetBarAttributes(EFI_PCI_IO_PROTOCOL *, UINT8 Bar, UINT64 *, VOID **Resources) {
  auto *Descriptor = static_cast<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR *>(
      std::calloc(1, sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) + sizeof(EFI_ACPI_END_TAG_DESCRIPTOR)));
  Descriptor->Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  Descriptor->Len = EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR_LENGTH;
  Descriptor->AddrRangeMin = 0x58000000;
  *Resources = Descriptor;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  *Buffer = std::malloc(Size);
  return *Buffer != nullptr ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}
EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  std::free(Buffer);
  return EFI_SUCCESS;
}
EFI_TPL EFIAPI RaiseTPL(EFI_TPL Tpl) {
  Check(Tpl >= gChip.Tpl);
  const EFI_TPL Old = gChip.Tpl;
  gChip.Tpl = Tpl;
  return Old;
}
VOID EFIAPI RestoreTPL(EFI_TPL Tpl) {
  gChip.Tpl = Tpl;
}

void EngineWrite(UINT32 Offset, UINT32 Value) {
  Check(Offset >= 0x8000 && Offset < 0x804C && Offset % 4 == 0 && gChip.Tpl == TPL_NOTIFY);
  gChip.Engine[(Offset - 0x8000) / 4] = Value;
  if (Offset == 0x803C) {
    EngineCopy();
  }
}
UINT32 EngineRead(UINT32 Offset) {
  Check(Offset == 0x804C);
  return 0; // idle
}

} // namespace

VOID VantorMmioWrite32(VANTOR_PRIVATE_DATA *, UINT32 Offset, UINT32 Value) {
  EngineWrite(Offset, Value);
}
UINT32 VantorMmioRead32(VANTOR_PRIVATE_DATA *, UINT32 Offset) {
  return EngineRead(Offset);
}
VOID VantorProgramMode(VANTOR_PRIVATE_DATA *Private, UINTN Row) {
  const VANTOR_MODE_ENTRY *Entry = nullptr;
  for (UINTN Index = 0; Index < Private->ModeCount; Index++) {
    Entry = Private->ModeList[Index].ModeTableIndex == Row ? &Private->ModeList[Index] : Entry;
  }
  Check(Entry != nullptr);
  gChip.FrameBuffer.assign(size_t(VantorPitch(Entry->HorizontalResolution)) * 4 * Entry->VerticalResolution,
                           0);
}
VOID VantorAssert(const CHAR8 *, UINTN, const CHAR8 *) {
  __builtin_trap();
}
VOID VantorDebugPrint(UINTN, const CHAR8 *, ...) {}

namespace {

struct Input {
  const uint8_t *Data;
  size_t Size;
  uint64_t Take(unsigned Bytes) {
    uint64_t Value = 0;
    for (unsigned Index = 0; Index < Bytes && Size > 0; Index++, Data++, Size--) {
      Value |= uint64_t(*Data) << (8 * Index);
    }
    return Value;
  }
  // A coordinate or size: small, near Limit, or near the top of the address range.
  UINTN Coordinate(UINTN Limit) {
    const uint64_t Kind = Take(1) % 4, Value = Take(2);
    switch (Kind) {
    case 0:
      return Value % 64;
    case 1:
      return Limit - Value % 8 + Value % 3;
    case 2:
      return ~UINTN(0) - Value % 16;
    default:
      return Value % (Limit + 1);
    }
  }
};

// The bytes the call addresses in the caller's buffer; false when that wraps.
bool BufferBytes(UINTN X, UINTN Y, UINTN W, UINTN H, UINTN Delta, unsigned __int128 *Bytes) {
  const unsigned __int128 LastRow = (unsigned __int128)Y + H - 1;
  if (LastRow > ~UINTN(0)) {
    return false; // the product below would not fit either
  }
  *Bytes = LastRow * Delta + ((unsigned __int128)X + W) * 4;
  return *Bytes <= ~UINTN(0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static EFI_BOOT_SERVICES BootServices;
  static EFI_PCI_IO_PROTOCOL PciIo;
  BootServices.AllocatePool = AllocatePool;
  BootServices.FreePool = FreePool;
  BootServices.RaiseTPL = RaiseTPL;
  BootServices.RestoreTPL = RestoreTPL;
  PciIo.Mem.Read = MemRead;
  PciIo.Mem.Write = MemWrite;
  PciIo.GetBarAttributes = GetBarAttributes;
  gBS = &BootServices;
  gChip = Chip{};

  Input In{Data, Size};
  VANTOR_PRIVATE_DATA Private = {};
  Private.Signature = VANTOR_PRIVATE_DATA_SIGNATURE;
  Private.PciIo = &PciIo;
  Private.ModeCount = In.Take(1) % 4;
  for (UINTN Index = 0; Index < Private.ModeCount; Index++) {
    Private.ModeList[Index] = MODES[Index];
  }
  Check(VantorGraphicsOutputConstructor(&Private) == EFI_SUCCESS);
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Gop = &Private.GraphicsOutput;

  for (int Call = 0; Call < 8 && In.Size > 0; Call++) {
    const uint64_t Operation = In.Take(1);
    if (Operation % 8 == 7) {
      const UINT32 Mode = static_cast<UINT32>(In.Take(1) % 4);
      Check(Gop->SetMode(Gop, Mode) == (Mode < Private.ModeCount ? EFI_SUCCESS : EFI_UNSUPPORTED));
      continue;
    }
    const bool HaveMode = Gop->Mode->Mode < Private.ModeCount;
    const UINT32 H = HaveMode ? Private.ModeList[Gop->Mode->Mode].HorizontalResolution : 640;
    const UINT32 V = HaveMode ? Private.ModeList[Gop->Mode->Mode].VerticalResolution : 480;
    const auto Op = static_cast<EFI_GRAPHICS_OUTPUT_BLT_OPERATION>(Operation % 5);
    const UINTN Sx = In.Coordinate(H), Sy = In.Coordinate(V), Dx = In.Coordinate(H), Dy = In.Coordinate(V);
    const UINTN W = In.Coordinate(H), Ht = In.Coordinate(V);
    const UINTN Delta = In.Take(1) % 2 ? 0 : In.Coordinate(4 * H + 16);

    // The status the rectangles call for.
    auto Inside = [](UINTN Start, UINTN Length, UINTN Limit) {
      return (unsigned __int128)Start + Length <= Limit;
    };
    const bool SourceOnScreen = Op == EfiBltVideoToBltBuffer || Op == EfiBltVideoToVideo;
    const bool Valid = Op <= EfiBltVideoToVideo && W != 0 && Ht != 0;
    const bool Fits = (!SourceOnScreen || (Inside(Sx, W, H) && Inside(Sy, Ht, V))) &&
                      (Op == EfiBltVideoToBltBuffer || (Inside(Dx, W, H) && Inside(Dy, Ht, V)));
    const UINTN BufferX = Op == EfiBltVideoToBltBuffer ? Dx : Sx,
                BufferY = Op == EfiBltVideoToBltBuffer ? Dy : Sy;
    const bool BufferSide = Op == EfiBltVideoToBltBuffer || Op == EfiBltBufferToVideo;
    unsigned __int128 Bytes = 4;
    bool Addressable = true;
    if (Valid && Fits && BufferSide) {
      Addressable = BufferBytes(BufferX, BufferY, W, Ht, Delta == 0 ? W * 4 : Delta, &Bytes);
    } else if (Op == EfiBltVideoFill) {
      Bytes = 4;
    }
    if (Addressable && Bytes > (4u << 20)) {
      continue; // a buffer that large cannot be given here
    }
    std::vector<uint8_t> Buffer(Addressable ? static_cast<size_t>(Bytes) : 4, 0x5A);
    EFI_STATUS Expected = EFI_INVALID_PARAMETER;
    if (Valid && !HaveMode) {
      Expected = EFI_DEVICE_ERROR;
    } else if (Valid && Fits && Addressable) {
      Expected = EFI_SUCCESS;
    }
    const EFI_STATUS Status = Gop->Blt(Gop, reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(Buffer.data()),
                                       Op, Sx, Sy, Dx, Dy, W, Ht, Delta);
    Check(Status == Expected && gChip.Tpl == TPL_APPLICATION);
  }
  VantorGraphicsOutputDestructor(&Private);
  return 0;
}
