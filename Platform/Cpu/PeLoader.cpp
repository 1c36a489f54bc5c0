// The PE32+ loader: read and check the file, lay the image out, relocate, copy into guest pages.
#include "PeLoader.h"

#include "CpuCommon.h"
#include "PeFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace cpu {

namespace {

constexpr uint64_t PageBytes = 4096;

uint64_t PagesOf(uint64_t Bytes) {
  return (Bytes + PageBytes - 1) / PageBytes;
}

bool Within(uint64_t Offset, uint64_t Length, uint64_t Size) {
  return Offset <= Size && Length <= Size - Offset;
}

// What a load needs beyond a well-formed file: AArch64 code, sections that can each have
// their own protection, and an entry point in code.
bool Loadable(const PeFile &Image, std::string &Error) {
  if (Image.Machine != IMAGE_FILE_MACHINE_ARM64) {
    Error = "not a PE32+ image for AArch64 (machine " + Hex(Image.Machine) + ")";
    return false;
  }
  if (Image.SectionAlignment == 0 || Image.SectionAlignment % PageBytes != 0) {
    Error = "section alignment " + Hex(Image.SectionAlignment) +
            " is not whole pages: sections cannot have protections";
    return false;
  }
  bool EntryInCode = false;
  for (const PeSection &S : Image.Sections) {
    if (S.Rva % PageBytes != 0) {
      Error = "section " + S.Name + " does not start on a page: it cannot have its own protection";
      return false;
    }
    EntryInCode |= S.Executable() && Image.Entry - S.Rva < S.VirtualBytes;
  }
  if (!EntryInCode) {
    Error = "the entry point " + Hex(Image.Entry) + " is not in an executable section";
    return false;
  }
  return true;
}

// The image as it lies in memory, at its linked base.
std::vector<uint8_t> Layout(std::span<const uint8_t> File, const PeFile &Image) {
  std::vector<uint8_t> Memory(PagesOf(Image.SizeOfImage) * PageBytes);
  std::memcpy(Memory.data(), File.data(), Image.SizeOfHeaders);
  for (const PeSection &S : Image.Sections) {
    // Bytes past the section's size in memory are file padding; the rest of it is zero.
    const uint32_t Copied = S.VirtualBytes == 0 ? S.RawBytes : std::min(S.RawBytes, S.VirtualBytes);
    std::memcpy(Memory.data() + S.Rva, File.data() + S.RawOffset, Copied);
  }
  return Memory;
}

// The RVAs of the 64-bit words the relocations patch; nullopt with Error on anything else.
std::optional<std::vector<uint32_t>> Relocations(const std::vector<uint8_t> &Memory, const PeFile &Image,
                                                 std::string &Error) {
  const PeDirectory Table = Image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
  if (!Within(Table.Rva, Table.Bytes, Image.SizeOfImage)) {
    Error = "the relocations lie outside the image";
    return std::nullopt;
  }
  std::vector<std::string> Problems;
  std::vector<uint32_t> Targets = Dir64Relocations(std::span(Memory.data() + Table.Rva, Table.Bytes),
                                                   Table.Rva, Image.SizeOfImage, Problems);
  if (!Problems.empty()) {
    Error = Problems.front();
    return std::nullopt;
  }
  return Targets;
}

} // namespace

std::optional<LoadedImage> LoadPeImage(std::span<const uint8_t> File, uint64_t MostBytes,
                                       const PageAllocator &Allocate, std::string &Error) {
  std::optional<PeFile> Image = ReadPeFile(File, Error);
  if (!Image || !Loadable(*Image, Error)) {
    return std::nullopt;
  }
  if (PagesOf(Image->SizeOfImage) > MostBytes / PageBytes) {
    Error = "the image needs " + std::to_string(PagesOf(Image->SizeOfImage)) + " pages, more than the " +
            std::to_string(MostBytes / PageBytes) + " of the memory images load into";
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
    uint64_t Word;
    std::memcpy(&Word, Memory.data() + Target, sizeof(Word));
    Word += Delta;
    std::memcpy(Memory.data() + Target, &Word, sizeof(Word));
  }
  std::memcpy(Pages->Host, Memory.data(), Memory.size());
  LoadedImage Loaded{Pages->Base, Memory.size(), Pages->Base + Image->Entry, Image->Subsystem, {}};
  for (const PeSection &S : Image->Sections) {
    Loaded.Sections.push_back(
        {S.Name, Pages->Base + S.Rva, PagesOf(S.Extent()) * PageBytes, S.Executable(), S.Writable()});
  }
  return Loaded;
}

std::string PeImageProblem(std::span<const uint8_t> File, uint64_t MostBytes) {
  constexpr uint64_t ScratchBase = 0; // any page serves: the relocations only move words
  std::vector<uint8_t> Scratch;
  std::string Error;
  LoadPeImage(
      File, MostBytes,
      [&](uint64_t Pages, uint16_t) {
        Scratch.assign(Pages * PageBytes, 0);
        return std::optional<GuestPages>({ScratchBase, Scratch.data()});
      },
      Error);
  return Error;
}

} // namespace cpu
