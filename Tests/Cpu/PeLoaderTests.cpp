// The loader on a real image of the uefi-aarch64 build: it loads and relocates, and copies broken
// in one field each are refused before any page is asked for.
#include "ImageFiles.h"
#include "PeLoader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace cpu {
namespace {

template <typename T> T Get(const std::vector<uint8_t> &Bytes, size_t At) {
  T Value;
  std::memcpy(&Value, Bytes.data() + At, sizeof(T));
  return Value;
}
template <typename T> void Set(std::vector<uint8_t> &Bytes, size_t At, T Value) {
  std::memcpy(Bytes.data() + At, &Value, sizeof(T));
}

// Where the fields the rows break are in the file.
struct Offsets {
  size_t Pe, Optional, Sections, RelocationFile;
  explicit Offsets(const std::vector<uint8_t> &Image) {
    Pe = Get<uint32_t>(Image, 0x3C);
    Optional = Pe + 24;
    Sections = Optional + Get<uint16_t>(Image, Pe + 20);
    const uint32_t RelocationRva = Get<uint32_t>(Image, Optional + 112 + 5 * 8);
    RelocationFile = 0;
    for (size_t Section = Sections; Section < Sections + 40 * Get<uint16_t>(Image, Pe + 6); Section += 40) {
      const uint32_t Rva = Get<uint32_t>(Image, Section + 12);
      if (RelocationRva >= Rva && RelocationRva - Rva < Get<uint32_t>(Image, Section + 16)) {
        RelocationFile = Get<uint32_t>(Image, Section + 20) + (RelocationRva - Rva);
      }
    }
  }
};

class PeLoader : public testing::Test {
protected:
  void SetUp() override {
    File = ImageFile("Vaultcell.efi"); // it has base relocations
    if (File.empty()) {
      GTEST_SKIP() << "Vaultcell.efi not built (Tools/scripts/build uefi-aarch64)";
    }
  }
  // Loads at Base into a host buffer of its own.
  std::optional<LoadedImage> Load(const std::vector<uint8_t> &Image, uint64_t Base,
                                  std::vector<uint8_t> &Host, std::string &Error) {
    return LoadPeImage(
        Image, MostBytes,
        [&](uint64_t Pages, uint16_t) {
          Allocations++;
          Host.assign(Pages * 4096, 0xCC);
          return std::optional<GuestPages>({Base, Host.data()});
        },
        Error);
  }
  static constexpr uint64_t MostBytes = 32u << 20; // the processor's memory
  std::vector<uint8_t> File;
  int Allocations = 0;
};

TEST_F(PeLoader, LoadsSectionsAndRelocatesEveryAddressWord) {
  const uint64_t Linked = Get<uint64_t>(File, Offsets(File).Optional + 24), Moved = 0x60123000;
  std::vector<uint8_t> AtLinked, AtMoved;
  std::string Error;
  const std::optional<LoadedImage> A = Load(File, Linked, AtLinked, Error),
                                   B = Load(File, Moved, AtMoved, Error);
  ASSERT_TRUE(A && B) << Error;
  EXPECT_EQ(B->Entry - Moved, A->Entry - Linked);
  size_t Relocated = 0;
  for (size_t At = 0; At + 8 <= AtLinked.size(); At += 8) {
    const uint64_t Before = Get<uint64_t>(AtLinked, At), After = Get<uint64_t>(AtMoved, At);
    if (Before != After) {
      EXPECT_EQ(After - Before, Moved - Linked) << "word at " << At;
      Relocated++;
    }
  }
  EXPECT_GT(Relocated, 0u);
  for (const LoadedSection &Section : B->Sections) {
    EXPECT_EQ(Section.Name == ".text", Section.Executable) << Section.Name;
    EXPECT_EQ(Section.Name == ".data", Section.Writable) << Section.Name;
  }
}

TEST_F(PeLoader, RefusesBrokenImagesBeforeAskingForPages) {
  const Offsets At(File);
  const struct {
    const char *Expected;
    std::function<void(std::vector<uint8_t> &)> Break;
  } Rows[] = {
      {"not a PE32+ image for AArch64 (machine 0x8664)",
       [&](auto &I) { Set<uint16_t>(I, At.Pe + 4, 0x8664); }},
      {"not a PE32+ image for AArch64 (optional header magic 0x10B)",
       [&](auto &I) { Set<uint16_t>(I, At.Optional, 0x10B); }},
      {"not a PE image: no PE header", [&](auto &I) { Set<uint32_t>(I, 0x3C, 0xFFFFFF00); }},
      {"truncated file: the headers are cut short", [&](auto &I) { I.resize(At.Sections + 20); }},
      {"truncated file: section .text is cut short",
       [&](auto &I) { I.resize(Get<uint32_t>(I, At.Optional + 60) + 8); }},
      {"section .text lies outside the image",
       [&](auto &I) { Set<uint32_t>(I, At.Sections + 12, 0x7FFFF000); }},
      {"section .text does not start on a page",
       [&](auto &I) { Set<uint32_t>(I, At.Sections + 12, Get<uint32_t>(I, At.Sections + 12) + 0x200); }},
      {"truncated file: the data directories are cut short",
       [&](auto &I) { Set<uint32_t>(I, At.Optional + 108, 64); }},
      {"is not in an executable section", [&](auto &I) { Set<uint32_t>(I, At.Optional + 16, 0); }},
      {"unknown relocation type 3 at RVA", [&](auto &I) { Set<uint16_t>(I, At.RelocationFile + 8, 0x3000); }},
      {"lies outside the image", [&](auto &I) { Set<uint32_t>(I, At.RelocationFile, 0x7FFFF000); }},
      {"is malformed", [&](auto &I) { Set<uint32_t>(I, At.RelocationFile + 4, 3); }},
      // Refused before it is laid out in host memory (it used to take 4 GiB and seconds first).
      {"the image needs 1048575 pages, more than the 8192 of the memory images load into",
       [&](auto &I) { Set<uint32_t>(I, At.Optional + 56, 0xFFFFF000); }},
  };
  ASSERT_NE(At.RelocationFile, 0u);
  for (const auto &Row : Rows) {
    std::vector<uint8_t> Broken = File, Host;
    Row.Break(Broken);
    std::string Error;
    EXPECT_FALSE(Load(Broken, 0x60000000, Host, Error)) << Row.Expected;
    EXPECT_NE(Error.find(Row.Expected), std::string::npos) << Error;
  }
  EXPECT_EQ(Allocations, 0);
}

} // namespace
} // namespace cpu
