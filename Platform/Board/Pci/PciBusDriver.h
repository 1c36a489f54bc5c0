// The platform's PCI bus driver on the host board: a driver-model driver that manages root
// bridges. When the boot manager connects a root bridge it enumerates the root bridge's host
// bridge once (the phases, the buses, the BARs; see PciEnumerator.h) and keeps the result.
#pragma once

#include <PciEnumerator.h>
#include <Protocol/DriverBinding.h>

#include <set>
#include <vector>

namespace host {

class PciBusDriver {
public:
  PciBusDriver(Platform &P, PciBarPlacements Placements);
  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  // One entry per host bridge enumerated, in order.
  const std::vector<PciEnumeration> &Enumerations() const { return Enumerations_; }

  EFI_STATUS OnSupported(EFI_HANDLE Controller);
  EFI_STATUS OnStart(EFI_HANDLE Controller);
  EFI_STATUS OnStop(EFI_HANDLE Controller);

  // The binding record the protocol points at: the protocol first, then its driver.
  struct Binding {
    EFI_DRIVER_BINDING_PROTOCOL Protocol;
    PciBusDriver *Owner;
  };

private:
  Binding *Binding_ = nullptr; // in DRAM
  Platform &P_;
  PciBarPlacements Placements_;
  std::set<EFI_HANDLE> Enumerated_; // host bridges
  std::vector<PciEnumeration> Enumerations_;
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
};

} // namespace host
