// A root bridge's memory window on the physical address space: accesses inside it reach the
// BAR of the PCI function that decodes them (memory decode enabled, BAR programmed there).
// An access no BAR claims is a master abort: reads return all ones, writes are dropped, and
// the window records it as a protocol error.
#pragma once

#include "DeviceModel.h"
#include "PciFunction.h"

#include <memory>
#include <vector>

namespace host {

class PciMemoryWindow : public DeviceModel {
public:
  // Base: the window's first CPU address (CPU address equals PCI address).
  PciMemoryWindow(std::string Name, uint64_t Base) : DeviceModel(std::move(Name)), Base_(Base) {}

  void AddFunction(std::shared_ptr<PciFunction> Function) { Functions_.push_back(std::move(Function)); }
  const std::vector<std::shared_ptr<PciFunction>> &Functions() const { return Functions_; }

  uint64_t Read(uint64_t Offset, unsigned Width) override;
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override;
  void Reset() override; // every function back to its power-on configuration
  std::vector<std::string> ProtocolErrors() const override; // the window's and its functions'

private:
  std::optional<PciFunction::Decode> Route(uint64_t Offset, unsigned Width, bool IsWrite);

  uint64_t Base_;
  std::vector<std::shared_ptr<PciFunction>> Functions_;
};

} // namespace host
