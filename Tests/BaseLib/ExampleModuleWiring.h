#pragma once

#include <Uefi.h>

#include <string>
#include <vector>

extern std::vector<std::string> WiringCalls;
extern EFI_STATUS WiringEntryStatus;
