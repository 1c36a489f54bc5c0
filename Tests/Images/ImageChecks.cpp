// Checks every built .efi: AArch64 PE32+, EFI subsystem of its kind, no imports, entry point
// in .text, loadable at any base, no use of the platform register, built for strict alignment,
// within the flash budget. The images come from UEFI_IMAGE_DIR (environment first, then the
// build's setting).
#include "ImageBudget.h"
#include "ImageRules.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace images {
namespace {

namespace fs = std::filesystem;

fs::path ImageDir() {
  const char *FromEnvironment = std::getenv("UEFI_IMAGE_DIR");
  return fs::path(FromEnvironment != nullptr && *FromEnvironment != '\0' ? FromEnvironment
                                                                         : UEFI_IMAGE_DIR_DEFAULT);
}

// "Name:Application,Name:Drivers" -> name to subsystem.
std::map<std::string, uint16_t> ExpectedImages() {
  std::map<std::string, uint16_t> Expected;
  std::stringstream List(EXPECTED_IMAGES);
  std::string Item;
  while (std::getline(List, Item, ',')) {
    size_t Colon = Item.find(':');
    if (Colon == std::string::npos) {
      continue;
    }
    Expected[Item.substr(0, Colon)] = Item.substr(Colon + 1) == "Application"
                                          ? IMAGE_SUBSYSTEM_EFI_APPLICATION
                                          : IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER;
  }
  return Expected;
}

std::string Join(const std::vector<std::string> &Lines) {
  std::string Text;
  for (const std::string &Line : Lines) {
    Text += "  " + Line + "\n";
  }
  return Text;
}

// The instructions in Path's code that name the platform register (x18, w18), from the
// disassembler. The images must not use it: the Windows target they are compiled for reserves
// it, firmware built for the procedure-call standard may use it as a scratch register, so an
// image that read it could depend on a value the firmware does not keep, and one that wrote it
// could break firmware that does.
std::vector<std::string> PlatformRegisterUses(const fs::path &Path) {
  std::string Command = std::string(LLVM_OBJDUMP) + " -d --no-show-raw-insn '" + Path.string() + "' 2>&1";
  FILE *Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) {
    return {"cannot run " + Command};
  }
  std::string Output;
  char Chunk[4096];
  for (size_t Read; (Read = fread(Chunk, 1, sizeof(Chunk), Pipe)) > 0;) {
    Output.append(Chunk, Read);
  }
  int Status = pclose(Pipe);
  if (Status != 0) {
    return {Command + " failed: " + Output.substr(0, 500)};
  }
  // Instruction lines are "<address>:<tab><mnemonic><tab><operands>".
  const std::regex PlatformRegister("\\b[xw]18\\b");
  std::vector<std::string> Uses;
  size_t Instructions = 0;
  std::stringstream Lines(Output);
  for (std::string Line; std::getline(Lines, Line);) {
    size_t Tab = Line.find('\t');
    if (Tab == std::string::npos || Line.find(':') > Tab) {
      continue;
    }
    Instructions++;
    if (std::regex_search(Line.substr(Tab), PlatformRegister)) {
      Uses.push_back(Line);
    }
  }
  if (Instructions == 0) {
    Uses.push_back("no instructions disassembled");
  }
  return Uses;
}

// The sizes over the flash budget: each image with a cap of its own, and the modules together.
std::vector<std::string> BudgetProblems(const std::map<std::string, uint64_t> &ModuleBytes) {
  std::vector<std::string> Problems;
  for (const ImageCap &Cap : kImageCaps) {
    auto Found = ModuleBytes.find(std::string(Cap.Name));
    if (Found == ModuleBytes.end()) {
      Problems.push_back(std::string(Cap.Name) + ".efi is missing");
    } else if (Found->second > Cap.Bytes) {
      Problems.push_back(std::string(Cap.Name) + ".efi has " + std::to_string(Found->second) +
                         " bytes, its cap is " + std::to_string(Cap.Bytes));
    }
  }
  uint64_t Total = 0;
  for (const auto &[Name, Bytes] : ModuleBytes) {
    Total += Bytes;
  }
  if (Total > kModulesCapBytes) {
    Problems.push_back("the modules have " + std::to_string(Total) + " bytes together, the cap is " +
                       std::to_string(kModulesCapBytes));
  }
  return Problems;
}

class ImageChecks : public ::testing::Test {
protected:
  void SetUp() override {
    Dir_ = ImageDir();
    if (!fs::is_directory(Dir_)) {
      GTEST_SKIP() << "no image directory " << Dir_
                   << ": build the uefi-aarch64 preset first (or set UEFI_IMAGE_DIR)";
    }
    for (const fs::directory_entry &Entry : fs::directory_iterator(Dir_)) {
      if (Entry.path().extension() == ".efi") {
        Paths_.push_back(Entry.path());
      }
    }
    std::sort(Paths_.begin(), Paths_.end());
    ASSERT_FALSE(Paths_.empty()) << "no .efi in " << Dir_;
  }

  // Every image, parsed; a parse failure fails the test.
  std::vector<std::pair<std::string, PeImage>> Images() {
    std::vector<std::pair<std::string, PeImage>> Parsed;
    for (const fs::path &Path : Paths_) {
      std::string Error;
      std::optional<PeImage> Image = ReadPeImage(Path, Error);
      EXPECT_TRUE(Image.has_value()) << Path << ": " << Error;
      if (Image) {
        Parsed.emplace_back(Path.stem().string(), std::move(*Image));
      }
    }
    return Parsed;
  }

  // Deliverables take their kind from where their folder lives; test images from the .kind
  // file the build writes beside each image.
  uint16_t SubsystemOf(const std::string &Name) const {
    std::map<std::string, uint16_t> Expected = ExpectedImages();
    auto Found = Expected.find(Name);
    if (Found != Expected.end()) {
      return Found->second;
    }
    std::ifstream KindFile(Dir_ / (Name + ".kind"));
    std::string Kind;
    KindFile >> Kind;
    return Kind == "APPLICATION" ? IMAGE_SUBSYSTEM_EFI_APPLICATION : IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER;
  }

  // The size of each module's image (the deliverables, not the test images).
  std::map<std::string, uint64_t> ModuleBytes() const {
    std::map<std::string, uint64_t> Bytes;
    for (const auto &[Name, Subsystem] : ExpectedImages()) {
      std::error_code Error;
      const uint64_t Size = fs::file_size(Dir_ / (Name + ".efi"), Error);
      if (!Error) {
        Bytes[Name] = Size;
      }
    }
    return Bytes;
  }

  fs::path Dir_;
  std::vector<fs::path> Paths_;
};

TEST_F(ImageChecks, EveryModuleHasItsImage) {
  for (const auto &[Name, Subsystem] : ExpectedImages()) {
    EXPECT_TRUE(fs::is_regular_file(Dir_ / (Name + ".efi"))) << Name << ".efi missing from " << Dir_;
  }
  EXPECT_TRUE(ExpectedImages().count("Mgmtprobe")) << "the application folder was not seen";
}

TEST_F(ImageChecks, ImagesAreAArch64Pe32PlusOfTheirSubsystem) {
  for (const auto &[Name, Image] : Images()) {
    EXPECT_TRUE(CheckHeaders(Image, SubsystemOf(Name)).empty())
        << Name << ":\n"
        << Join(CheckHeaders(Image, SubsystemOf(Name)));
  }
}

TEST_F(ImageChecks, ImagesImportNothingAndEnterInText) {
  for (const auto &[Name, Image] : Images()) {
    EXPECT_TRUE(CheckNoImports(Image).empty()) << Name << ":\n" << Join(CheckNoImports(Image));
    EXPECT_TRUE(CheckEntryPoint(Image).empty()) << Name << ":\n" << Join(CheckEntryPoint(Image));
  }
}

// The image made with a dynamic initialiser on purpose; every other image must have none.
constexpr char kInitialiserProbe[] = "InitialiserProbe";

TEST_F(ImageChecks, ImagesHaveNoInitialiserSections) {
  bool ProbeSeen = false;
  for (const auto &[Name, Image] : Images()) {
    if (Name == kInitialiserProbe) {
      ProbeSeen = true;
      EXPECT_FALSE(CheckNoInitialisers(Image).empty()) << Name << ": its dynamic initialiser went unnoticed";
      continue;
    }
    EXPECT_TRUE(CheckNoInitialisers(Image).empty()) << Name << ":\n" << Join(CheckNoInitialisers(Image));
  }
  EXPECT_TRUE(ProbeSeen) << kInitialiserProbe << ".efi missing from " << Dir_;
}

// The image with one object compiled with unaligned accesses allowed, on purpose.
constexpr char kUnalignedProbe[] = "UnalignedProbe";

TEST_F(ImageChecks, ImagesAreBuiltForStrictAlignment) {
  bool ProbeSeen = false;
  for (const auto &[Name, Image] : Images()) {
    if (Name == kUnalignedProbe) {
      ProbeSeen = true;
      EXPECT_FALSE(CheckStrictAlignment(Image).empty()) << Name << ": its unaligned object went unnoticed";
      continue;
    }
    EXPECT_TRUE(CheckStrictAlignment(Image).empty()) << Name << ":\n" << Join(CheckStrictAlignment(Image));
  }
  EXPECT_TRUE(ProbeSeen) << kUnalignedProbe << ".efi missing from " << Dir_;
}

TEST_F(ImageChecks, ModulesFitTheFlashBudget) {
  EXPECT_TRUE(BudgetProblems(ModuleBytes()).empty()) << Join(BudgetProblems(ModuleBytes()));
}

TEST_F(ImageChecks, ImagesLoadAtAnyBase) {
  for (const auto &[Name, Image] : Images()) {
    EXPECT_TRUE(CheckRelocatable(Image).empty()) << Name << ":\n" << Join(CheckRelocatable(Image));
  }
}

TEST_F(ImageChecks, ImagesLeaveThePlatformRegisterAlone) {
  for (const fs::path &Path : Paths_) {
    EXPECT_TRUE(PlatformRegisterUses(Path).empty()) << Path << ":\n" << Join(PlatformRegisterUses(Path));
  }
}

// The checks themselves: a copy of a real image, broken in one way at a time, must fail.
class BrokenImageChecks : public ImageChecks {
protected:
  void SetUp() override {
    ImageChecks::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
      return;
    }
    std::string Error;
    std::optional<PeImage> Image = ReadPeImage(Paths_.front(), Error);
    ASSERT_TRUE(Image.has_value()) << Error;
    Original_ = std::move(*Image);
  }

  // Reparses Bytes after a change, as a loader would see them.
  static PeImage Reparse(std::vector<uint8_t> Bytes) {
    std::string Error;
    std::optional<PeImage> Image = ParsePeImage(std::move(Bytes), Error);
    EXPECT_TRUE(Image.has_value()) << Error;
    return Image.value_or(PeImage{});
  }

  size_t OptionalHeader() const {
    uint32_t PeOffset = 0;
    std::memcpy(&PeOffset, Original_.Bytes.data() + 0x3C, 4);
    return PeOffset + 4 + 20;
  }

  template <typename T> static void Put(std::vector<uint8_t> &Bytes, size_t Offset, T Value) {
    std::memcpy(Bytes.data() + Offset, &Value, sizeof(T));
  }

  PeImage Original_;
};

TEST_F(BrokenImageChecks, HeaderAndImportFaultsAreFound) {
  std::vector<uint8_t> WrongSubsystem = Original_.Bytes;
  Put<uint16_t>(WrongSubsystem, OptionalHeader() + 68, 12); // runtime driver
  EXPECT_FALSE(CheckHeaders(Reparse(WrongSubsystem), Original_.Subsystem).empty());

  std::vector<uint8_t> WrongMachine = Original_.Bytes;
  Put<uint16_t>(WrongMachine, OptionalHeader() - 20, 0x8664);
  EXPECT_FALSE(CheckHeaders(Reparse(WrongMachine), Original_.Subsystem).empty());

  // An import directory whose first descriptor is not the terminator: point it at the headers.
  std::vector<uint8_t> WithImports = Original_.Bytes;
  const PeSection &First = Original_.Sections.front();
  Put<uint32_t>(WithImports, OptionalHeader() + 112 + 8, First.Rva);
  Put<uint32_t>(WithImports, OptionalHeader() + 112 + 12, 40);
  EXPECT_FALSE(CheckNoImports(Reparse(WithImports)).empty());

  std::vector<uint8_t> EntryOutsideText = Original_.Bytes;
  Put<uint32_t>(EntryOutsideText, OptionalHeader() + 16, Original_.SizeOfImage + 0x1000);
  EXPECT_FALSE(CheckEntryPoint(Reparse(EntryOutsideText)).empty());
}

TEST_F(BrokenImageChecks, UnrelocatedPointersAndStrippedRelocationsAreFound) {
  ASSERT_TRUE(CheckRelocatable(Original_).empty());

  std::vector<uint8_t> Stripped = Original_.Bytes;
  Put<uint16_t>(Stripped, OptionalHeader() - 2, Original_.Characteristics | 0x0001);
  EXPECT_FALSE(CheckRelocatable(Reparse(Stripped)).empty());

  // Plant a pointer to the entry point in a data slot that no relocation patches.
  std::vector<std::string> Ignored;
  std::vector<uint32_t> Targets = Dir64RelocationTargets(Original_, Ignored);
  std::optional<size_t> Slot;
  for (const PeSection &Each : Original_.Sections) {
    if (Each.Name == ".reloc" || Each.Executable() || std::min(Each.RawBytes, Each.VirtualBytes) < 8) {
      continue;
    }
    if (std::find(Targets.begin(), Targets.end(), Each.Rva) == Targets.end()) {
      Slot = Each.RawOffset;
      break;
    }
  }
  ASSERT_TRUE(Slot.has_value()) << "no data section to plant a pointer in";
  std::vector<uint8_t> Planted = Original_.Bytes;
  Put<uint64_t>(Planted, *Slot, Original_.ImageBase + Original_.Entry);
  std::vector<std::string> Errors = CheckRelocatable(Reparse(Planted));
  ASSERT_EQ(Errors.size(), 1u) << Join(Errors);
  EXPECT_NE(Errors[0].find("has no relocation"), std::string::npos) << Errors[0];
}

TEST_F(BrokenImageChecks, PlatformRegisterUseIsFound) {
  constexpr uint32_t MovX18FromZero = 0xAA1F03F2; // mov x18, xzr
  std::optional<size_t> Entry = Original_.FileOffset(Original_.Entry, 4);
  ASSERT_TRUE(Entry.has_value());
  std::vector<uint8_t> Patched = Original_.Bytes;
  Put<uint32_t>(Patched, *Entry, MovX18FromZero);
  const board_test::Scratch Copy("PlatformRegister.efi");
  std::ofstream(Copy.Path(), std::ios::binary)
      .write(reinterpret_cast<const char *>(Patched.data()), Patched.size());
  std::vector<std::string> Uses = PlatformRegisterUses(Copy);
  ASSERT_EQ(Uses.size(), 1u) << Join(Uses);
  EXPECT_NE(Uses[0].find("x18"), std::string::npos) << Uses[0];
}

TEST_F(BrokenImageChecks, MissingAlignmentMarkAndGrownImagesAreFound) {
  ASSERT_TRUE(CheckStrictAlignment(Original_).empty());
  std::vector<uint8_t> Unmarked = Original_.Bytes;
  const std::string Mark = "ALIGNMENT-MARK:strict";
  auto At = std::search(Unmarked.begin(), Unmarked.end(), Mark.begin(), Mark.end());
  ASSERT_NE(At, Unmarked.end());
  std::fill(At, At + Mark.size(), 0);
  EXPECT_FALSE(CheckStrictAlignment(Reparse(Unmarked)).empty());

  const std::map<std::string, uint64_t> Sizes = ModuleBytes();
  ASSERT_TRUE(BudgetProblems(Sizes).empty()) << Join(BudgetProblems(Sizes));
  // One file-alignment step more for a capped image; a module grown past the total.
  const std::pair<std::string, uint64_t> Grown[] = {
      {"Vidframe", 512}, {"Vaultcell", 2560}, {"Nicpatch", kModulesCapBytes}};
  for (const auto &[Name, Bytes] : Grown) {
    std::map<std::string, uint64_t> Larger = Sizes;
    Larger[Name] += Bytes;
    EXPECT_EQ(BudgetProblems(Larger).size(), 1u) << Name << " grown by " << Bytes;
  }
}

} // namespace
} // namespace images
