// The base of every register-level model of the board: a block with its register map,
// state, power-on reset and behaviour, attached at its row of the SoC map. A model checks
// the rules of its own interface (access widths, sequences) and records every breach as a
// protocol error, which the board reports with the core's errors.
#pragma once

#include <HostPlatform.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

// Records a breach of an interface rule in Errors ("<Name>: <Text>") and writes it to the
// board log of the platform alive now, if any.
void RecordProtocolError(std::vector<std::string> &Errors, const std::string &Name, const std::string &Text);
// Writes "<Name>: <Text>" to the board log of the platform alive now, if any: what a model
// saw that is worth telling but breaks no rule.
void LogModelNote(const std::string &Name, const std::string &Text);

class DeviceModel : public MmioDevice {
public:
  explicit DeviceModel(std::string Name = {}) : Name_(std::move(Name)) {}

  std::string Name() const override { return Name_; }
  // Back to the power-on state.
  virtual void Reset() {}
  // Drops the work the model scheduled with After and that has not run yet (the board does it
  // before Reset: what a block was doing does not complete after its reset).
  void CancelDelayedWork() { Generation_++; }

  // Breaches of the block's interface seen so far ("i2c1: 16-bit access at 0x10"); a model
  // that owns other blocks (a bus, PCI functions) adds theirs.
  virtual std::vector<std::string> ProtocolErrors() const { return ProtocolErrors_; }

protected:
  // Records a breach and writes it to the board log of the platform alive now.
  void ProtocolError(const std::string &Text);
  // Records a breach unless the access is one aligned access of Width bytes.
  bool CheckAccess(uint64_t Offset, unsigned Width, unsigned ExpectedWidth);
  // Runs Work once the virtual clock has advanced by DelayNs (Platform::After), unless the
  // model's delayed work was cancelled meanwhile. The model must stay attached until then.
  void After(uint64_t DelayNs, std::function<void()> Work);

private:
  std::string Name_;
  std::vector<std::string> ProtocolErrors_;
  uint64_t Generation_ = 0;
};

} // namespace host
