// A small stand-in for the UEFI tables the base libraries reach: pool and pages from the C
// heap with per-test accounting, a handle database of (handle, GUID, interface) rows filled
// by InstallMultipleProtocolInterfaces, and consoles that keep what was written to them.
#pragma once

#include <Uefi.h>

#include <map>
#include <string>
#include <vector>

struct FakeUefi {
  FakeUefi();
  ~FakeUefi();

  struct Installed {
    EFI_HANDLE Handle;
    EFI_GUID Guid;
    VOID *Interface;
  };

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL ConOut{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL StdErr{};
  std::u16string ConOutText;
  std::u16string StdErrText;
  std::map<VOID *, UINTN> Pool; // live allocations and their sizes
  std::vector<Installed> Protocols;
  UINTN InstallCalls = 0;
  bool FailAllocations = false;

  static FakeUefi *Current;
};
