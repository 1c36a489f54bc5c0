// DelayProbe's delays, which the host tests repeat with the host build's TimerLib.
#pragma once

#include <Uefi/UefiBaseType.h>

// Nanoseconds: none, under a tick, a tick and a half, whole microseconds, and a long one.
inline constexpr UINTN DelayProbeNanoseconds[] = {0, 1, 15, 10000, 1000007, 2500000};
