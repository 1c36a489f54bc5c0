// A small reader of PE32+ images and the checks every UEFI image of the board must pass:
// AArch64 PE32+, the right EFI subsystem, no imports, loadable at any base, and an entry
// point in executable code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace images {

constexpr uint16_t IMAGE_FILE_MACHINE_ARM64 = 0xAA64;
constexpr uint16_t IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x20B;
constexpr uint16_t IMAGE_SUBSYSTEM_EFI_APPLICATION = 10;
constexpr uint16_t IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER = 11;

struct Section {
  std::string Name;
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawOffset = 0;
  uint32_t RawSize = 0;
  uint32_t Characteristics = 0;
  bool IsExecutable() const;
};

struct DataDirectory {
  uint32_t Rva = 0;
  uint32_t Size = 0;
};

struct PeImage {
  std::vector<uint8_t> Bytes;
  uint16_t Machine = 0;
  uint16_t FileCharacteristics = 0;
  uint16_t Magic = 0;
  uint32_t AddressOfEntryPoint = 0;
  uint64_t ImageBase = 0;
  uint32_t SectionAlignment = 0;
  uint32_t SizeOfImage = 0;
  uint16_t Subsystem = 0;
  std::vector<DataDirectory> Directories;
  std::vector<Section> Sections;

  const Section *SectionAt(uint32_t Rva) const;
  // The file bytes behind [Rva, Rva + Length), or nullopt when they are not all in the file.
  std::optional<size_t> FileOffset(uint32_t Rva, uint32_t Length) const;
  DataDirectory Directory(size_t Index) const;
};

// Parses the headers; on failure returns nullopt and says why in Error.
std::optional<PeImage> ParsePeImage(std::vector<uint8_t> Bytes, std::string &Error);
std::optional<PeImage> LoadPeImage(const std::filesystem::path &Path, std::string &Error);

// RVAs that the base relocations patch as 64-bit addresses; problems go to Errors.
std::vector<uint32_t> Dir64RelocationTargets(const PeImage &Image, std::vector<std::string> &Errors);

// Every check below returns the problems it found; empty means the image passes.
std::vector<std::string> CheckHeaders(const PeImage &Image, uint16_t ExpectedSubsystem);
std::vector<std::string> CheckNoImports(const PeImage &Image);
std::vector<std::string> CheckEntryPoint(const PeImage &Image);
// The image can be loaded at another base: relocations are not stripped, the relocation
// table is well formed, and every 64-bit value in the image that points into the image is
// patched by a relocation.
std::vector<std::string> CheckRelocatable(const PeImage &Image);
// No section lists initialisers or finalisers (.CRT$XC*, .init_array, .ctors ...): nothing runs
// them in a UEFI image, so the globals they set would stay as the loader left them.
std::vector<std::string> CheckNoInitialisers(const PeImage &Image);
// Every object of the image was compiled with strict alignment (-mstrict-align): the image has
// the strict alignment mark and not the one an object compiled with unaligned accesses allowed
// leaves (Include/AArch64/AlignmentMark.h). With the MMU off an unaligned access faults.
std::vector<std::string> CheckStrictAlignment(const PeImage &Image);

} // namespace images
