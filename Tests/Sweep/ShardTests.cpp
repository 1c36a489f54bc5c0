// The shard arithmetic of the sweeps: the shards of a walk take each chosen event exactly once
// between them, and a shard is given as I/N with 1 <= I <= N.
#include "SweepHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace sweep {
namespace {

TEST(SweepShards, ShardsWalkEachChosenEventOnce) {
  struct Case {
    uint64_t Events, Steps, Shards;
  };
  // A full walk, a spread one, more shards than events, fewer events than steps, one shard.
  for (const Case &Each :
       {Case{12'048, 0, 8}, Case{42, 6, 4}, Case{5, 0, 7}, Case{3, 12, 2}, Case{10, 0, 1}}) {
    const std::vector<uint64_t> Whole = ChosenEvents(Each.Events, Each.Steps, {1, 1});
    std::vector<uint64_t> Together;
    for (uint64_t Index = 1; Index <= Each.Shards; Index++) {
      const std::vector<uint64_t> Part = ChosenEvents(Each.Events, Each.Steps, {Index, Each.Shards});
      Together.insert(Together.end(), Part.begin(), Part.end());
    }
    std::sort(Together.begin(), Together.end());
    EXPECT_EQ(Together, Whole) << Each.Events << " events, " << Each.Steps << " steps, " << Each.Shards
                               << " shards";
  }
  EXPECT_EQ(ChosenEvents(42, 6, {1, 1}), (std::vector<uint64_t>{1, 9, 17, 25, 33, 42}));
  EXPECT_EQ(ChosenEvents(20, 0, {3, 8}), (std::vector<uint64_t>{3, 11, 19}));
}

TEST(SweepShards, ShardIsIndexOverCount) {
  EXPECT_EQ(ParseShard("3/8")->Index, 3u);
  EXPECT_EQ(ParseShard("3/8")->Count, 8u);
  for (const char *Good : {"1/1", "8/8"}) {
    EXPECT_TRUE(ParseShard(Good).has_value()) << Good;
  }
  for (const char *Bad : {"0/8", "9/8", "3/0", "3", "/8", "3/", "-1/8", "3/8x"}) {
    EXPECT_FALSE(ParseShard(Bad).has_value()) << Bad;
  }
}

// A count that is no number is left to the caller as an unknown option (a usage error), where
// it used to end the program with an uncaught exception.
TEST(SweepSettings, ACountThatIsNoNumberIsLeftUnparsed) {
  for (std::string Flag : {"--steps", "--records"}) {
    std::string Value = Flag == "--steps" ? "abc" : "nvram=-1";
    std::string Program = "sweep", Boardsim = "--boardsim", Path = "x", Work = "--work";
    char *Argv[] = {Program.data(), Boardsim.data(), Path.data(), Work.data(),
                    Path.data(),    Flag.data(),     Value.data()};
    Settings S;
    std::vector<std::pair<std::string, std::string>> Rest;
    ASSERT_TRUE(ParseSettings(7, Argv, S, Rest)) << Flag;
    EXPECT_EQ(Rest, (std::vector<std::pair<std::string, std::string>>{{Flag, Value}}));
  }
}

} // namespace
} // namespace sweep
