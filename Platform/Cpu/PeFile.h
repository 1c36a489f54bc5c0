// The PE32+ format of the board's .efi images: headers, sections, data directories and base
// relocations, each read with its bounds checked. The loader (PeLoader.h) and the image checks
// read images through it; what only a load needs (AArch64, page-aligned sections, an entry in
// code, relocations it can apply) the loader checks on top.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cpu {

constexpr uint16_t IMAGE_FILE_MACHINE_ARM64 = 0xAA64;
constexpr uint16_t IMAGE_FILE_RELOCS_STRIPPED = 0x0001;
constexpr uint16_t IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002;
constexpr uint16_t IMAGE_SUBSYSTEM_EFI_APPLICATION = 10;
constexpr uint16_t IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER = 11;
constexpr size_t IMAGE_DIRECTORY_ENTRY_IMPORT = 1;
constexpr size_t IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;

struct PeSection {
  std::string Name;
  uint32_t Rva = 0;
  uint32_t VirtualBytes = 0;
  uint32_t RawOffset = 0;
  uint32_t RawBytes = 0;
  uint32_t Characteristics = 0;
  bool Executable() const;
  bool Writable() const;
  uint32_t Extent() const { return VirtualBytes > RawBytes ? VirtualBytes : RawBytes; } // in the image
};

struct PeDirectory {
  uint32_t Rva = 0;
  uint32_t Bytes = 0;
};

// The headers of a PE32+ file whose structures all lie inside the file, and whose headers and
// sections lie inside the image.
struct PeFile {
  uint16_t Machine = 0;
  uint16_t Characteristics = 0; // of the file (IMAGE_FILE_*)
  uint32_t Entry = 0;           // RVA of the entry point
  uint64_t ImageBase = 0;
  uint32_t SectionAlignment = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  uint16_t Subsystem = 0;
  std::vector<PeDirectory> Directories;
  std::vector<PeSection> Sections;

  const PeSection *SectionAt(uint32_t Rva) const;
  // Where [Rva, Rva + Length) lies in the file, when one section's file bytes hold all of it.
  std::optional<size_t> FileOffset(uint32_t Rva, uint32_t Length) const;
  PeDirectory Directory(size_t Index) const; // empty when the file has fewer
};

// The file's headers, or nullopt with the reason in Error ("not a PE image: no DOS header",
// "truncated file: section .text is cut short", "section .data lies outside the image" ...).
std::optional<PeFile> ReadPeFile(std::span<const uint8_t> File, std::string &Error);

// The RVAs of the 64-bit words the base relocations in Table (the relocation directory's
// bytes, found at TableRva) patch, in an image of SizeOfImage bytes. Each problem goes to
// Problems ("unknown relocation type 3 at RVA 0x2010" ...); a malformed block ends the walk.
std::vector<uint32_t> Dir64Relocations(std::span<const uint8_t> Table, uint32_t TableRva,
                                       uint32_t SizeOfImage, std::vector<std::string> &Problems);

} // namespace cpu
