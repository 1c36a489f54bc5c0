// The argument-list record of the AArch64 procedure-call standard, and its walk.
//
// Firmware built for the standard (the board's own firmware, and everything the GNU AArch64 tool
// chain builds) keeps a va_list as this 32-byte record. The arguments still held in registers
// sit in save areas that end at GrTop and VrTop, at the negative offsets GrOffs and VrOffs; an
// offset of 0 or more means the area is used up and the next argument is in the stacked slots
// at Stack, 8 bytes each. A function taking a va_list receives the address of a copy of the
// record, as for every record larger than 16 bytes.
#pragma once

struct AAPCS64_VA_LIST {
  UINT8 *Stack; // __stack: the next stacked argument slot
  UINT8 *GrTop; // __gr_top: the end of the general-register save area
  UINT8 *VrTop; // __vr_top: the end of the vector-register save area
  INT32 GrOffs; // __gr_offs: the next saved general register, from GrTop; >= 0 when none is left
  INT32 VrOffs; // __vr_offs: the same for the vector registers
};
static_assert(sizeof(AAPCS64_VA_LIST) == 32);
static_assert(OFFSET_OF(AAPCS64_VA_LIST, Stack) == 0);
static_assert(OFFSET_OF(AAPCS64_VA_LIST, GrTop) == 8);
static_assert(OFFSET_OF(AAPCS64_VA_LIST, VrTop) == 16);
static_assert(OFFSET_OF(AAPCS64_VA_LIST, GrOffs) == 24);
static_assert(OFFSET_OF(AAPCS64_VA_LIST, VrOffs) == 28);

// Every argument of the general-register class (integers and pointers of up to 8 bytes) takes
// one 8-byte register or stack slot.
constexpr UINTN AAPCS64_VA_SLOT_SIZE = 8;

// A record whose arguments are all in the slots that start at Slots: no register save area
// (both offsets 0), so every argument is read from the slots in order.
inline AAPCS64_VA_LIST Aapcs64VaListFromSlots(VOID *Slots) {
  return {static_cast<UINT8 *>(Slots), nullptr, nullptr, 0, 0};
}

// The address of the next general-register-class argument, by the standard's va_arg: from the
// register save area while its offset is negative and the argument fits below GrTop, else from
// the next stacked slot.
inline VOID *Aapcs64VaListNext(AAPCS64_VA_LIST &List) {
  if (List.GrOffs < 0) {
    INT32 Offset = List.GrOffs;
    List.GrOffs = Offset + (INT32)AAPCS64_VA_SLOT_SIZE;
    if (List.GrOffs <= 0) {
      return List.GrTop + Offset;
    }
  }
  UINT8 *Slot = List.Stack;
  List.Stack = Slot + AAPCS64_VA_SLOT_SIZE;
  return Slot;
}

// The next argument as TYPE. Only the general-register class is walked: firmware passes no
// floating-point values (it is built without the vector registers) and no records by value.
template <typename TYPE> inline TYPE Aapcs64VaArg(AAPCS64_VA_LIST &List) {
  static_assert(sizeof(TYPE) <= AAPCS64_VA_SLOT_SIZE && !__is_class(TYPE) && !__is_union(TYPE),
                "an argument list carries integers and pointers of up to 8 bytes");
  return *static_cast<TYPE *>(Aapcs64VaListNext(List));
}
