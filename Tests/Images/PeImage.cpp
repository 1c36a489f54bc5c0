// PE32+ reader and image checks.
#include "PeImage.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>

namespace images {
namespace {

constexpr uint16_t DOS_MAGIC = 0x5A4D;        // "MZ"
constexpr uint32_t PE_SIGNATURE = 0x00004550; // "PE\0\0"
constexpr size_t DOS_LFANEW_OFFSET = 0x3C;
constexpr size_t COFF_HEADER_SIZE = 20;
constexpr size_t SECTION_HEADER_SIZE = 40;
constexpr size_t OPTIONAL_HEADER_DIRECTORIES_OFFSET = 112; // PE32+
constexpr uint16_t IMAGE_FILE_RELOCS_STRIPPED = 0x0001;
constexpr uint16_t IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002;
constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
constexpr size_t IMAGE_DIRECTORY_ENTRY_IMPORT = 1;
constexpr size_t IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;
constexpr size_t IMPORT_DESCRIPTOR_SIZE = 20;
constexpr size_t RELOCATION_BLOCK_HEADER_SIZE = 8;
constexpr uint16_t IMAGE_REL_BASED_ABSOLUTE = 0;
constexpr uint16_t IMAGE_REL_BASED_DIR64 = 10;

template <typename T> T ReadLe(const std::vector<uint8_t> &Bytes, size_t Offset) {
  T Value{};
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

bool InFile(const std::vector<uint8_t> &Bytes, size_t Offset, size_t Length) {
  return Offset <= Bytes.size() && Length <= Bytes.size() - Offset;
}

std::string Hex(uint64_t Value) {
  std::ostringstream Text;
  Text << "0x" << std::hex << std::uppercase << Value;
  return Text.str();
}

} // namespace

bool Section::IsExecutable() const {
  return (Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0;
}

const Section *PeImage::SectionAt(uint32_t Rva) const {
  for (const Section &Each : Sections) {
    uint32_t Extent = std::max(Each.VirtualSize, Each.RawSize);
    if (Rva >= Each.VirtualAddress && Rva - Each.VirtualAddress < Extent) {
      return &Each;
    }
  }
  return nullptr;
}

std::optional<size_t> PeImage::FileOffset(uint32_t Rva, uint32_t Length) const {
  const Section *Owner = SectionAt(Rva);
  if (Owner == nullptr) {
    return std::nullopt;
  }
  uint64_t Within = Rva - Owner->VirtualAddress;
  if (Within + Length > Owner->RawSize) {
    return std::nullopt;
  }
  size_t Offset = Owner->RawOffset + Within;
  return InFile(Bytes, Offset, Length) ? std::optional<size_t>(Offset) : std::nullopt;
}

DataDirectory PeImage::Directory(size_t Index) const {
  return Index < Directories.size() ? Directories[Index] : DataDirectory{};
}

std::optional<PeImage> ParsePeImage(std::vector<uint8_t> Bytes, std::string &Error) {
  PeImage Image;
  if (!InFile(Bytes, 0, DOS_LFANEW_OFFSET + 4) || ReadLe<uint16_t>(Bytes, 0) != DOS_MAGIC) {
    Error = "no DOS header";
    return std::nullopt;
  }
  size_t PeOffset = ReadLe<uint32_t>(Bytes, DOS_LFANEW_OFFSET);
  if (!InFile(Bytes, PeOffset, 4 + COFF_HEADER_SIZE) || ReadLe<uint32_t>(Bytes, PeOffset) != PE_SIGNATURE) {
    Error = "no PE signature";
    return std::nullopt;
  }
  size_t Coff = PeOffset + 4;
  Image.Machine = ReadLe<uint16_t>(Bytes, Coff);
  uint16_t NumberOfSections = ReadLe<uint16_t>(Bytes, Coff + 2);
  uint16_t SizeOfOptionalHeader = ReadLe<uint16_t>(Bytes, Coff + 16);
  Image.FileCharacteristics = ReadLe<uint16_t>(Bytes, Coff + 18);

  size_t Optional = Coff + COFF_HEADER_SIZE;
  if (!InFile(Bytes, Optional, SizeOfOptionalHeader) ||
      SizeOfOptionalHeader < OPTIONAL_HEADER_DIRECTORIES_OFFSET) {
    Error = "optional header truncated";
    return std::nullopt;
  }
  Image.Magic = ReadLe<uint16_t>(Bytes, Optional);
  if (Image.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    Error = "optional header magic " + Hex(Image.Magic) + " is not PE32+";
    return std::nullopt;
  }
  Image.AddressOfEntryPoint = ReadLe<uint32_t>(Bytes, Optional + 16);
  Image.ImageBase = ReadLe<uint64_t>(Bytes, Optional + 24);
  Image.SectionAlignment = ReadLe<uint32_t>(Bytes, Optional + 32);
  Image.SizeOfImage = ReadLe<uint32_t>(Bytes, Optional + 56);
  Image.Subsystem = ReadLe<uint16_t>(Bytes, Optional + 68);
  uint32_t NumberOfRvaAndSizes = ReadLe<uint32_t>(Bytes, Optional + 108);
  size_t DirectoryBytes = SizeOfOptionalHeader - OPTIONAL_HEADER_DIRECTORIES_OFFSET;
  NumberOfRvaAndSizes = std::min<uint32_t>(NumberOfRvaAndSizes, DirectoryBytes / 8);
  for (uint32_t Index = 0; Index < NumberOfRvaAndSizes; Index++) {
    size_t Entry = Optional + OPTIONAL_HEADER_DIRECTORIES_OFFSET + Index * 8;
    Image.Directories.push_back({ReadLe<uint32_t>(Bytes, Entry), ReadLe<uint32_t>(Bytes, Entry + 4)});
  }

  size_t SectionTable = Optional + SizeOfOptionalHeader;
  if (!InFile(Bytes, SectionTable, size_t(NumberOfSections) * SECTION_HEADER_SIZE)) {
    Error = "section table truncated";
    return std::nullopt;
  }
  for (uint16_t Index = 0; Index < NumberOfSections; Index++) {
    size_t Header = SectionTable + Index * SECTION_HEADER_SIZE;
    Section Each;
    Each.Name.assign(reinterpret_cast<const char *>(Bytes.data() + Header),
                     strnlen(reinterpret_cast<const char *>(Bytes.data() + Header), 8));
    Each.VirtualSize = ReadLe<uint32_t>(Bytes, Header + 8);
    Each.VirtualAddress = ReadLe<uint32_t>(Bytes, Header + 12);
    Each.RawSize = ReadLe<uint32_t>(Bytes, Header + 16);
    Each.RawOffset = ReadLe<uint32_t>(Bytes, Header + 20);
    Each.Characteristics = ReadLe<uint32_t>(Bytes, Header + 36);
    Image.Sections.push_back(Each);
  }
  Image.Bytes = std::move(Bytes);
  return Image;
}

std::optional<PeImage> LoadPeImage(const std::filesystem::path &Path, std::string &Error) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    Error = "cannot open " + Path.string();
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  return ParsePeImage(std::move(Bytes), Error);
}

std::vector<uint32_t> Dir64RelocationTargets(const PeImage &Image, std::vector<std::string> &Errors) {
  std::vector<uint32_t> Targets;
  DataDirectory Relocations = Image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
  if (Relocations.Size == 0) {
    return Targets;
  }
  std::optional<size_t> Table = Image.FileOffset(Relocations.Rva, Relocations.Size);
  if (!Table) {
    Errors.push_back("base relocation table is outside the file");
    return Targets;
  }
  size_t Offset = 0;
  while (Offset + RELOCATION_BLOCK_HEADER_SIZE <= Relocations.Size) {
    uint32_t PageRva = ReadLe<uint32_t>(Image.Bytes, *Table + Offset);
    uint32_t BlockSize = ReadLe<uint32_t>(Image.Bytes, *Table + Offset + 4);
    if (BlockSize < RELOCATION_BLOCK_HEADER_SIZE || BlockSize % 2 != 0 ||
        Offset + BlockSize > Relocations.Size) {
      Errors.push_back("malformed base relocation block at " + Hex(Relocations.Rva + Offset));
      return Targets;
    }
    for (size_t Entry = RELOCATION_BLOCK_HEADER_SIZE; Entry < BlockSize; Entry += 2) {
      uint16_t Value = ReadLe<uint16_t>(Image.Bytes, *Table + Offset + Entry);
      uint16_t Type = Value >> 12;
      uint32_t Target = PageRva + (Value & 0xFFF);
      if (Type == IMAGE_REL_BASED_ABSOLUTE) {
        continue; // padding
      }
      if (Type != IMAGE_REL_BASED_DIR64) {
        Errors.push_back("relocation type " + std::to_string(Type) + " at " + Hex(Target) + " is not DIR64");
      } else if (uint64_t(Target) + 8 > Image.SizeOfImage) {
        Errors.push_back("relocation target " + Hex(Target) + " is outside the image");
      } else {
        Targets.push_back(Target);
      }
    }
    Offset += BlockSize;
  }
  if (Offset != Relocations.Size) {
    Errors.push_back("base relocation table has trailing bytes");
  }
  return Targets;
}

std::vector<std::string> CheckHeaders(const PeImage &Image, uint16_t ExpectedSubsystem) {
  std::vector<std::string> Errors;
  if (Image.Machine != IMAGE_FILE_MACHINE_ARM64) {
    Errors.push_back("machine " + Hex(Image.Machine) + ", expected 0xAA64");
  }
  if (Image.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    Errors.push_back("optional header magic " + Hex(Image.Magic) + ", expected 0x20B");
  }
  if ((Image.FileCharacteristics & IMAGE_FILE_EXECUTABLE_IMAGE) == 0) {
    Errors.push_back("not marked as an executable image");
  }
  if (Image.Subsystem != ExpectedSubsystem) {
    Errors.push_back("subsystem " + std::to_string(Image.Subsystem) + ", expected " +
                     std::to_string(ExpectedSubsystem));
  }
  return Errors;
}

std::vector<std::string> CheckNoImports(const PeImage &Image) {
  std::vector<std::string> Errors;
  DataDirectory Imports = Image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (Imports.Rva == 0 && Imports.Size == 0) {
    return Errors;
  }
  // A directory whose first descriptor is the all-zero terminator imports nothing.
  std::optional<size_t> First = Image.FileOffset(Imports.Rva, IMPORT_DESCRIPTOR_SIZE);
  if (!First) {
    Errors.push_back("import directory is outside the file");
    return Errors;
  }
  auto Begin = Image.Bytes.begin() + static_cast<std::ptrdiff_t>(*First);
  if (!std::all_of(Begin, Begin + IMPORT_DESCRIPTOR_SIZE, [](uint8_t Byte) { return Byte == 0; })) {
    Errors.push_back("image imports from other modules");
  }
  return Errors;
}

std::vector<std::string> CheckNoInitialisers(const PeImage &Image) {
  // Section names are at most 8 characters in an image: longer ones arrive cut short.
  constexpr const char *kInitialiserSections[] = {".CRT",     ".init_ar", ".ctors",
                                                  ".fini_ar", ".dtors",   ".preinit"};
  std::vector<std::string> Errors;
  for (const Section &Entry : Image.Sections) {
    for (const char *Prefix : kInitialiserSections) {
      if (Entry.Name.rfind(Prefix, 0) == 0) {
        Errors.push_back("section " + Entry.Name + " lists initialisers that nothing runs in a UEFI image");
      }
    }
  }
  return Errors;
}

std::vector<std::string> CheckStrictAlignment(const PeImage &Image) {
  constexpr std::string_view kStrictMark = "ALIGNMENT-MARK:strict";
  constexpr std::string_view kUnalignedMark = "ALIGNMENT-MARK:unaligned-allowed";
  const std::string_view Bytes(reinterpret_cast<const char *>(Image.Bytes.data()), Image.Bytes.size());
  std::vector<std::string> Errors;
  if (Bytes.find(kStrictMark) == std::string_view::npos) {
    Errors.push_back("no strict alignment mark: the image was not built with -mstrict-align");
  }
  if (Bytes.find(kUnalignedMark) != std::string_view::npos) {
    Errors.push_back(
        "an object of the image was compiled with unaligned accesses allowed (no -mstrict-align)");
  }
  return Errors;
}

std::vector<std::string> CheckEntryPoint(const PeImage &Image) {
  std::vector<std::string> Errors;
  const Section *Owner = Image.SectionAt(Image.AddressOfEntryPoint);
  if (Image.AddressOfEntryPoint == 0 || Owner == nullptr) {
    Errors.push_back("entry point " + Hex(Image.AddressOfEntryPoint) + " is in no section");
  } else if (Owner->Name != ".text" || !Owner->IsExecutable()) {
    Errors.push_back("entry point is in " + Owner->Name + ", not in executable .text");
  }
  return Errors;
}

std::vector<std::string> CheckRelocatable(const PeImage &Image) {
  std::vector<std::string> Errors;
  if ((Image.FileCharacteristics & IMAGE_FILE_RELOCS_STRIPPED) != 0) {
    Errors.push_back("relocations are stripped: the image loads at its link base only");
  }
  std::vector<uint32_t> Targets = Dir64RelocationTargets(Image, Errors);
  std::set<uint32_t> Patched(Targets.begin(), Targets.end());
  uint64_t Low = Image.ImageBase;
  uint64_t High = Image.ImageBase + Image.SizeOfImage;
  // Any aligned 64-bit value that holds an address inside the image must be patched when the
  // image moves; one that is not would still point at the link base after loading.
  for (const Section &Each : Image.Sections) {
    uint32_t Length = Each.VirtualSize != 0 ? std::min(Each.RawSize, Each.VirtualSize) : Each.RawSize;
    for (uint32_t Within = 0; Within + 8 <= Length; Within += 8) {
      size_t Offset = Each.RawOffset + Within;
      if (!InFile(Image.Bytes, Offset, 8)) {
        break;
      }
      uint64_t Value = ReadLe<uint64_t>(Image.Bytes, Offset);
      uint32_t Rva = Each.VirtualAddress + Within;
      if (Value >= Low && Value < High && Patched.count(Rva) == 0) {
        Errors.push_back("absolute address " + Hex(Value) + " at " + Hex(Rva) + " in " + Each.Name +
                         " has no relocation");
      }
    }
  }
  return Errors;
}

} // namespace images
