// Loads PE32+ AArch64 images (the board's .efi files) into pages of guest RAM: headers and
// sections copied, base relocations applied, the entry point and each section's range and
// protection reported. Every check runs on the file before any page is asked for, so a refused
// image leaves nothing behind.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cpu {

struct LoadedSection {
  std::string Name;
  uint64_t Base = 0;  // guest address, page aligned
  uint64_t Bytes = 0; // whole pages
  bool Executable = false;
  bool Writable = false;
};

struct LoadedImage {
  uint64_t Base = 0;
  uint64_t Bytes = 0; // whole pages
  uint64_t Entry = 0;
  uint16_t Subsystem = 0; // 10 application, 11 boot-service driver
  std::vector<LoadedSection> Sections;
};

// Pages of guest RAM for an image: the guest address and the host bytes behind it, or nullopt
// when there are none. Subsystem says what the image is (the board allocates EfiLoaderCode for
// applications, EfiBootServicesCode for drivers).
struct GuestPages {
  uint64_t Base;
  uint8_t *Host;
};
using PageAllocator = std::function<std::optional<GuestPages>(uint64_t Pages, uint16_t Subsystem)>;

// The image, or nullopt with the reason in Error ("not a PE32+ image for AArch64", "unknown
// relocation type 3 at RVA 0x2010", "section .data lies outside the image" ...). An image larger
// than MostBytes (the memory images load into) is refused before it is laid out.
std::optional<LoadedImage> LoadPeImage(std::span<const uint8_t> File, uint64_t MostBytes,
                                       const PageAllocator &Allocate, std::string &Error);

// Why LoadPeImage would refuse File, or empty: a load into scratch pages.
std::string PeImageProblem(std::span<const uint8_t> File, uint64_t MostBytes);

} // namespace cpu
