// Allocation-failure sweep of the whole board: the clean boot counts the firmware allocations,
// then each chosen allocation fails in a boot of its own (boardsim boot --fail-alloc N).
//
//   AllocationSweep <sweep options>
// SWEEP_FULL=1 (or --steps 0) walks every allocation; otherwise --steps of them (default 12),
// spread evenly. --start booted sweeps the second boot: every run starts from the store a
// first clean boot left.
#include "SweepHarness.h"

#include <iostream>

int main(int argc, char **argv) {
  sweep::Settings S;
  std::vector<std::pair<std::string, std::string>> Rest;
  if (!sweep::ParseSettings(argc, argv, S, Rest) || !Rest.empty()) {
    std::cerr << "usage: AllocationSweep " << sweep::kSettingsUsage << "\n";
    return 2;
  }
  const sweep::Walk Allocations = {"allocation", "firmware allocations: ", [](uint64_t Step) {
                                     return std::vector<std::string>{"--fail-alloc", std::to_string(Step)};
                                   }};
  return sweep::RunSweep(S, {Allocations}) ? 0 : 1;
}
