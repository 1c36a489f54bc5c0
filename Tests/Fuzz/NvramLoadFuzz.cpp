// libFuzzer target for the NVRAM file loader of the host variable store: arbitrary bytes
// loaded as a file image. The last input byte picks small store limits (bit 0) and whether the
// header's payload size and CRC are made to match the payload (bit 1), so that mutated records
// reach the record parser instead of stopping at the checksum. A load either fails and leaves no non-volatile
// variable, or every variable it keeps is a storable one within the limits, and saving them gives back a file
// that loads to the same variables.
#include "HostText.h"
#include "VariableStore.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

bool SameVariables(const std::vector<host::VariableStore::Variable> &A,
                   const std::vector<host::VariableStore::Variable> &B) {
  if (A.size() != B.size()) {
    return false;
  }
  for (size_t Index = 0; Index < A.size(); Index++) {
    if (A[Index].Name != B[Index].Name || !CompareGuidValues(A[Index].Guid, B[Index].Guid) ||
        A[Index].Attributes != B[Index].Attributes || A[Index].Data != B[Index].Data) {
      return false;
    }
  }
  return true;
}

constexpr size_t HEADER_SIZE = 32;
constexpr size_t PAYLOAD_SIZE_OFFSET = 20;
constexpr size_t PAYLOAD_CRC_OFFSET = 24;

void RemoveScratchFile();

const std::filesystem::path &ScratchFile() {
  static const std::filesystem::path File = [] {
    std::atexit(RemoveScratchFile);
    return std::filesystem::temp_directory_path() / ("nvram-fuzz-" + std::to_string(getpid()) + ".bin");
  }();
  return File;
}

void RemoveScratchFile() {
  std::error_code Code;
  std::filesystem::remove(ScratchFile(), Code);
}

void PutU32(uint8_t *Out, uint32_t Value) {
  for (int Byte = 0; Byte < 4; Byte++) {
    Out[Byte] = static_cast<uint8_t>(Value >> (8 * Byte));
  }
}

void MatchHeaderToPayload(std::vector<uint8_t> &Image) {
  if (Image.size() < HEADER_SIZE) {
    return;
  }
  const size_t PayloadSize = Image.size() - HEADER_SIZE;
  PutU32(Image.data() + PAYLOAD_SIZE_OFFSET, static_cast<uint32_t>(PayloadSize));
  PutU32(Image.data() + PAYLOAD_CRC_OFFSET, host::Crc32(Image.data() + HEADER_SIZE, PayloadSize));
}

// Small limits so that the size checks are reached by small inputs too.
host::VariableStore::Limits FuzzLimits(const uint8_t *Data, size_t Size) {
  host::VariableStore::Limits Limits;
  if (Size > 0 && (Data[Size - 1] & 1) != 0) {
    Limits.MaxVariableSize = 64;
    Limits.NonVolatileSize = 256;
  }
  return Limits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // The exact size of the input, so that any read past the image is reported.
  std::vector<uint8_t> Image(Data, Data + Size);
  if (Size > 0 && (Data[Size - 1] & 2) != 0) {
    MatchHeaderToPayload(Image);
  }
  host::VariableStore Store(FuzzLimits(Data, Size));
  Check(Store.Set("Volatile", EFI_GUID{1, 2, 3, {4}}, EFI_VARIABLE_BOOTSERVICE_ACCESS, {1}) == EFI_SUCCESS);

  std::string Error;
  const bool Loaded = Store.LoadFromBytes(std::span<const uint8_t>(Image.data(), Image.size()), &Error);
  const auto Variables = Store.List();
  Check(Loaded == Error.empty());
  // The volatile variable survives a load, good or bad.
  Check(Store.Find("Volatile", EFI_GUID{1, 2, 3, {4}}).has_value());
  if (!Loaded) {
    Check(Variables.size() == 1);
    return 0;
  }
  Check(Store.UsedBytes(true) <= Store.StoreLimits().NonVolatileSize);
  for (const auto &Entry : Variables) {
    Check(!Entry.Name.empty());
    Check((Entry.Name.size() + 1) * 2 + Entry.Data.size() <= Store.StoreLimits().MaxVariableSize);
    Check((Entry.Attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) != 0);
  }

  // What was accepted saves and loads again to the same variables.
  Check(Store.Save(ScratchFile()));
  std::ifstream In(ScratchFile(), std::ios::binary);
  const std::vector<uint8_t> Saved((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  host::VariableStore Again(Store.StoreLimits());
  Check(Again.LoadFromBytes(Saved));
  std::vector<host::VariableStore::Variable> NonVolatile;
  for (const auto &Entry : Variables) {
    if ((Entry.Attributes & EFI_VARIABLE_NON_VOLATILE) != 0) {
      NonVolatile.push_back(Entry);
    }
  }
  Check(SameVariables(Again.List(), NonVolatile));
  return 0;
}
