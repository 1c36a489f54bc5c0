// Errors of the boot: the misuse the core finds (wrong TPL, services after the hand-over,
// leftovers of unloaded images, bad MMIO, memory errors), kept in one list that a test checks
// at its end, and the table of the highest TPL each service may be called at.
#include "CoreInternal.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

struct ServiceTpl {
  const char *Service;
  EFI_TPL Max; // the highest TPL a caller may be at
};

constexpr EFI_TPL kBelowCallback = TPL_CALLBACK - 1;
constexpr EFI_TPL kBelowHigh = TPL_HIGH_LEVEL - 1;

// The UEFI specification's TPL restrictions. Services without an entry may be called at any
// TPL up to TPL_HIGH_LEVEL.
constexpr ServiceTpl kServiceTpls[] = {
    // Memory allocation services.
    {"AllocatePages", TPL_NOTIFY},
    {"FreePages", TPL_NOTIFY},
    {"GetMemoryMap", TPL_NOTIFY},
    {"AllocatePool", TPL_NOTIFY},
    {"FreePool", TPL_NOTIFY},
    // Protocol handler services.
    {"InstallProtocolInterface", TPL_NOTIFY},
    {"ReinstallProtocolInterface", TPL_NOTIFY},
    {"UninstallProtocolInterface", TPL_NOTIFY},
    {"HandleProtocol", TPL_NOTIFY},
    {"RegisterProtocolNotify", TPL_NOTIFY},
    {"LocateHandle", TPL_NOTIFY},
    {"LocateDevicePath", TPL_NOTIFY},
    {"InstallConfigurationTable", TPL_NOTIFY},
    {"OpenProtocol", TPL_NOTIFY},
    {"CloseProtocol", TPL_NOTIFY},
    {"OpenProtocolInformation", TPL_NOTIFY},
    {"ProtocolsPerHandle", TPL_NOTIFY},
    {"LocateHandleBuffer", TPL_NOTIFY},
    {"LocateProtocol", TPL_NOTIFY},
    {"InstallMultipleProtocolInterfaces", TPL_NOTIFY},
    {"UninstallMultipleProtocolInterfaces", TPL_NOTIFY},
    // Driver model.
    {"ConnectController", TPL_CALLBACK},
    {"DisconnectController", TPL_CALLBACK},
    // Events and timers.
    {"CreateEvent", kBelowHigh},
    {"CreateEventEx", kBelowHigh},
    {"CloseEvent", kBelowHigh},
    {"CheckEvent", kBelowHigh},
    {"SetTimer", kBelowHigh},
    {"WaitForEvent", TPL_APPLICATION},
    // Images.
    {"LoadImage", kBelowCallback},
    {"StartImage", kBelowCallback},
    {"UnloadImage", TPL_CALLBACK},
    {"Exit", TPL_CALLBACK},
    {"ExitBootServices", TPL_APPLICATION},
    {"SetWatchdogTimer", kBelowCallback},
    // Runtime services while boot services last.
    {"GetVariable", TPL_CALLBACK},
    {"GetNextVariableName", TPL_CALLBACK},
    {"SetVariable", TPL_CALLBACK},
    {"QueryVariableInfo", TPL_CALLBACK},
    {"GetTime", TPL_CALLBACK},
    {"SetTime", TPL_CALLBACK},
};

// Services that allocate memory or change the memory-space or I/O map, besides the pool and
// page services (which check where they allocate): inside an exit-boot-services notification
// each changes the memory map the OS loader holds.
constexpr const char *kMapChangingServices[] = {
    "AddMemorySpace",
    "AllocateMemorySpace",
    "FreeMemorySpace",
    "RemoveMemorySpace",
    "SetMemorySpaceAttributes",
    "SetMemorySpaceCapabilities",
    "AddIoSpace",
    "AllocateIoSpace",
    "FreeIoSpace",
    "RemoveIoSpace",
    "CreateEvent",
    "CreateEventEx",
    "CloseEvent",
    "InstallProtocolInterface",
    "ReinstallProtocolInterface",
    "UninstallProtocolInterface",
    "InstallMultipleProtocolInterfaces",
    "UninstallMultipleProtocolInterfaces",
    "RegisterProtocolNotify",
    "InstallConfigurationTable",
    "LoadImage",
    "StartImage",
    "UnloadImage",
    "ConnectController",
    "DisconnectController",
};

bool ChangesMaps(const char *Service) {
  return std::any_of(std::begin(kMapChangingServices), std::end(kMapChangingServices),
                     [&](const char *Name) { return std::strcmp(Name, Service) == 0; });
}

std::string TplName(EFI_TPL Tpl) {
  switch (Tpl) {
  case TPL_APPLICATION:
    return "TPL_APPLICATION";
  case TPL_CALLBACK:
    return "TPL_CALLBACK";
  case TPL_NOTIFY:
    return "TPL_NOTIFY";
  case TPL_HIGH_LEVEL:
    return "TPL_HIGH_LEVEL";
  default:
    return "TPL " + std::to_string(Tpl);
  }
}

} // namespace

void Platform::Impl::ErrorOf(const std::string &Rule, const std::string &Image, const std::string &Text) {
  Errors.push_back(Rule + ": " + Image + ": " + Text);
  LogLine("error: " + Errors.back());
}

void Platform::Impl::AddError(const std::string &Text) {
  Errors.push_back(Text);
}

void Platform::Impl::Error(const std::string &Rule, const std::string &Text) {
  ErrorOf(Rule, CurrentImageName(), Text);
}

void Platform::Impl::CheckServiceTpl(const char *Service) {
  const auto *Entry =
      std::find_if(std::begin(kServiceTpls), std::end(kServiceTpls),
                   [&](const ServiceTpl &Item) { return std::strcmp(Item.Service, Service) == 0; });
  const EFI_TPL Max = Entry != std::end(kServiceTpls) ? Entry->Max : TPL_HIGH_LEVEL;
  if (Events.CurrentTpl() > Max) {
    Error("TPL",
          std::string(Service) + " called at " + TplName(Events.CurrentTpl()) + ", above " + TplName(Max));
  }
}

bool Platform::Impl::BootServiceAllowed(const char *Service) {
  Images.CheckProgress();
  if (BootServicesEnded) {
    Error("after ExitBootServices", std::string(Service) + " called: refused");
    return false;
  }
  CheckServiceTpl(Service);
  if (Memory.MapFrozen() && ChangesMaps(Service)) {
    Memory.CheckMapChangeAllowed(Service);
  }
  return true;
}

const std::vector<std::string> &Platform::Errors() const {
  return Impl_->Errors;
}

void Platform::ExpectError(const std::string &Substring) {
  Impl_->ExpectedErrors.push_back(Substring);
}

std::vector<std::string> Platform::UnexpectedErrors() const {
  std::vector<std::string> Unexpected;
  for (const std::string &Error : Impl_->Errors) {
    const auto &Expected = Impl_->ExpectedErrors;
    if (std::none_of(Expected.begin(), Expected.end(),
                     [&](const std::string &Part) { return Error.find(Part) != std::string::npos; })) {
      Unexpected.push_back(Error);
    }
  }
  return Unexpected;
}

std::vector<std::string> Platform::TakeErrors() {
  std::vector<std::string> Taken;
  Taken.swap(Impl_->Errors);
  return Taken;
}

} // namespace host
