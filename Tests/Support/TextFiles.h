// Running boardsim from a test and reading what it left behind: whole files as text, and
// counting what they hold.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
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

// Runs Program (a boardsim binary) with Arguments through the shell, its standard output and
// error going to Output; returns its exit status (-1 when it did not exit).
inline int RunToFile(const std::string &Program, const std::string &Arguments,
                     const std::filesystem::path &Output) {
  const std::string Command = "'" + Program + "' " + Arguments + " > '" + Output.string() + "' 2>&1";
  const int Status = std::system(Command.c_str());
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
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
