// Device-fault sweep of the whole board through the models' counting knobs: the clean boot
// logs how many events each knob can name ("faults: i2c1-nack: 42 transfers ..."), then each
// chosen event fails in a boot of its own (boardsim boot --fault KNOB=N).
//
//   FaultSweep <sweep options> --knob KNOB...
// SWEEP_FULL=1 (or --steps 0) walks every event of every knob; otherwise --steps per knob
// (default 12), spread evenly.
#include "SweepHarness.h"

#include <iostream>

int main(int argc, char **argv) {
  sweep::Settings S;
  std::vector<std::pair<std::string, std::string>> Rest;
  const bool Parsed = sweep::ParseSettings(argc, argv, S, Rest);
  std::vector<sweep::Walk> Walks;
  for (const auto &[Flag, Knob] : Rest) {
    if (Flag != "--knob") {
      Walks.clear();
      break;
    }
    Walks.push_back({Knob, "faults: " + Knob + ": ", [Knob](uint64_t Step) {
                       return std::vector<std::string>{"--fault", Knob + "=" + std::to_string(Step)};
                     }});
  }
  if (!Parsed || Walks.empty()) {
    std::cerr << "usage: FaultSweep " << sweep::kSettingsUsage << " --knob KNOB...\n";
    return 2;
  }
  return sweep::RunSweep(S, Walks) ? 0 : 1;
}
