// Data-cache maintenance as the board records it. A walk by set/way is one operation once it has
// covered every line of every data or unified cache level CLIDR/CCSIDR describe ("ArmCleanDataCache",
// ...); a walk that stops short is recorded as incomplete and is an error, since a cache not
// fully cleaned before the caches go off loses data. DC by address over consecutive lines is one
// range operation ("ArmCleanDataCacheRange", ...), recorded at its first line.
#pragma once

#include "SystemRegisters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cpu {

enum class DataCacheOp;
class Bus;

class CacheMaintenance {
public:
  explicit CacheMaintenance(const SystemRegisters &Registers) : Registers_(Registers) {}
  void Apply(DataCacheOp Operation, uint64_t Operand, Bus &Board);
  // Ends the walk or range going on: another operation follows, or the guest call returned.
  void Close(Bus &Board);

private:
  struct LevelWalk {
    unsigned Level = 0; // 0-based, as in the set/way operand
    uint64_t Ways = 0;
    uint64_t Sets = 0;
    uint64_t LineShift = 0;
    std::vector<bool> Done; // by way * Sets + set
    uint64_t Covered = 0;
  };
  void StartWalk(DataCacheOp Operation);
  void SetWay(DataCacheOp Operation, uint64_t Operand, Bus &Board);
  void ByAddress(DataCacheOp Operation, uint64_t Address, Bus &Board);
  std::string Missed() const;

  const SystemRegisters &Registers_;
  std::optional<DataCacheOp> Walk_;
  std::vector<LevelWalk> Levels_;
  std::optional<DataCacheOp> Range_;
  uint64_t RangeNext_ = 0; // the line that continues the range
};

} // namespace cpu
