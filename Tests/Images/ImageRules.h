// The checks every UEFI image of the board must pass: AArch64 PE32+, the right EFI subsystem,
// no imports, loadable at any base, an entry point in executable code. Images are read with the
// processor's PE reader (Platform/Cpu/PeFile.h), the one its loader uses.
#pragma once

#include <PeFile.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace images {

using cpu::IMAGE_SUBSYSTEM_EFI_APPLICATION;
using cpu::IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER;
using cpu::PeSection;

// An image file with its headers.
struct PeImage : cpu::PeFile {
  std::vector<uint8_t> Bytes;
};

// Reads the headers; on failure returns nullopt and says why in Error.
std::optional<PeImage> ParsePeImage(std::vector<uint8_t> Bytes, std::string &Error);
std::optional<PeImage> ReadPeImage(const std::filesystem::path &Path, std::string &Error);

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
