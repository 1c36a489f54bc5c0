// A test's temporary files: named after the process and the test, so that tests running in
// parallel processes never share one, and removed when the test is done with them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace board_test {

// <temp>/<Stem>-<process id>-<suite>.<test>
inline std::filesystem::path ScratchPath(const std::string &Stem) {
  std::string Name = Stem + "-" + std::to_string(getpid());
  if (const testing::TestInfo *Test = testing::UnitTest::GetInstance()->current_test_info()) {
    Name += std::string("-") + Test->test_suite_name() + "." + Test->name();
  }
  std::replace(Name.begin(), Name.end(), '/', '_'); // parameterised tests
  return std::filesystem::temp_directory_path() / Name;
}

// A scratch file or folder, removed with what it holds when the scratch goes out of scope.
class Scratch {
public:
  explicit Scratch(const std::string &Stem) : Path_(ScratchPath(Stem)) { Remove(); }
  ~Scratch() { Remove(); }
  Scratch(const Scratch &) = delete;
  Scratch &operator=(const Scratch &) = delete;
  const std::filesystem::path &Path() const { return Path_; }
  operator const std::filesystem::path &() const { return Path_; }

private:
  void Remove() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path_, Ignored);
  }
  std::filesystem::path Path_;
};

} // namespace board_test
