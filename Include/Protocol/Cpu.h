// CPU architectural protocol: cache flush, interrupt state and handlers, timers and memory
// attributes of the boot processor (PI 1.x, volume 2, section 12.3).
#pragma once

#include <Uefi.h>

#define EFI_CPU_ARCH_PROTOCOL_GUID                                                                           \
  {                                                                                                          \
    0x26BACCB1, 0x6F42, 0x11D4, {                                                                            \
      0xBC, 0xE7, 0x00, 0x80, 0xC7, 0x3C, 0x88, 0x81                                                         \
    }                                                                                                        \
  }
extern EFI_GUID gEfiCpuArchProtocolGuid;

enum EFI_CPU_FLUSH_TYPE : UINT32 {
  EfiCpuFlushTypeWriteBackInvalidate,
  EfiCpuFlushTypeWriteBack,
  EfiCpuFlushTypeInvalidate,
  EfiCpuMaxFlushType
};

enum EFI_CPU_INIT_TYPE : UINT32 { EfiCpuInit, EfiCpuMaxInitType };

typedef INTN EFI_EXCEPTION_TYPE;

// AArch64 exception types.
constexpr EFI_EXCEPTION_TYPE EXCEPT_AARCH64_SYNCHRONOUS_EXCEPTIONS = 0;
constexpr EFI_EXCEPTION_TYPE EXCEPT_AARCH64_IRQ = 1;
constexpr EFI_EXCEPTION_TYPE EXCEPT_AARCH64_FIQ = 2;
constexpr EFI_EXCEPTION_TYPE EXCEPT_AARCH64_SERROR = 3;

// A 128-bit SIMD register as two 64-bit halves, low half first.
struct EFI_UINT128_REGISTER {
  UINT64 Low;
  UINT64 High;
};
static_assert(sizeof(EFI_UINT128_REGISTER) == 16);

// Register state saved on an AArch64 exception.
struct EFI_SYSTEM_CONTEXT_AARCH64 {
  UINT64 X0, X1, X2, X3, X4, X5, X6, X7, X8, X9, X10, X11, X12, X13, X14, X15;
  UINT64 X16, X17, X18, X19, X20, X21, X22, X23, X24, X25, X26, X27, X28;
  UINT64 FP; // x29
  UINT64 LR; // x30
  UINT64 SP;
  EFI_UINT128_REGISTER V0, V1, V2, V3, V4, V5, V6, V7, V8, V9, V10, V11, V12, V13, V14, V15;
  EFI_UINT128_REGISTER V16, V17, V18, V19, V20, V21, V22, V23, V24, V25, V26, V27, V28, V29, V30, V31;
  UINT64 ELR;
  UINT64 SPSR;
  UINT64 FPSR;
  UINT64 ESR;
  UINT64 FAR;
};
static_assert(OFFSET_OF(EFI_SYSTEM_CONTEXT_AARCH64, SP) == 248);
static_assert(OFFSET_OF(EFI_SYSTEM_CONTEXT_AARCH64, V0) == 256);
static_assert(OFFSET_OF(EFI_SYSTEM_CONTEXT_AARCH64, ELR) == 768);
static_assert(sizeof(EFI_SYSTEM_CONTEXT_AARCH64) == 808);

// Pointer to the processor's saved context; only the AArch64 view is used on this board.
union EFI_SYSTEM_CONTEXT {
  EFI_SYSTEM_CONTEXT_AARCH64 *SystemContextAArch64;
};
static_assert(sizeof(EFI_SYSTEM_CONTEXT) == 8);

typedef VOID(EFIAPI *EFI_CPU_INTERRUPT_HANDLER)(EFI_EXCEPTION_TYPE InterruptType,
                                                EFI_SYSTEM_CONTEXT SystemContext);

struct EFI_CPU_ARCH_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_CPU_FLUSH_DATA_CACHE)(EFI_CPU_ARCH_PROTOCOL *This, EFI_PHYSICAL_ADDRESS Start,
                                                     UINT64 Length, EFI_CPU_FLUSH_TYPE FlushType);
typedef EFI_STATUS(EFIAPI *EFI_CPU_ENABLE_INTERRUPT)(EFI_CPU_ARCH_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_CPU_DISABLE_INTERRUPT)(EFI_CPU_ARCH_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_CPU_GET_INTERRUPT_STATE)(EFI_CPU_ARCH_PROTOCOL *This, BOOLEAN *State);
typedef EFI_STATUS(EFIAPI *EFI_CPU_INIT)(EFI_CPU_ARCH_PROTOCOL *This, EFI_CPU_INIT_TYPE InitType);
typedef EFI_STATUS(EFIAPI *EFI_CPU_REGISTER_INTERRUPT_HANDLER)(EFI_CPU_ARCH_PROTOCOL *This,
                                                               EFI_EXCEPTION_TYPE InterruptType,
                                                               EFI_CPU_INTERRUPT_HANDLER InterruptHandler);
typedef EFI_STATUS(EFIAPI *EFI_CPU_GET_TIMER_VALUE)(EFI_CPU_ARCH_PROTOCOL *This, UINT32 TimerIndex,
                                                    UINT64 *TimerValue, UINT64 *TimerPeriod);
typedef EFI_STATUS(EFIAPI *EFI_CPU_SET_MEMORY_ATTRIBUTES)(EFI_CPU_ARCH_PROTOCOL *This,
                                                          EFI_PHYSICAL_ADDRESS BaseAddress, UINT64 Length,
                                                          UINT64 Attributes);

struct EFI_CPU_ARCH_PROTOCOL {
  EFI_CPU_FLUSH_DATA_CACHE FlushDataCache;
  EFI_CPU_ENABLE_INTERRUPT EnableInterrupt;
  EFI_CPU_DISABLE_INTERRUPT DisableInterrupt;
  EFI_CPU_GET_INTERRUPT_STATE GetInterruptState;
  EFI_CPU_INIT Init;
  EFI_CPU_REGISTER_INTERRUPT_HANDLER RegisterInterruptHandler;
  EFI_CPU_GET_TIMER_VALUE GetTimerValue;
  EFI_CPU_SET_MEMORY_ATTRIBUTES SetMemoryAttributes;
  UINT32 NumberOfTimers;
  UINT32 DmaBufferAlignment;
};
static_assert(OFFSET_OF(EFI_CPU_ARCH_PROTOCOL, NumberOfTimers) == 64);
static_assert(OFFSET_OF(EFI_CPU_ARCH_PROTOCOL, DmaBufferAlignment) == 68);
static_assert(sizeof(EFI_CPU_ARCH_PROTOCOL) == 72);
