// The board's ACPI tables compiled from ASL at build time (iasl), for the host producers,
// boardsim and the tests.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace host {

// A compiled table by the name of its ASL source: "Dsdt" (the board), and the test tables
// "AmlCases", "TenDevices", "ScopeOnly", "PartialDevices". Empty when the name is unknown.
std::span<const uint8_t> CompiledAml(std::string_view Name);

// The board's DSDT.
std::span<const uint8_t> BoardDsdtAml();

} // namespace host
