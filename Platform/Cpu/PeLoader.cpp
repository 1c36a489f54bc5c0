// The PE32+ loader: parse and check the file, lay the image out, relocate, copy into guest pages.
#include "PeLoader.h"

#include "CpuCommon.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cpu {

namespace {

// Offsets and values of the PE/COFF format.
constexpr uint16_t DosMagic = 0x5A4D;    // "MZ"
constexpr uint32_t PeSignature = 0x4550; // "PE\0\0"
constexpr size_t DosNewHeaderOffset = 0x3C;
constexpr size_t FileHeaderBytes = 20;
constexpr uint16_t MachineArm64 = 0xAA64;
constexpr uint16_t Pe32PlusMagic = 0x20B;
constexpr size_t OptionalEntryPoint = 16;
constexpr size_t OptionalImageBase = 24;
constexpr size_t OptionalSectionAlignment = 32;
constexpr size_t OptionalSizeOfImage = 56;
constexpr size_t OptionalSizeOfHeaders = 60;
constexpr size_t OptionalSubsystem = 68;
constexpr size_t OptionalDirectoryCount = 108;
constexpr size_t OptionalDirectories = 112;
constexpr size_t DirectoryBytes = 8;
constexpr uint32_t BaseRelocationDirectory = 5;
constexpr size_t SectionHeaderBytes = 40;
constexpr size_t SectionNameBytes = 8;
constexpr uint32_t ScnMemExecute = 0x20000000;
constexpr uint32_t ScnMemWrite = 0x80000000;
constexpr uint64_t PageBytes = 4096;
constexpr size_t RelocationBlockHeaderBytes = 8;
constexpr unsigned RelocationTypeShift = 12;
constexpr uint16_t RelocationOffsetMask = 0xFFF;
constexpr uint16_t RelAbsolute = 0; // padding
constexpr uint16_t RelDir64 = 10;

uint64_t PagesOf(uint64_t Bytes) {
  return (Bytes + PageBytes - 1) / PageBytes;
}

// Little-endian fields of the file, with the bounds checked once by the caller.
template <typename T> T Field(std::span<const uint8_t> Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

bool Within(uint64_t Offset, uint64_t Length, uint64_t Size) {
  return Offset <= Size && Length <= Size - Offset;
}

struct Parsed {
  uint64_t ImageBase = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  uint32_t Entry = 0;
  uint16_t Subsystem = 0;
  uint32_t RelocationRva = 0;
  uint32_t RelocationBytes = 0;
  struct Section {
    std::string Name;
    uint32_t Rva, VirtualBytes, RawOffset, RawBytes, Characteristics;
  };
  std::vector<Section> Sections;
};

class Parser {
public:
  Parser(std::span<const uint8_t> File, std::string &Error) : File_(File), Error_(Error) {}
  std::optional<Parsed> Run();

private:
  bool Fail(std::string Why) {
    Error_ = std::move(Why);
    return false;
  }
  bool Headers(size_t &Optional, size_t &SectionTable, uint16_t &SectionCount);
  bool OptionalHeader(size_t Optional, uint16_t OptionalBytes);
  bool SectionTable(size_t Table, uint16_t Count);

  std::span<const uint8_t> File_;
  std::string &Error_;
  Parsed Out_;
};

bool Parser::Headers(size_t &Optional, size_t &Table, uint16_t &Count) {
  if (!Within(0, DosNewHeaderOffset + sizeof(uint32_t), File_.size()) ||
      Field<uint16_t>(File_, 0) != DosMagic) {
    return Fail("not a PE image: no DOS header");
  }
  const uint32_t Pe = Field<uint32_t>(File_, DosNewHeaderOffset);
  if (!Within(Pe, sizeof(uint32_t) + FileHeaderBytes, File_.size()) ||
      Field<uint32_t>(File_, Pe) != PeSignature) {
    return Fail("not a PE image: no PE header");
  }
  const size_t Header = Pe + sizeof(uint32_t);
  if (const uint16_t Machine = Field<uint16_t>(File_, Header); Machine != MachineArm64) {
    return Fail("not a PE32+ image for AArch64 (machine " + Hex(Machine) + ")");
  }
  Count = Field<uint16_t>(File_, Header + 2);
  const uint16_t OptionalBytes = Field<uint16_t>(File_, Header + 16);
  Optional = Header + FileHeaderBytes;
  Table = Optional + OptionalBytes;
  return OptionalHeader(Optional, OptionalBytes);
}

bool Parser::OptionalHeader(size_t Optional, uint16_t OptionalBytes) {
  if (OptionalBytes < OptionalDirectories || !Within(Optional, OptionalBytes, File_.size())) {
    return Fail("truncated file: the optional header is cut short");
  }
  if (const uint16_t Magic = Field<uint16_t>(File_, Optional); Magic != Pe32PlusMagic) {
    return Fail("not a PE32+ image for AArch64 (optional header magic " + Hex(Magic) + ")");
  }
  Out_.Entry = Field<uint32_t>(File_, Optional + OptionalEntryPoint);
  Out_.ImageBase = Field<uint64_t>(File_, Optional + OptionalImageBase);
  Out_.SizeOfImage = Field<uint32_t>(File_, Optional + OptionalSizeOfImage);
  Out_.SizeOfHeaders = Field<uint32_t>(File_, Optional + OptionalSizeOfHeaders);
  Out_.Subsystem = Field<uint16_t>(File_, Optional + OptionalSubsystem);
  if (const uint32_t Alignment = Field<uint32_t>(File_, Optional + OptionalSectionAlignment);
      Alignment == 0 || Alignment % PageBytes != 0) {
    return Fail("section alignment " + Hex(Alignment) +
                " is not whole pages: sections cannot have protections");
  }
  const uint32_t Directories = Field<uint32_t>(File_, Optional + OptionalDirectoryCount);
  if (Directories > BaseRelocationDirectory) {
    const size_t Relocations = Optional + OptionalDirectories + BaseRelocationDirectory * DirectoryBytes;
    if (Relocations + DirectoryBytes > Optional + OptionalBytes) {
      return Fail("truncated file: the data directories are cut short");
    }
    Out_.RelocationRva = Field<uint32_t>(File_, Relocations);
    Out_.RelocationBytes = Field<uint32_t>(File_, Relocations + sizeof(uint32_t));
  }
  if (Out_.SizeOfHeaders > File_.size()) {
    return Fail("truncated file: the headers are cut short");
  }
  if (Out_.SizeOfHeaders > Out_.SizeOfImage) {
    return Fail("the headers (" + Hex(Out_.SizeOfHeaders) + " bytes) lie outside the image");
  }
  return true;
}

bool Parser::SectionTable(size_t Table, uint16_t Count) {
  if (!Within(Table, uint64_t{Count} * SectionHeaderBytes, File_.size())) {
    return Fail("truncated file: the section table is cut short");
  }
  for (uint16_t Index = 0; Index < Count; Index++) {
    const size_t At = Table + Index * SectionHeaderBytes;
    Parsed::Section S;
    S.Name.assign(reinterpret_cast<const char *>(File_.data() + At), SectionNameBytes);
    S.Name.resize(std::strlen(S.Name.c_str()));
    S.VirtualBytes = Field<uint32_t>(File_, At + 8);
    S.Rva = Field<uint32_t>(File_, At + 12);
    S.RawBytes = Field<uint32_t>(File_, At + 16);
    S.RawOffset = Field<uint32_t>(File_, At + 20);
    S.Characteristics = Field<uint32_t>(File_, At + 36);
    if (S.Rva % PageBytes != 0 || !Within(S.Rva, std::max(S.VirtualBytes, S.RawBytes), Out_.SizeOfImage) ||
        S.Rva < Out_.SizeOfHeaders) {
      return Fail("section " + S.Name + " lies outside the image");
    }
    if (!Within(S.RawOffset, S.RawBytes, File_.size())) {
      return Fail("truncated file: section " + S.Name + " is cut short");
    }
    Out_.Sections.push_back(std::move(S));
  }
  return true;
}

std::optional<Parsed> Parser::Run() {
  size_t Optional = 0, Table = 0;
  uint16_t Count = 0;
  if (!Headers(Optional, Table, Count) || !SectionTable(Table, Count)) {
    return std::nullopt;
  }
  bool EntryInCode = false;
  for (const Parsed::Section &S : Out_.Sections) {
    EntryInCode |= (S.Characteristics & ScnMemExecute) != 0 && Out_.Entry - S.Rva < S.VirtualBytes;
  }
  if (!EntryInCode) {
    Fail("the entry point " + Hex(Out_.Entry) + " is not in an executable section");
    return std::nullopt;
  }
  return std::move(Out_);
}

// The image as it lies in memory, at its linked base.
std::vector<uint8_t> Layout(std::span<const uint8_t> File, const Parsed &Image) {
  std::vector<uint8_t> Memory(PagesOf(Image.SizeOfImage) * PageBytes);
  std::memcpy(Memory.data(), File.data(), Image.SizeOfHeaders);
  for (const Parsed::Section &S : Image.Sections) {
    // Bytes past the section's size in memory are file padding; the rest of it is zero.
    const uint32_t Copied = S.VirtualBytes == 0 ? S.RawBytes : std::min(S.RawBytes, S.VirtualBytes);
    std::memcpy(Memory.data() + S.Rva, File.data() + S.RawOffset, Copied);
  }
  return Memory;
}

// The RVAs of the 64-bit words the relocations patch; nullopt with Error on anything else.
std::optional<std::vector<uint32_t>> Relocations(const std::vector<uint8_t> &Memory, const Parsed &Image,
                                                 std::string &Error) {
  std::vector<uint32_t> Targets;
  if (!Within(Image.RelocationRva, Image.RelocationBytes, Image.SizeOfImage)) {
    Error = "the relocations lie outside the image";
    return std::nullopt;
  }
  const std::span<const uint8_t> Table(Memory.data() + Image.RelocationRva, Image.RelocationBytes);
  for (size_t Block = 0; Block < Table.size();) {
    if (!Within(Block, RelocationBlockHeaderBytes, Table.size())) {
      Error = "relocation block at " + Hex(Image.RelocationRva + Block) + " is cut short";
      return std::nullopt;
    }
    const uint32_t Page = Field<uint32_t>(Table, Block);
    const uint32_t BlockBytes = Field<uint32_t>(Table, Block + sizeof(uint32_t));
    if (BlockBytes < RelocationBlockHeaderBytes || BlockBytes % sizeof(uint16_t) != 0 ||
        !Within(Block, BlockBytes, Table.size())) {
      Error = "relocation block at " + Hex(Image.RelocationRva + Block) + " is malformed";
      return std::nullopt;
    }
    for (size_t Entry = Block + RelocationBlockHeaderBytes; Entry < Block + BlockBytes;
         Entry += sizeof(uint16_t)) {
      const uint16_t Word = Field<uint16_t>(Table, Entry);
      const uint16_t Type = Word >> RelocationTypeShift;
      const uint64_t Target = uint64_t{Page} + (Word & RelocationOffsetMask);
      if (Type == RelAbsolute) {
        continue;
      }
      if (Type != RelDir64) {
        Error = "unknown relocation type " + std::to_string(Type) + " at RVA " + Hex(Target);
        return std::nullopt;
      }
      if (!Within(Target, sizeof(uint64_t), Image.SizeOfImage)) {
        Error = "relocation at RVA " + Hex(Target) + " lies outside the image";
        return std::nullopt;
      }
      Targets.push_back(static_cast<uint32_t>(Target));
    }
    Block += BlockBytes;
  }
  return Targets;
}

} // namespace

std::optional<LoadedImage> LoadPeImage(std::span<const uint8_t> File, const PageAllocator &Allocate,
                                       std::string &Error) {
  std::optional<Parsed> Image = Parser(File, Error).Run();
  if (!Image) {
    return std::nullopt;
  }
  std::vector<uint8_t> Memory = Layout(File, *Image);
  std::optional<std::vector<uint32_t>> Targets = Relocations(Memory, *Image, Error);
  if (!Targets) {
    return std::nullopt;
  }
  const std::optional<GuestPages> Pages = Allocate(Memory.size() / PageBytes, Image->Subsystem);
  if (!Pages) {
    Error = "no pages for " + std::to_string(Memory.size() / PageBytes) + " pages of image";
    return std::nullopt;
  }
  const uint64_t Delta = Pages->Base - Image->ImageBase;
  for (uint32_t Target : *Targets) {
    uint64_t Word = Field<uint64_t>(Memory, Target);
    Word += Delta;
    std::memcpy(Memory.data() + Target, &Word, sizeof(Word));
  }
  std::memcpy(Pages->Host, Memory.data(), Memory.size());
  LoadedImage Loaded{Pages->Base, Memory.size(), Pages->Base + Image->Entry, Image->Subsystem, {}};
  for (const Parsed::Section &S : Image->Sections) {
    Loaded.Sections.push_back(
        {S.Name, Pages->Base + S.Rva, PagesOf(std::max(S.VirtualBytes, S.RawBytes)) * PageBytes,
         (S.Characteristics & ScnMemExecute) != 0, (S.Characteristics & ScnMemWrite) != 0});
  }
  return Loaded;
}

} // namespace cpu
