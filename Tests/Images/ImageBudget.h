// The flash budget of the AArch64 images: the firmware volumes they ship in are small. The
// image checks enforce it and board-bench prints the sizes against it.
#pragma once

#include <cstdint>
#include <string_view>

namespace images {

struct ImageCap {
  std::string_view Name;
  uint64_t Bytes;
};

// Images with a cap of their own.
inline constexpr ImageCap kImageCaps[] = {{"Vidframe", 28'730}, {"Vaultcell", 16'384}};
// Every module of Drivers/ and Application/ together.
inline constexpr uint64_t kModulesCapBytes = 140 * 1024;

} // namespace images
