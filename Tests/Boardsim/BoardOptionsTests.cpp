// The boardsim option registry: parsing and the help listing.
#include "BoardOptions.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::vector<OptionSpec> kSpecs = {
    {"--out", "DIR", "artifacts folder"},
    {"--quiet", "", "no log"},
    {"--eeprom-mac-slots", "SLOT=TEXT,...", "the MAC texts, by slot"},
};

TEST(BoardOptions, HelpKeepsEveryOptionApartFromItsText) {
  std::ostringstream Out;
  OptionSet(kSpecs).PrintOptions(Out);
  std::istringstream Lines(Out.str());
  std::string Line;
  size_t Column = std::string::npos;
  int Count = 0;
  while (std::getline(Lines, Line)) {
    Count++;
    // The option and its value, then at least two blanks, then the help in one column.
    const size_t Value = Line.find_first_not_of(' ', 2);
    const size_t Gap = Line.find("  ", Value);
    ASSERT_NE(Gap, std::string::npos) << Line;
    const size_t Help = Line.find_first_not_of(' ', Gap);
    if (Column == std::string::npos) {
      Column = Help;
    }
    EXPECT_EQ(Help, Column) << Line;
  }
  EXPECT_EQ(Count, 4);
  EXPECT_NE(Out.str().find("--eeprom-mac-slots SLOT=TEXT,...  the MAC texts, by slot"), std::string::npos);
}

TEST(BoardOptions, ValuesSwitchesAndErrors) {
  const char *Words[] = {"boot", "--out=dir", "--quiet", "extra", "--eeprom-mac-slots", "1=a"};
  OptionSet Options(kSpecs);
  std::string Error;
  ASSERT_TRUE(Options.Parse(6, const_cast<char **>(Words), Error)) << Error;
  EXPECT_EQ(Options.Value("--out"), "dir");
  EXPECT_TRUE(Options.Has("--quiet"));
  EXPECT_EQ(Options.Value("--eeprom-mac-slots"), "1=a");
  EXPECT_EQ(Options.Positionals(), std::vector<std::string>{"extra"});

  const char *Missing[] = {"boot", "--out"};
  OptionSet Again(kSpecs);
  EXPECT_FALSE(Again.Parse(2, const_cast<char **>(Missing), Error));
  EXPECT_EQ(Error, "--out needs a value (DIR)");
}

} // namespace
