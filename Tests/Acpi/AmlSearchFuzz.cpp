// libFuzzer target for the AML object search: arbitrary bytes searched for an arbitrary name
// and kind, then searched again inside each found object the way the MAC publication walks
// the DSDT. The buffer has exactly the input's size, so any read outside it is reported.
#include <Library/EfiLib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t HEADER_BYTES = 5; // kind, then a four-character name
constexpr unsigned MAX_WALK = 64;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

void CheckInfo(const AML_OBJECT_INFO &Info, const UINT8 *Start, const UINT8 *End) {
  Check(Info.Object >= Start && Info.Object < Info.Name);
  Check(Info.Name + 4 <= End || (Info.Name + 5 <= End && (*Info.Name == '\\' || *Info.Name == '^')));
  Check(Info.DataStart > Info.Name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < HEADER_BYTES) {
    return 0;
  }
  UINT32 Kind = Data[0] % 11;
  CHAR8 Name[5] = {};
  std::memcpy(Name, Data + 1, 4);
  std::vector<UINT8> Aml(Data + HEADER_BYTES, Data + Size);
  UINT8 *Start = Aml.data();
  UINT8 *End = Aml.data() + Aml.size();

  UINT8 Lead[4] = {};
  std::memcpy(Lead, Data, Size < sizeof(Lead) ? Size : sizeof(Lead));
  UINT8 Following = 0;
  Check(DecodePkgLength(Lead, &Following) <= 0x0FFFFFFF && Following <= 3);

  UINT8 *Cursor = Start;
  for (unsigned Step = 0; Step < MAX_WALK && Cursor < End; Step++) {
    AML_OBJECT_INFO Info;
    if (FindAmlObject(Cursor, AmlClampLength(Cursor, End - Cursor, End), Name, Kind, &Info) != EFI_SUCCESS) {
      break;
    }
    CheckInfo(Info, Cursor, End);
    Check(Info.Type == Kind);
    AML_OBJECT_INFO Inner;
    UINTN Inside = AmlClampLength(Info.DataStart, Info.Length, End);
    if (FindAmlObject(Info.DataStart, Inside, "_HID", 3, &Inner) == EFI_SUCCESS) {
      CheckInfo(Inner, Info.DataStart, Info.DataStart + Inside);
    }
    Cursor = Info.DataStart;
  }
  return 0;
}
