// The platform's EDID override for the host board: EFI_EDID_OVERRIDE_PROTOCOL whose GetEdid
// hands every caller a boot-services pool copy of one EDID, with attributes 0 (use it as it
// is). The caller owns the copy.
#pragma once

#include <HostPlatform.h>
#include <Protocol/EdidOverride.h>

#include <cstdint>
#include <vector>

namespace host {

class EdidOverrideProducer {
public:
  EdidOverrideProducer(Platform &Board, std::vector<uint8_t> Edid) : Board_(Board), Edid_(std::move(Edid)) {}

  EFI_STATUS OnGetEdid(EFI_HANDLE *ChildHandle, UINT32 *Attributes, UINTN *EdidSize, UINT8 **Edid);
  unsigned Calls() const { return Calls_; }
  EFI_HANDLE LastChildHandle() const { return LastChild_; } // what the last call's ChildHandle pointed at
  EFI_HANDLE Handle() const { return Handle_; }
  EFI_EDID_OVERRIDE_PROTOCOL *Protocol() const { return Protocol_; } // in DRAM

private:
  friend EdidOverrideProducer &InstallEdidOverride(Platform &Board, std::vector<uint8_t> Edid);

  Platform &Board_;
  std::vector<uint8_t> Edid_;
  unsigned Calls_ = 0;
  EFI_HANDLE LastChild_ = nullptr;
  EFI_HANDLE Handle_ = nullptr;
  EFI_EDID_OVERRIDE_PROTOCOL *Protocol_ = nullptr;
};

// Installs the override on a new handle of Board. It lives until the next installation and
// answers only the platform it was installed on.
EdidOverrideProducer &InstallEdidOverride(Platform &Board, std::vector<uint8_t> Edid);

} // namespace host
