// Reading PE32+ files: the headers and section table with their bounds, and the base relocation
// blocks.
#include "PeFile.h"

#include "CpuCommon.h"

#include <cstring>

namespace cpu {

namespace {

// Offsets and values of the PE/COFF format.
constexpr uint16_t DosMagic = 0x5A4D;    // "MZ"
constexpr uint32_t PeSignature = 0x4550; // "PE\0\0"
constexpr size_t DosNewHeaderOffset = 0x3C;
constexpr size_t FileHeaderBytes = 20;
constexpr size_t FileSectionCount = 2;
constexpr size_t FileOptionalBytes = 16;
constexpr size_t FileCharacteristics = 18;
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
constexpr size_t SectionHeaderBytes = 40;
constexpr size_t SectionNameBytes = 8;
constexpr uint32_t ScnMemExecute = 0x20000000;
constexpr uint32_t ScnMemWrite = 0x80000000;
constexpr size_t RelocationBlockHeaderBytes = 8;
constexpr unsigned RelocationTypeShift = 12;
constexpr uint16_t RelocationOffsetMask = 0xFFF;
constexpr uint16_t RelAbsolute = 0; // padding
constexpr uint16_t RelDir64 = 10;

// Little-endian fields of the file, with the bounds checked once by the caller.
template <typename T> T Field(std::span<const uint8_t> Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

bool Within(uint64_t Offset, uint64_t Length, uint64_t Size) {
  return Offset <= Size && Length <= Size - Offset;
}

class Reader {
public:
  Reader(std::span<const uint8_t> File, std::string &Error) : File_(File), Error_(Error) {}
  std::optional<PeFile> Run();

private:
  bool Fail(std::string Why) {
    Error_ = std::move(Why);
    return false;
  }
  bool Headers(size_t &Table, uint16_t &Count);
  bool OptionalHeader(size_t Optional, uint16_t OptionalBytes);
  bool Directories(size_t Optional, uint16_t OptionalBytes);
  bool SectionTable(size_t Table, uint16_t Count);

  std::span<const uint8_t> File_;
  std::string &Error_;
  PeFile Out_;
};

bool Reader::Headers(size_t &Table, uint16_t &Count) {
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
  Out_.Machine = Field<uint16_t>(File_, Header);
  Out_.Characteristics = Field<uint16_t>(File_, Header + FileCharacteristics);
  Count = Field<uint16_t>(File_, Header + FileSectionCount);
  const uint16_t OptionalBytes = Field<uint16_t>(File_, Header + FileOptionalBytes);
  const size_t Optional = Header + FileHeaderBytes;
  Table = Optional + OptionalBytes;
  return OptionalHeader(Optional, OptionalBytes);
}

bool Reader::OptionalHeader(size_t Optional, uint16_t OptionalBytes) {
  if (OptionalBytes < OptionalDirectories || !Within(Optional, OptionalBytes, File_.size())) {
    return Fail("truncated file: the optional header is cut short");
  }
  if (const uint16_t Magic = Field<uint16_t>(File_, Optional); Magic != Pe32PlusMagic) {
    return Fail("not a PE32+ image for AArch64 (optional header magic " + Hex(Magic) + ")");
  }
  Out_.Entry = Field<uint32_t>(File_, Optional + OptionalEntryPoint);
  Out_.ImageBase = Field<uint64_t>(File_, Optional + OptionalImageBase);
  Out_.SectionAlignment = Field<uint32_t>(File_, Optional + OptionalSectionAlignment);
  Out_.SizeOfImage = Field<uint32_t>(File_, Optional + OptionalSizeOfImage);
  Out_.SizeOfHeaders = Field<uint32_t>(File_, Optional + OptionalSizeOfHeaders);
  Out_.Subsystem = Field<uint16_t>(File_, Optional + OptionalSubsystem);
  if (!Directories(Optional, OptionalBytes)) {
    return false;
  }
  if (Out_.SizeOfHeaders > File_.size()) {
    return Fail("truncated file: the headers are cut short");
  }
  if (Out_.SizeOfHeaders > Out_.SizeOfImage) {
    return Fail("the headers (" + Hex(Out_.SizeOfHeaders) + " bytes) lie outside the image");
  }
  return true;
}

// The optional header holds as many directories as it says it has.
bool Reader::Directories(size_t Optional, uint16_t OptionalBytes) {
  const uint32_t Count = Field<uint32_t>(File_, Optional + OptionalDirectoryCount);
  if (uint64_t{Count} * DirectoryBytes > OptionalBytes - OptionalDirectories) {
    return Fail("truncated file: the data directories are cut short");
  }
  for (uint32_t Index = 0; Index < Count; Index++) {
    const size_t Entry = Optional + OptionalDirectories + Index * DirectoryBytes;
    Out_.Directories.push_back(
        {Field<uint32_t>(File_, Entry), Field<uint32_t>(File_, Entry + sizeof(uint32_t))});
  }
  return true;
}

bool Reader::SectionTable(size_t Table, uint16_t Count) {
  if (!Within(Table, uint64_t{Count} * SectionHeaderBytes, File_.size())) {
    return Fail("truncated file: the section table is cut short");
  }
  for (uint16_t Index = 0; Index < Count; Index++) {
    const size_t At = Table + Index * SectionHeaderBytes;
    PeSection S;
    S.Name.assign(reinterpret_cast<const char *>(File_.data() + At),
                  strnlen(reinterpret_cast<const char *>(File_.data() + At), SectionNameBytes));
    S.VirtualBytes = Field<uint32_t>(File_, At + 8);
    S.Rva = Field<uint32_t>(File_, At + 12);
    S.RawBytes = Field<uint32_t>(File_, At + 16);
    S.RawOffset = Field<uint32_t>(File_, At + 20);
    S.Characteristics = Field<uint32_t>(File_, At + 36);
    if (!Within(S.Rva, S.Extent(), Out_.SizeOfImage) || S.Rva < Out_.SizeOfHeaders) {
      return Fail("section " + S.Name + " lies outside the image");
    }
    if (!Within(S.RawOffset, S.RawBytes, File_.size())) {
      return Fail("truncated file: section " + S.Name + " is cut short");
    }
    Out_.Sections.push_back(std::move(S));
  }
  return true;
}

std::optional<PeFile> Reader::Run() {
  size_t Table = 0;
  uint16_t Count = 0;
  if (!Headers(Table, Count) || !SectionTable(Table, Count)) {
    return std::nullopt;
  }
  return std::move(Out_);
}

} // namespace

bool PeSection::Executable() const {
  return (Characteristics & ScnMemExecute) != 0;
}

bool PeSection::Writable() const {
  return (Characteristics & ScnMemWrite) != 0;
}

const PeSection *PeFile::SectionAt(uint32_t Rva) const {
  for (const PeSection &Each : Sections) {
    if (Rva >= Each.Rva && Rva - Each.Rva < Each.Extent()) {
      return &Each;
    }
  }
  return nullptr;
}

// Every section's file bytes lie in the file (ReadPeFile checks), so inside them is in the file.
std::optional<size_t> PeFile::FileOffset(uint32_t Rva, uint32_t Length) const {
  const PeSection *Owner = SectionAt(Rva);
  if (Owner == nullptr || !Within(Rva - Owner->Rva, Length, Owner->RawBytes)) {
    return std::nullopt;
  }
  return size_t{Owner->RawOffset} + (Rva - Owner->Rva);
}

PeDirectory PeFile::Directory(size_t Index) const {
  return Index < Directories.size() ? Directories[Index] : PeDirectory{};
}

std::optional<PeFile> ReadPeFile(std::span<const uint8_t> File, std::string &Error) {
  return Reader(File, Error).Run();
}

std::vector<uint32_t> Dir64Relocations(std::span<const uint8_t> Table, uint32_t TableRva,
                                       uint32_t SizeOfImage, std::vector<std::string> &Problems) {
  std::vector<uint32_t> Targets;
  for (size_t Block = 0; Block < Table.size();) {
    if (!Within(Block, RelocationBlockHeaderBytes, Table.size())) {
      Problems.push_back("relocation block at " + Hex(TableRva + Block) + " is cut short");
      break;
    }
    const uint32_t Page = Field<uint32_t>(Table, Block);
    const uint32_t BlockBytes = Field<uint32_t>(Table, Block + sizeof(uint32_t));
    if (BlockBytes < RelocationBlockHeaderBytes || BlockBytes % sizeof(uint16_t) != 0 ||
        !Within(Block, BlockBytes, Table.size())) {
      Problems.push_back("relocation block at " + Hex(TableRva + Block) + " is malformed");
      break;
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
        Problems.push_back("unknown relocation type " + std::to_string(Type) + " at RVA " + Hex(Target));
      } else if (!Within(Target, sizeof(uint64_t), SizeOfImage)) {
        Problems.push_back("relocation at RVA " + Hex(Target) + " lies outside the image");
      } else {
        Targets.push_back(static_cast<uint32_t>(Target));
      }
    }
    Block += BlockBytes;
  }
  return Targets;
}

} // namespace cpu
