// The harness of the board's sweeps: one clean boot counts the events a sweep can make fail,
// then one boot per chosen event with that one failing, each a child boardsim process on a copy
// of the same stored files (NVRAM store, EEPROM image ...), followed by a normal boot on the
// files it left (once per set of files: boots are deterministic). Every run is classified; a
// sweep fails on a crash, a hang, a sanitizer report (leaks included), an error of the boot, a
// halt other than an allowed assertion, a damaged store, or a following boot that does not
// reach the clean boot's DSDT, variables, files and screen (screen.png at the hand-over, when
// the board has a display). A run that passes is "absorbed" (it left what the clean boot
// leaves), a "clean error" (the boot went on without what failed), either "after a bounded
// wait" (a module stalled more often than in the clean boot: a poll loop ran to its bound), or
// an allowed halt.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

namespace fs = std::filesystem;

constexpr uint64_t kDefaultSteps = 12;

// One part of a walk: of the events chosen, the Index-th, then every Count-th after it (1 <=
// Index <= Count), so that Count runs with Index 1 to Count walk each chosen event exactly once
// between them, on one machine or many.
struct Shard {
  uint64_t Index = 1;
  uint64_t Count = 1;
};

// "I/N"; nullopt unless 1 <= I <= N.
std::optional<Shard> ParseShard(const std::string &Text);

// The events a walk of Events makes fail: every one (Steps 0, or Steps >= Events) or Steps of them
// spread evenly from the first to the last; then the shard's part of those.
std::vector<uint64_t> ChosenEvents(uint64_t Events, uint64_t Steps, Shard Part);

struct Settings {
  fs::path Boardsim;
  fs::path Work;
  uint64_t Steps = kDefaultSteps; // per walk; 0: every event
  Shard Part;                     // of the chosen events, the ones this run walks
  bool StartBooted = false;       // start from the store of a clean first boot, not an empty one
  std::vector<std::string> AllowedHalts;
  std::vector<std::string> BootOptions;        // given to every boot (--boot-option, once per argument)
  std::map<std::string, fs::path> StoredFiles; // board option -> the file every run starts from
  // Stored files made of records (option -> record size): after a failing boot each record a
  // clean boot keeps is kept, the others may be part way to a clean boot's. Otherwise the whole
  // file is as it was or as a clean boot leaves it.
  std::map<std::string, size_t> RecordBytes;
};

// One kind of event a sweep walks: the board-log line of a clean boot that counts them
// ("firmware allocations: 12", "faults: i2c1-nack: 42 transfers ..."), and the boot
// arguments that make the event of a number fail.
struct Walk {
  std::string Name;      // "allocation", "i2c1-nack" ...
  std::string CountLine; // the log text the count follows
  std::function<std::vector<std::string>(uint64_t)> Arguments;
};

// The options every sweep program takes (--boardsim, --work, --steps, --shard I/N, --start,
// --allowed-halts, --boot-option, --stored-file OPTION=SEED, --records OPTION=BYTES), and
// SWEEP_FULL=1 and SWEEP_SHARD=I/N from the environment. A shard works in a folder of its own
// (WORK-shard-I-of-N), so that shards can share a machine. Returns the arguments it does not know
// (flag, value) for the program's own.
bool ParseSettings(int argc, char **argv, Settings &S,
                   std::vector<std::pair<std::string, std::string>> &Rest);
extern const char kSettingsUsage[];

// Runs each walk in turn on a shared clean boot; prints every failing run and each walk's
// figures. True when no run failed.
bool RunSweep(const Settings &S, const std::vector<Walk> &Walks);

} // namespace sweep
