// Base types shared by firmware and host code: fixed-width integers, booleans, varargs,
// and the helper macros every library uses. The integer types have one layout on AArch64 and
// the host; the argument list (VA_LIST) is the one type that differs, and each target's
// processor binding defines it.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

typedef uint64_t UINT64;
typedef int64_t INT64;
typedef uint32_t UINT32;
typedef int32_t INT32;
typedef uint16_t UINT16;
typedef int16_t INT16;
typedef uint8_t UINT8;
typedef int8_t INT8;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef unsigned char BOOLEAN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef void VOID;
typedef UINT64 PHYSICAL_ADDRESS;

static_assert(sizeof(void *) == 8, "UEFI targets here are 64-bit");

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

// A null pointer of pointer size on every target. The Windows target's own NULL is the int 0,
// which as the last argument of a variadic call (InstallMultipleProtocolInterfaces) may fill
// only the low half of its 64-bit slot; the callee reads all eight bytes as a pointer.
#undef NULL
#define NULL nullptr

// AAPCS64 is the UEFI calling convention on AArch64; the host uses its native one on both sides.
#define EFIAPI
#define IN
#define OUT
#define OPTIONAL
#define CONST const
#define STATIC static

// A variadic function type whose list ends in a NULL pointer: the host's compiler (GCC) rejects
// a call that ends in anything else, such as an integer 0 that would leave the upper half of the
// last 64-bit slot undefined. clang accepts the mark on functions only, not on their pointers.
#if defined(__clang__)
#define EFI_NULL_TERMINATED
#else
#define EFI_NULL_TERMINATED __attribute__((sentinel))
#endif

#define OFFSET_OF(TYPE, Field) ((UINTN)offsetof(TYPE, Field))
#define ARRAY_SIZE(Array) (sizeof(Array) / sizeof((Array)[0]))
#define BIT0 0x00000001u
#define BIT1 0x00000002u
#define BIT2 0x00000004u
#define BIT3 0x00000008u
#define BIT4 0x00000010u
#define BIT5 0x00000020u
#define BIT6 0x00000040u
#define BIT7 0x00000080u

#define SIGNATURE_16(A, B) ((A) | ((B) << 8))
#define SIGNATURE_32(A, B, C, D) (SIGNATURE_16(A, B) | (SIGNATURE_16(C, D) << 16))
#define SIGNATURE_64(A, B, C, D, E, F, G, H)                                                                 \
  (SIGNATURE_32(A, B, C, D) | ((UINT64)(SIGNATURE_32(E, F, G, H)) << 32))

// Record-from-member, as EDK2's CR() without the signature check (callers check it).
#define BASE_CR(Record, TYPE, Field) ((TYPE *)((CHAR8 *)(Record)-OFFSET_OF(TYPE, Field)))

#define ALIGN_VALUE(Value, Alignment) ((Value) + (((Alignment) - (Value)) & ((Alignment)-1)))

// VA_LIST, VA_START, VA_ARG, VA_END and VA_COPY. The images are compiled for the Windows AArch64
// target but hand argument lists to firmware built for the AArch64 procedure-call standard.
#if defined(_M_ARM64)
#include <AArch64/ProcessorBind.h>
#else
#include <Host/ProcessorBind.h>
#endif
