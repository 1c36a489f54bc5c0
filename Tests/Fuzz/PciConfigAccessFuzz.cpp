// libFuzzer target for the emulated configuration space (PciEmConfigAccess): a sequence of
// accesses of any width, address, count, direction and buffer content, on a setup variable
// that enables any of the optional controllers. After every access: the status is the one
// the arguments call for; an image changed only at its controller's BAR and only to the
// controller's fixed address, and only through a 32-bit write; nothing outside the caller's
// elements was written (guard bytes around an exactly sized buffer, and ASan); a write
// leaves the buffer as it was; a read of nothing present returns all ones.
#include <HostAbi.h>

#include "Bridgemimic.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t RECORD_SIZE = 8;
constexpr size_t GUARD = 16;
constexpr uint8_t GUARD_BYTE = 0xA5;
constexpr unsigned WIDTH_CODES = 16; // 12 of them valid
constexpr unsigned MAX_COUNT = 40;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

PCIEM_IMAGE gPowerOn[PCIEM_DEVICE_COUNT];
bool gSaved = false;

// Every image equals its power-on content but for its BAR, which holds its initial value or
// its controller's fixed address.
void CheckImages() {
  for (size_t Index = 0; Index < PCIEM_DEVICE_COUNT; Index++) {
    const PCIEM_DEVICE &Device = PciEmDevices[Index];
    const UINT8 *Now = PciEmConfigImage[Index].Bytes;
    const UINT8 *Then = gPowerOn[Index].Bytes;
    UINT32 Bar = 0;
    std::memcpy(&Bar, Now + Device.BarOffset, sizeof(Bar));
    Check(Bar == Device.InitialBar || Bar == Device.FixedAddress);
    for (size_t Offset = 0; Offset < PCIEM_IMAGE_SIZE; Offset++) {
      if (Offset < Device.BarOffset || Offset >= Device.BarOffset + sizeof(UINT32)) {
        Check(Now[Offset] == Then[Offset]);
      }
    }
  }
}

UINT64 AddressFrom(const uint8_t *Record) {
  // Mostly the emulated bus and function 0, sometimes anything.
  const UINT8 Bus = (Record[3] & 0x80) != 0 ? Record[3] : 0xFF;
  const UINT8 Function = (Record[3] & 0x40) != 0 ? (Record[3] & 7) : 0;
  const UINT8 Device = Record[4] & 0x1F;
  const UINT8 Register = Record[5];
  const UINT32 Extended = (Record[3] & 0x20) != 0 ? Record[6] : 0;
  return EFI_PCI_ADDRESS(Bus, Device, Function, Register) | (static_cast<UINT64>(Extended) << 32);
}

} // namespace

extern "C" [[noreturn]] VOID HostAbiHalt(const CHAR8 *Reason) {
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (!gSaved) {
    std::memcpy(gPowerOn, PciEmConfigImage, sizeof(gPowerOn));
    gSaved = true;
  }
  std::memcpy(PciEmConfigImage, gPowerOn, sizeof(gPowerOn));
  std::memset(PciEmSetupData, 0, sizeof(PciEmSetupData));
  if (Size < 1) {
    return 0;
  }
  PciEmSetupData[8] = Data[0] & 1;
  PciEmSetupData[9] = Data[0] & 2;
  Data++;
  Size--;

  for (; Size >= RECORD_SIZE; Data += RECORD_SIZE, Size -= RECORD_SIZE) {
    const auto Width = static_cast<EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH>(Data[0] % WIDTH_CODES);
    const BOOLEAN Write = (Data[1] & 1) != 0 ? TRUE : FALSE;
    const bool NullBuffer = (Data[1] & 2) != 0;
    const UINTN Count = Data[2] % MAX_COUNT;
    const UINT64 Address = AddressFrom(Data);
    // The caller's elements: Count of the width's size, filled from the record's last byte.
    const size_t Bytes = (static_cast<size_t>(1) << (Width & 3)) * Count;
    std::vector<uint8_t> Buffer(GUARD + Bytes + GUARD, GUARD_BYTE);
    for (size_t Byte = 0; Byte < Bytes; Byte++) {
      Buffer[GUARD + Byte] = static_cast<uint8_t>(Data[7] + Byte * 0x3B);
    }
    const std::vector<uint8_t> Before = Buffer;
    PCIEM_IMAGE ImagesBefore[PCIEM_DEVICE_COUNT];
    std::memcpy(ImagesBefore, PciEmConfigImage, sizeof(ImagesBefore));
    UINT8 *Elements = NullBuffer ? nullptr : Buffer.data() + GUARD;

    const EFI_STATUS Status = PciEmConfigAccess(nullptr, Width, Address, Count, Elements, Write);

    const bool BadWidth = Width >= EfiPciWidthMaximum;
    const bool BadBuffer = NullBuffer && Count != 0;
    Check(Status == (BadWidth || BadBuffer ? EFI_INVALID_PARAMETER : EFI_SUCCESS));
    Check(std::memcmp(Buffer.data(), Before.data(), GUARD) == 0);
    Check(std::memcmp(Buffer.data() + GUARD + Bytes, Before.data() + GUARD + Bytes, GUARD) == 0);
    if (Write || EFI_ERROR(Status)) {
      Check(Buffer == Before);
    }
    CheckImages();
    if (std::memcmp(ImagesBefore, PciEmConfigImage, sizeof(ImagesBefore)) != 0) {
      Check(Write && Width == EfiPciWidthUint32 && Status == EFI_SUCCESS);
    }

    // Off the emulated bus everything reads as all ones; a fill-form read stores every element
    // into the first one (a 64-bit element being two 32-bit halves).
    const bool Fill = Width >= EfiPciWidthFillUint8;
    const size_t Stored = !Fill || Count == 0 ? Bytes : ((Width & 3) == 3 ? sizeof(UINT32) : Bytes / Count);
    if (!Write && !EFI_ERROR(Status) && Elements != nullptr && (Address >> 24 & 0xFF) != PCIEM_BUS) {
      for (size_t Byte = 0; Byte < Stored; Byte++) {
        Check(Elements[Byte] == 0xFF);
      }
    }
  }
  return 0;
}
