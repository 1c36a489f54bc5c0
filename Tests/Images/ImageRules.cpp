// The image checks, on the processor's PE reader.
#include "ImageRules.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>

namespace images {
namespace {

constexpr size_t IMPORT_DESCRIPTOR_SIZE = 20;

uint64_t ReadLe64(const std::vector<uint8_t> &Bytes, size_t Offset) {
  uint64_t Value = 0;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(Value));
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

std::optional<PeImage> ParsePeImage(std::vector<uint8_t> Bytes, std::string &Error) {
  std::optional<cpu::PeFile> Headers = cpu::ReadPeFile(Bytes, Error);
  if (!Headers) {
    return std::nullopt;
  }
  PeImage Image{std::move(*Headers), std::move(Bytes)};
  return Image;
}

std::optional<PeImage> ReadPeImage(const std::filesystem::path &Path, std::string &Error) {
  std::ifstream File(Path, std::ios::binary);
  if (!File) {
    Error = "cannot open " + Path.string();
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  return ParsePeImage(std::move(Bytes), Error);
}

std::vector<uint32_t> Dir64RelocationTargets(const PeImage &Image, std::vector<std::string> &Errors) {
  const cpu::PeDirectory Relocations = Image.Directory(cpu::IMAGE_DIRECTORY_ENTRY_BASERELOC);
  if (Relocations.Bytes == 0) {
    return {};
  }
  std::optional<size_t> Table = Image.FileOffset(Relocations.Rva, Relocations.Bytes);
  if (!Table) {
    Errors.push_back("base relocation table is outside the file");
    return {};
  }
  return cpu::Dir64Relocations(std::span(Image.Bytes).subspan(*Table, Relocations.Bytes), Relocations.Rva,
                               Image.SizeOfImage, Errors);
}

std::vector<std::string> CheckHeaders(const PeImage &Image, uint16_t ExpectedSubsystem) {
  std::vector<std::string> Errors;
  // PE32+ (the optional header's magic) is the reader's own check.
  if (Image.Machine != cpu::IMAGE_FILE_MACHINE_ARM64) {
    Errors.push_back("machine " + Hex(Image.Machine) + ", expected 0xAA64");
  }
  if ((Image.Characteristics & cpu::IMAGE_FILE_EXECUTABLE_IMAGE) == 0) {
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
  const cpu::PeDirectory Imports = Image.Directory(cpu::IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (Imports.Rva == 0 && Imports.Bytes == 0) {
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
  for (const PeSection &Entry : Image.Sections) {
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
  const PeSection *Owner = Image.SectionAt(Image.Entry);
  if (Image.Entry == 0 || Owner == nullptr) {
    Errors.push_back("entry point " + Hex(Image.Entry) + " is in no section");
  } else if (Owner->Name != ".text" || !Owner->Executable()) {
    Errors.push_back("entry point is in " + Owner->Name + ", not in executable .text");
  }
  return Errors;
}

std::vector<std::string> CheckRelocatable(const PeImage &Image) {
  std::vector<std::string> Errors;
  if ((Image.Characteristics & cpu::IMAGE_FILE_RELOCS_STRIPPED) != 0) {
    Errors.push_back("relocations are stripped: the image loads at its link base only");
  }
  std::vector<uint32_t> Targets = Dir64RelocationTargets(Image, Errors);
  std::set<uint32_t> Patched(Targets.begin(), Targets.end());
  uint64_t Low = Image.ImageBase;
  uint64_t High = Image.ImageBase + Image.SizeOfImage;
  // Any aligned 64-bit value that holds an address inside the image must be patched when the
  // image moves; one that is not would still point at the link base after loading.
  for (const PeSection &Each : Image.Sections) {
    uint32_t Length = Each.VirtualBytes != 0 ? std::min(Each.RawBytes, Each.VirtualBytes) : Each.RawBytes;
    for (uint32_t Within = 0; Within + 8 <= Length; Within += 8) {
      size_t Offset = Each.RawOffset + Within;
      if (!InFile(Image.Bytes, Offset, 8)) {
        break;
      }
      uint64_t Value = ReadLe64(Image.Bytes, Offset);
      uint32_t Rva = Each.Rva + Within;
      if (Value >= Low && Value < High && Patched.count(Rva) == 0) {
        Errors.push_back("absolute address " + Hex(Value) + " at " + Hex(Rva) + " in " + Each.Name +
                         " has no relocation");
      }
    }
  }
  return Errors;
}

} // namespace images
