// The generic timer's arithmetic, shared by both TimerLib variants: the image spins on
// CNTPCT_EL0 and the host build charges the same spin in one step, so a delay costs the same
// virtual time in both. On the board each counter read takes one tick, which is what ends a spin.
#pragma once

#include <Uefi/UefiBaseType.h>

namespace GenericTimer {

constexpr UINT64 MicrosecondsPerSecond = 1000000;
constexpr UINT64 NanosecondsPerSecond = 1000000000;
// Ticks for Amount units of 1/UnitsPerSecond s at Frequency Hz, rounded up, without overflowing
// the product.
constexpr UINT64 TicksFor(UINT64 Amount, UINT64 UnitsPerSecond, UINT64 Frequency) {
  return (Amount / UnitsPerSecond) * Frequency +
         ((Amount % UnitsPerSecond) * Frequency + UnitsPerSecond - 1) / UnitsPerSecond;
}

// The counter reads of a wait for Ticks ticks: the start, then reads until Ticks have passed,
// at least one (the loop's test runs once even when Ticks is 0).
constexpr UINT64 ReadsOfWait(UINT64 Ticks) {
  return 1 + (Ticks > 1 ? Ticks : 1);
}

constexpr UINT64 ExampleHz = 100000000;
static_assert(TicksFor(10, MicrosecondsPerSecond, ExampleHz) == 1000);
static_assert(TicksFor(15, NanosecondsPerSecond, ExampleHz) == 2);
static_assert(TicksFor(3000001, MicrosecondsPerSecond, ExampleHz) == 300000100);
static_assert(ReadsOfWait(0) == 2 && ReadsOfWait(1) == 2 && ReadsOfWait(1000) == 1001);

} // namespace GenericTimer
