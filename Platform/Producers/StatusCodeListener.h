// Host producer of the status-code runtime protocol: keeps every status code the modules
// report and puts the text of string records into the board log, tagged with the image.
#pragma once

#include <HostPlatform.h>
#include <Protocol/StatusCode.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct StatusCodeRecord {
  std::string Image; // the image that reported it
  EFI_STATUS_CODE_TYPE Type = 0;
  EFI_STATUS_CODE_VALUE Value = 0;
  UINT32 Instance = 0;
  std::optional<EFI_GUID> CallerId;
  bool HasData = false;
  // The data record as reported: header and data (HeaderSize + Size bytes), followed by the
  // text and its NUL when a string record carries its text right behind itself.
  std::vector<uint8_t> Bytes;
  std::optional<std::string> Text; // set for a well-formed ASCII or Unicode string record
};

class StatusCodeListener {
public:
  explicit StatusCodeListener(Platform &Board) : Board_(Board) {}

  const std::vector<StatusCodeRecord> &Records() const { return Records_; }
  void Clear() { Records_.clear(); }
  // What ReportStatusCode returns from now on (EFI_SUCCESS by default).
  void SetResult(EFI_STATUS Result) { Result_ = Result; }
  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  EFI_HANDLE Handle() const { return Handle_; }

  EFI_STATUS OnReport(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                      const EFI_GUID *CallerId, const EFI_STATUS_CODE_DATA *Data);

private:
  friend StatusCodeListener &InstallStatusCodeListener(Platform &Board);

  Platform &Board_;
  std::vector<StatusCodeRecord> Records_;
  EFI_STATUS Result_ = EFI_SUCCESS;
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
  EFI_HANDLE Handle_ = nullptr;
};

// Installs EFI_STATUS_CODE_RUNTIME_PROTOCOL on a new handle of Board. The listener lives until
// the next installation; its protocol serves only the platform it was installed on.
StatusCodeListener &InstallStatusCodeListener(Platform &Board);

// Decodes a string record: the text of an ASCII or Unicode EFI_STATUS_CODE_STRING_DATA whose
// header, type GUID and pointer are sound, at most MaxLength characters; nothing otherwise.
std::optional<std::string> DecodeStatusCodeString(const EFI_STATUS_CODE_DATA *Data, size_t MaxLength);

} // namespace host
