// Host producer of the platform's debug-output protocol: what the modules' DebugLib prints
// and asserts goes to the board log, tagged with the image that printed it.
#pragma once

#include <HostPlatform.h>
#include <Protocol/DebugOutput.h>

#include <cstdint>
#include <string>
#include <vector>

namespace host {

class DebugOutputProducer {
public:
  struct Message {
    std::string Image;
    UINTN ErrorLevel = 0;
    std::string Text;
  };
  struct Assertion {
    std::string Image;
    std::string FileName;
    UINTN LineNumber = 0;
    std::string Description;
  };

  explicit DebugOutputProducer(Platform &Board) : Board_(Board) {}

  // Every Print and Assert call, in order.
  const std::vector<Message> &Messages() const { return Messages_; }
  const std::vector<Assertion> &Assertions() const { return Assertions_; }
  // The status of the protocol installation.
  EFI_STATUS InstallStatus() const { return InstallStatus_; }
  EFI_HANDLE Handle() const { return Handle_; }

  void OnPrint(UINTN ErrorLevel, const CHAR8 *Format, VA_LIST Marker);
  void OnText(UINTN ErrorLevel, std::string Text); // a message formatted already
  void OnAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);

private:
  friend DebugOutputProducer &InstallDebugOutputProducer(Platform &Board);

  Platform &Board_;
  std::vector<Message> Messages_;
  std::vector<Assertion> Assertions_;
  EFI_STATUS InstallStatus_ = EFI_NOT_STARTED;
  EFI_HANDLE Handle_ = nullptr;
};

// Installs DEBUG_OUTPUT_PROTOCOL on a new handle of Board. The producer lives until the next
// installation; its protocol serves only the platform it was installed on.
DebugOutputProducer &InstallDebugOutputProducer(Platform &Board);

} // namespace host
