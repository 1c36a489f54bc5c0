// libFuzzer target for the EDID limits (VantorParseEdid, VantorModeFits): any 128-byte block,
// as given and with its header and checksum made good (so that the descriptors are reached),
// followed by mode rows of any size, refresh and flags. Checks: no undefined behaviour (the
// sanitizers); a block that is not used leaves exactly the defaults; the flags are 0 or 1 and
// reduced blanking comes only with wide-screen; the limits cover every detailed timing with
// both totals; a row fits exactly when it is within the limits and its flags allow it.
#include "VantorGraphics.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t BLOCK = VANTOR_EDID_BLOCK_SIZE;
constexpr size_t ROW_BYTES = 7; // width, height, refresh, flags
constexpr VANTOR_DISPLAY_LIMITS DEFAULTS = {1024, 768, 65, 50, 60, 0, 0};

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

bool Fits(const VANTOR_DISPLAY_LIMITS &L, const VANTOR_VIDEO_MODE &Row) {
  return Row.Width <= L.MaxWidth && Row.Height <= L.MaxHeight && Row.RefreshRate <= L.MaxVerticalHz &&
         (!(Row.ModeFlags & VANTOR_MODE_WIDE) || L.WideScreen == 1) &&
         (!(Row.ModeFlags & VANTOR_MODE_REDUCED_BLANKING) || L.ReducedBlanking == 1) &&
         (!(Row.ModeFlags & VANTOR_MODE_NORMAL_BLANKING_TWIN) || L.ReducedBlanking != 1);
}

void CheckTimingsCovered(const uint8_t *Block, const VANTOR_DISPLAY_LIMITS &L) {
  for (size_t Offset = 54; Offset < 126; Offset += 18) {
    const uint8_t *D = Block + Offset;
    const unsigned A = D[2] | ((D[4] >> 4) << 8), B = D[3] | ((D[4] & 15) << 8);
    const unsigned V = D[5] | ((D[7] >> 4) << 8), Vb = D[6] | ((D[7] & 15) << 8);
    if ((D[0] | D[1]) != 0 && A + B != 0 && V + Vb != 0) {
      Check(L.MaxWidth >= A && L.MaxHeight >= V);
    }
  }
}

void CheckBlock(const uint8_t *Block, const uint8_t *Rows, size_t RowCount) {
  VANTOR_DISPLAY_LIMITS L;
  std::memset(&L, 0xEE, sizeof(L));
  const UINTN Used = VantorParseEdid(Block, &L);
  Check(Used == 0 || Used == 1);
  if (Used == 0) {
    Check(std::memcmp(&L, &DEFAULTS, sizeof(L)) == 0);
  } else {
    CheckTimingsCovered(Block, L);
  }
  Check(L.WideScreen <= 1 && L.ReducedBlanking <= 1 && L.ReducedBlanking <= L.WideScreen);
  for (size_t Index = 0; Index < RowCount; Index++) {
    const uint8_t *R = Rows + Index * ROW_BYTES;
    VANTOR_VIDEO_MODE Row = {};
    Row.Width = static_cast<UINT16>(R[0] | (R[1] << 8));
    Row.Height = static_cast<UINT16>(R[2] | (R[3] << 8));
    Row.BitsPerPixel = 32;
    Row.RefreshRate = R[4] | (R[5] << 8);
    Row.ModeFlags = R[6];
    Check(VantorModeFits(&L, &Row) == (Fits(L, Row) ? 1u : 0u));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  uint8_t Block[BLOCK] = {};
  std::memcpy(Block, Data, Size < BLOCK ? Size : BLOCK);
  const uint8_t *Rows = Size > BLOCK ? Data + BLOCK : nullptr;
  const size_t RowCount = Size > BLOCK ? (Size - BLOCK) / ROW_BYTES : 0;
  CheckBlock(Block, Rows, RowCount);

  std::memcpy(Block, VANTOR_EDID_HEADER, sizeof(VANTOR_EDID_HEADER));
  uint8_t Sum = 0;
  for (size_t Index = 0; Index + 1 < BLOCK; Index++) {
    Sum = static_cast<uint8_t>(Sum + Block[Index]);
  }
  Block[BLOCK - 1] = static_cast<uint8_t>(-Sum);
  CheckBlock(Block, Rows, RowCount);
  return 0;
}
