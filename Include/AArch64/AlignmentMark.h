// How the code of an AArch64 image was compiled for alignment, as a mark in the image.
//
// With the MMU off every access is to device memory, where an unaligned one faults; Slabsize
// runs there after ExitBootServices, with the print and debug libraries. The images are built
// with -mstrict-align, which keeps the compiler from emitting unaligned accesses on its own
// (merged stores, inlined copies, packed fields). Every firmware object is compiled with this
// header included first (-include, cmake/Firmware.cmake) and has the linker keep one of two
// marks in the image: the strict one, or the other when its code was compiled with unaligned
// accesses allowed. The image checks want the strict mark and not the other, so one object
// built without the flag fails them.
#pragma once

#if defined(__ARM_FEATURE_UNALIGNED)
#define ALIGNMENT_MARK_SYMBOL _gAlignmentMarkUnaligned
#define ALIGNMENT_MARK_SYMBOL_TEXT "_gAlignmentMarkUnaligned"
#define ALIGNMENT_MARK_TEXT "ALIGNMENT-MARK:unaligned-allowed"
#else
#define ALIGNMENT_MARK_SYMBOL _gAlignmentMarkStrict
#define ALIGNMENT_MARK_SYMBOL_TEXT "_gAlignmentMarkStrict"
#define ALIGNMENT_MARK_TEXT "ALIGNMENT-MARK:strict"
#endif

// One copy per image whatever the number of objects (selectany), kept by the reference below
// although no code reads it.
#if defined(__cplusplus)
extern "C"
#endif
    __declspec(selectany) const char ALIGNMENT_MARK_SYMBOL[] = ALIGNMENT_MARK_TEXT;
#pragma comment(linker, "/include:" ALIGNMENT_MARK_SYMBOL_TEXT)
