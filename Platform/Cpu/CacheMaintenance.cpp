// Set/way walks checked against the cache geometry, and DC by address runs made into ranges.
#include "CacheMaintenance.h"

#include "Aarch64Cpu.h"

#include <CacheGeometry.h>

namespace cpu {

namespace {

// CLIDR_EL1: Ctype<n> in 3-bit fields from bit 0, the level of coherence at [26:24].
constexpr unsigned ClidrLevelOfCoherenceShift = 24;
constexpr uint64_t ClidrFieldMask = 7;
constexpr unsigned ClidrTypeBits = 3;
constexpr uint64_t CacheTypeDataOrUnified = 2; // 2 data, 3 separate, 4 unified
constexpr unsigned SetWayLevelShift = 1;
constexpr uint64_t SetWayFieldMask = 0xFFFFFFFF; // the way, set and level live in the low word
constexpr unsigned CtrDminLineShift = 16;
constexpr uint64_t CtrDminLineMask = 0xF;
constexpr uint64_t CacheWordBytes = 4;
constexpr uint64_t DefaultLineBytes = 64; // the JIT's CTR_EL0 when the board gives none

const char *WalkName(DataCacheOp Operation) {
  switch (Operation) {
  case DataCacheOp::CleanBySetWay:
    return "ArmCleanDataCache";
  case DataCacheOp::InvalidateBySetWay:
    return "ArmInvalidateDataCache";
  case DataCacheOp::CleanInvalidateBySetWay:
    return "ArmCleanInvalidateDataCache";
  default:
    return nullptr;
  }
}

const char *RangeName(DataCacheOp Operation) {
  switch (Operation) {
  case DataCacheOp::CleanByAddress:
    return "ArmCleanDataCacheRange";
  case DataCacheOp::InvalidateByAddress:
    return "ArmInvalidateDataCacheRange";
  case DataCacheOp::CleanInvalidateByAddress:
    return "ArmCleanInvalidateDataCacheRange";
  default:
    return nullptr; // to the point of unification or persistence, zeroing: no ArmLib call
  }
}

uint64_t BitsFor(uint64_t Count) {
  uint64_t Bits = 0;
  while ((1ull << Bits) < Count) {
    Bits++;
  }
  return Bits;
}

} // namespace

void CacheMaintenance::Apply(DataCacheOp Operation, uint64_t Operand, Bus &Board) {
  if (WalkName(Operation) != nullptr) {
    SetWay(Operation, Operand, Board);
  } else if (RangeName(Operation) != nullptr) {
    ByAddress(Operation, Operand, Board);
  }
}

void CacheMaintenance::StartWalk(DataCacheOp Operation) {
  const ProcessorDescription &Processor = Registers_.Processor();
  const bool Wide = ArmCache::HasWideCcsidr(Processor.IdAa64Mmfr2);
  const unsigned Coherence = (Processor.Clidr >> ClidrLevelOfCoherenceShift) & ClidrFieldMask;
  Levels_.clear();
  for (unsigned Level = 0; Level < Coherence; Level++) {
    if (((Processor.Clidr >> (Level * ClidrTypeBits)) & ClidrFieldMask) < CacheTypeDataOrUnified) {
      continue;
    }
    const ArmCache::Geometry Cache = ArmCache::Decode(Processor.Ccsidr[Level << SetWayLevelShift], Wide);
    Levels_.push_back(
        {Level, Cache.Ways, Cache.Sets, Cache.LineShift, std::vector<bool>(Cache.Ways * Cache.Sets), 0});
  }
  Walk_ = Operation;
}

void CacheMaintenance::SetWay(DataCacheOp Operation, uint64_t Operand, Bus &Board) {
  if (Range_ || (Walk_ && *Walk_ != Operation)) {
    Close(Board);
  }
  if (!Walk_) {
    StartWalk(Operation);
  }
  Operand &= SetWayFieldMask;
  const unsigned Level = (Operand >> SetWayLevelShift) & ClidrFieldMask;
  bool Complete = true;
  for (LevelWalk &Each : Levels_) {
    if (Each.Level == Level) {
      const uint64_t Way = Each.Ways > 1 ? Operand >> ArmCache::WayShift(Each.Ways) : 0;
      const uint64_t Set = (Operand >> Each.LineShift) & ((1ull << BitsFor(Each.Sets)) - 1);
      if (Way < Each.Ways && Set < Each.Sets && !Each.Done[Way * Each.Sets + Set]) {
        Each.Done[Way * Each.Sets + Set] = true;
        Each.Covered++;
      }
    }
    Complete = Complete && Each.Covered == Each.Done.size();
  }
  if (Complete) {
    Board.Operation(WalkName(Operation));
    Walk_.reset();
  }
}

void CacheMaintenance::ByAddress(DataCacheOp Operation, uint64_t Address, Bus &Board) {
  const uint64_t Ctr = Registers_.Processor().Ctr;
  const uint64_t Line =
      Ctr != 0 ? CacheWordBytes << ((Ctr >> CtrDminLineShift) & CtrDminLineMask) : DefaultLineBytes;
  const uint64_t First = Address & ~(Line - 1);
  if (Range_ == Operation && First == RangeNext_) {
    RangeNext_ += Line;
    return;
  }
  Close(Board);
  Board.Operation(RangeName(Operation));
  Range_ = Operation;
  RangeNext_ = First + Line;
}

// "L2: 3 of 16384 lines (first: way 7, set 2047)" for each level the walk left lines of.
std::string CacheMaintenance::Missed() const {
  std::string Text;
  for (const LevelWalk &Each : Levels_) {
    if (Each.Covered == Each.Done.size()) {
      continue;
    }
    uint64_t First = 0;
    while (Each.Done[First]) {
      First++;
    }
    Text += (Text.empty() ? "" : "; ") + std::string("L") + std::to_string(Each.Level + 1) + ": " +
            std::to_string(Each.Done.size() - Each.Covered) + " of " + std::to_string(Each.Done.size()) +
            " lines (first: way " + std::to_string(First / Each.Sets) + ", set " +
            std::to_string(First % Each.Sets) + ")";
  }
  return Text;
}

void CacheMaintenance::Close(Bus &Board) {
  Range_.reset();
  if (!Walk_) {
    return;
  }
  const std::string Name = WalkName(*Walk_);
  Walk_.reset();
  Board.Operation(Name + " (incomplete)");
  Board.Error("set/way walk " + Name + " left lines of the data caches out: " + Missed());
}

} // namespace cpu
