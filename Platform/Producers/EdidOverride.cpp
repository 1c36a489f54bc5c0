// The platform's EDID override.
#include "EdidOverride.h"

#include "ProducerRecord.h"

#include <cstring>
#include <memory>
#include <stdexcept>

namespace host {
namespace {

std::unique_ptr<EdidOverrideProducer> gOverride;
Platform *gOverrideBoard = nullptr;

EFI_STATUS EFIAPI OverrideGetEdid(EFI_EDID_OVERRIDE_PROTOCOL *This, EFI_HANDLE *ChildHandle,
                                  UINT32 *Attributes, UINTN *EdidSize, UINT8 **Edid) {
  if (gOverride == nullptr || gOverrideBoard != &Platform::Current()) {
    return EFI_DEVICE_ERROR;
  }
  if (This != gOverride->Protocol()) {
    return EFI_INVALID_PARAMETER;
  }
  return gOverride->OnGetEdid(ChildHandle, Attributes, EdidSize, Edid);
}

} // namespace

EFI_STATUS EdidOverrideProducer::OnGetEdid(EFI_HANDLE *ChildHandle, UINT32 *Attributes, UINTN *EdidSize,
                                           UINT8 **Edid) {
  Calls_++;
  if (ChildHandle == nullptr || Attributes == nullptr || EdidSize == nullptr || Edid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  LastChild_ = *ChildHandle;
  if (Edid_.empty()) {
    return EFI_NOT_FOUND;
  }
  VOID *Copy = nullptr;
  if (EFI_ERROR(Board_.BootServices()->AllocatePool(EfiBootServicesData, Edid_.size(), &Copy))) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::memcpy(Copy, Edid_.data(), Edid_.size());
  *Attributes = 0;
  *EdidSize = Edid_.size();
  *Edid = static_cast<UINT8 *>(Copy);
  Board_.Log().Append("edid-override", "GetEdid: " + std::to_string(Edid_.size()) + " bytes\n",
                      Board_.VirtualTimeNs());
  return EFI_SUCCESS;
}

EdidOverrideProducer &InstallEdidOverride(Platform &Board, std::vector<uint8_t> Edid) {
  gOverride = std::make_unique<EdidOverrideProducer>(Board, std::move(Edid));
  gOverrideBoard = &Board;
  gOverride->Protocol_ =
      NewRecord(Board, EFI_EDID_OVERRIDE_PROTOCOL{Exported(Board, "GetEdid", OverrideGetEdid)});
  EFI_STATUS Status =
      InstallInterface(Board, gEfiEdidOverrideProtocolGuid, gOverride->Protocol_, &gOverride->Handle_);
  if (EFI_ERROR(Status)) {
    throw std::logic_error("edid-override: the protocol could not be installed");
  }
  return *gOverride;
}

} // namespace host
