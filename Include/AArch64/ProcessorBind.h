// Argument lists of the AArch64 images.
//
// The images are compiled for the Windows AArch64 target, whose own va_list is a pointer to the
// argument slots; the firmware they run in is built for the AArch64 procedure-call standard,
// whose va_list is a 32-byte record (Aapcs64VaList.h). An argument list that crosses to that
// firmware, such as the one DebugPrint hands to DEBUG_OUTPUT_PROTOCOL.Print, has to be the
// record, so VA_LIST is the record in the images as well:
// - VA_START takes the compiler's slot pointer (the register arguments saved next to the
//   stacked ones, 8 bytes each) and makes it the record's stacked area, both offsets 0;
// - VA_ARG walks the record by the standard's rules, so it reads records made elsewhere too;
// - passing a VA_LIST by value hands the callee the address of a copy, as the standard does.
#pragma once

#include <AArch64/Aapcs64VaList.h>

typedef AAPCS64_VA_LIST VA_LIST;

#define VA_START(Marker, Parameter)                                                                          \
  do {                                                                                                       \
    __builtin_va_list VaSlots_;                                                                              \
    __builtin_va_start(VaSlots_, Parameter);                                                                 \
    (Marker) = Aapcs64VaListFromSlots(VaSlots_);                                                             \
  } while (FALSE)
#define VA_ARG(Marker, TYPE) Aapcs64VaArg<TYPE>(Marker)
#define VA_END(Marker) ((VOID)(Marker))
#define VA_COPY(Dest, Start) ((Dest) = (Start))
