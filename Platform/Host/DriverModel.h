// The driver model: ConnectController and DisconnectController, which call the drivers'
// Supported, Start and Stop on the handles of the database. Host-only; part of the core.
#pragma once

#include "CoreReport.h"
#include "HandleDatabase.h"
#include "HostPlatform.h"

#include <Protocol/DevicePath.h>

namespace host {

class ImageTable;

class DriverModel {
public:
  // Images: a driver's code runs in a frame of its image.
  DriverModel(HandleDatabase &Handles, ImageTable &Images, CoreReport &Report)
      : Handles_(Handles), Images_(Images), Report_(Report) {}
  DriverModel(const DriverModel &) = delete;
  DriverModel &operator=(const DriverModel &) = delete;

  static void FillServices(EFI_BOOT_SERVICES &Services);

  EFI_STATUS ConnectController(EFI_HANDLE Controller, EFI_HANDLE *DriverImageHandles,
                               EFI_DEVICE_PATH_PROTOCOL *Remaining, bool Recursive);
  EFI_STATUS DisconnectController(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child);

private:
  HandleDatabase &Handles_;
  ImageTable &Images_;
  CoreReport &Report_;
};

} // namespace host
