// Reading what a boardsim run left behind: whole files as text, and counting what they hold.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace board_test {

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path &File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// How often Needle stands in Text (overlapping occurrences counted).
inline size_t Count(const std::string &Text, const std::string &Needle) {
  size_t Found = 0;
  for (size_t At = Text.find(Needle); At != std::string::npos; At = Text.find(Needle, At + 1)) {
    Found++;
  }
  return Found;
}

} // namespace board_test
