// The walk of a guest's AAPCS64 argument list.
#include "GuestVaList.h"

#include "CpuCommon.h"

namespace cpu {

namespace {

// The record's fields, by offset.
constexpr uint64_t StackField = 0;
constexpr uint64_t GrTopField = 8;
constexpr uint64_t GrOffsField = 24;

} // namespace

std::optional<GuestVaList> GuestVaList::At(const GuestMemory &Ram, uint64_t Address) {
  GuestVaList List(Ram);
  if (!Ram.Read(Address + StackField, &List.Stack_, sizeof(List.Stack_)) ||
      !Ram.Read(Address + GrTopField, &List.GrTop_, sizeof(List.GrTop_)) ||
      !Ram.Read(Address + GrOffsField, &List.GrOffs_, sizeof(List.GrOffs_))) {
    return std::nullopt;
  }
  return List;
}

std::optional<uint64_t> GuestVaList::Next() {
  uint64_t Slot = 0;
  const int32_t Offset = GrOffs_;
  if (Offset < 0 && (GrOffs_ = Offset + static_cast<int32_t>(ArgumentBytes)) <= 0) {
    Slot = GrTop_ + static_cast<int64_t>(Offset);
  } else {
    Slot = Stack_;
    Stack_ += ArgumentBytes;
  }
  uint64_t Value = 0;
  if (!Ram_.Read(Slot, &Value, sizeof(Value))) {
    return std::nullopt;
  }
  return Value;
}

} // namespace cpu
