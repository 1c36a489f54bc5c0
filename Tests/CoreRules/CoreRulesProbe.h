// What the core-rule probe modules and their test share: the GUIDs of the protocols and the
// configuration table the probes install, and of the controller the test offers them.
#pragma once

#include <Uefi.h>

// On a handle the test creates before a probe runs; the probes open it.
inline constexpr EFI_GUID kCoreRulesControllerGuid = {
    0x6A3E1F20, 0x5C47, 0x4D0B, {0x9E, 0x11, 0x2B, 0x7C, 0x44, 0x90, 0xA1, 0x01}};
// Installed by the probes, with an interface in allocated memory that points into the probe.
inline constexpr EFI_GUID kCoreRulesProbeGuid = {
    0x6A3E1F20, 0x5C47, 0x4D0B, {0x9E, 0x11, 0x2B, 0x7C, 0x44, 0x90, 0xA1, 0x02}};
inline constexpr EFI_GUID kCoreRulesTableGuid = {
    0x6A3E1F20, 0x5C47, 0x4D0B, {0x9E, 0x11, 0x2B, 0x7C, 0x44, 0x90, 0xA1, 0x03}};

// The record a probe allocates and publishes: a function pointer into the probe.
struct CORE_RULES_PROBE_PROTOCOL {
  EFI_STATUS(EFIAPI *Call)(VOID);
};
