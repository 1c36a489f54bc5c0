// The AArch64 images of the uefi-aarch64 build (UEFI_IMAGE_DIR from the environment first).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace cpu {

// The bytes of Name (such as "Vaultcell.efi"); empty when it has not been built.
inline std::vector<uint8_t> ImageFile(const char *Name) {
  const char *FromEnvironment = std::getenv("UEFI_IMAGE_DIR");
  const std::filesystem::path Dir =
      FromEnvironment && *FromEnvironment ? FromEnvironment : UEFI_IMAGE_DIR_DEFAULT;
  std::ifstream File(Dir / Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(File), {}};
}

} // namespace cpu
