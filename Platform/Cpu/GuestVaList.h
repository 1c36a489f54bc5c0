// A guest's argument list as the AArch64 procedure-call standard keeps it: a 32-byte record
// {__stack, __gr_top, __vr_top, __gr_offs, __vr_offs} in guest memory, whose address a function
// taking a va_list receives. The general registers still saved sit below __gr_top from the
// negative offset __gr_offs; once it reaches 0 the arguments continue in 8-byte slots at __stack.
#pragma once

#include "GuestMemory.h"

#include <cstdint>
#include <optional>

namespace cpu {

class GuestVaList {
public:
  static constexpr uint64_t RecordBytes = 32;

  // The record at Address; nullopt when it is not all in RAM.
  static std::optional<GuestVaList> At(const GuestMemory &Ram, uint64_t Address);
  // The next argument of the general-register class (an integer or pointer of up to 8 bytes),
  // by the standard's va_arg; nullopt when its slot is not in RAM.
  std::optional<uint64_t> Next();

private:
  GuestVaList(const GuestMemory &Ram) : Ram_(Ram) {}
  const GuestMemory &Ram_;
  uint64_t Stack_ = 0;
  uint64_t GrTop_ = 0;
  int32_t GrOffs_ = 0;
};

} // namespace cpu
