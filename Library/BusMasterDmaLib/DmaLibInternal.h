// State shared by the DMA mapping library's units.
#pragma once

#include <Library/DmaLib.h>
#include <Protocol/Cpu.h>

// The CPU architectural protocol found by the constructor (NULL when it was missing).
extern EFI_CPU_ARCH_PROTOCOL *mDmaCpu;

// Alignment a buffer needs for whole-line maintenance when the protocol reports none.
constexpr UINT32 DMA_DEFAULT_ALIGNMENT = 64;
