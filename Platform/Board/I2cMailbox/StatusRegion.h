// The shared status region where the management processor's firmware publishes its facts:
// 32-bit words, read by the application processors; the management-processor model and the
// board options set them.
#pragma once

#include "Common/DeviceModel.h"

#include <functional>
#include <map>

namespace host {

class StatusRegion : public DeviceModel {
public:
  static constexpr uint64_t kSize = 0x2000;
  static constexpr uint64_t kLoadProgress = 0x184, kLoadActivity = 0x364, kFeatures = 0x11AC;
  static constexpr uint64_t kBuildDate = 0x11B0, kFirmwareStatus = 0x1360;

  StatusRegion() : DeviceModel("pelmo-status") { Reset(); }
  uint64_t Read(uint64_t Offset, unsigned Width) override;
  // The application processors only read the region; their writes are ignored.
  void Write(uint64_t Offset, unsigned Width, uint64_t Value) override {}
  // Firmware 1.3 built 2026/11/30, TPC enabled, AVS supported, a build identifier to query,
  // PMD 1000 mV, SoC 950 mV.
  void Reset() override;

  uint32_t Word(uint64_t Offset) const;
  void SetWord(uint64_t Offset, uint32_t Value) { Words_[Offset & ~uint64_t(3)] = Value; }
  // Runs before every read, so that the management processor can publish what has changed
  // by then.
  void SetBeforeRead(std::function<void()> Hook) { BeforeRead_ = std::move(Hook); }

private:
  std::map<uint64_t, uint32_t> Words_;
  std::function<void()> BeforeRead_;
};

} // namespace host
