// Where the processor's wall time goes, for the benchmark: guest code on the JIT (translation,
// translated code and the instructions it hands back), the host services the images call
// through trap stubs (with the bus cycles they make), the board's models behind the bus for the
// images' own accesses, and the counter reads (the board's clock). Each boundary only stores the
// part that runs from there; a thread looks at it every SampleInterval and the parts' times are
// estimated from its samples. Reading the clock at each boundary instead (some 16 M of them in a
// boot, most of them counter reads) would itself take a good part of the time it measures, and
// charge it to the parts with the most boundaries. A detached processor pays one test of a null
// pointer per boundary.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <thread>

namespace cpu {

class CpuProfile {
public:
  enum Part : unsigned { Guest, Service, Bus, Counter, Parts }; // Parts: host code outside the processor
  static constexpr std::chrono::microseconds SampleInterval{100};

  // Samples from now until Stop (without a thread to spare it estimates nothing: all zero).
  CpuProfile() : Start_(Clock::now()) {
    try {
      Sampler_ = std::thread([this] { Sample(); });
    } catch (const std::system_error &) {
    }
  }
  ~CpuProfile() { Stop(); }
  CpuProfile(const CpuProfile &) = delete;
  CpuProfile &operator=(const CpuProfile &) = delete;

  void Enter(Part Next) {
    Entries_[Next]++;
    Current_.store(Next, std::memory_order_relaxed);
  }
  Part Running() const { return Current_.load(std::memory_order_relaxed); }
  void Resume(Part Previous) { Current_.store(Previous, std::memory_order_relaxed); }

  void Stop() {
    if (Sampler_.joinable()) {
      Stopping_.store(true);
      Sampler_.join();
    }
  }
  // After Stop: each part's share of the samples times the wall time sampled (exclusive: a
  // service's nested guest code is Guest's).
  uint64_t Ns(Part Which) const {
    uint64_t Total = 0;
    for (uint64_t Each : Samples_) {
      Total += Each;
    }
    return Total == 0 ? 0 : static_cast<uint64_t>(static_cast<double>(Samples_[Which]) / Total * SampledNs_);
  }
  uint64_t Entries(Part Which) const { return Entries_[Which]; } // guest calls, services, accesses, reads

private:
  using Clock = std::chrono::steady_clock;

  void Sample() {
    while (!Stopping_.load()) {
      std::this_thread::sleep_for(SampleInterval);
      Samples_[Running()]++;
    }
    SampledNs_ = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - Start_).count());
  }

  std::atomic<Part> Current_{Parts};
  std::array<uint64_t, Parts> Entries_{};
  std::array<uint64_t, Parts + 1> Samples_{}; // the sampler's own, read after Stop
  uint64_t SampledNs_ = 0;
  std::atomic<bool> Stopping_{false};
  Clock::time_point Start_;
  std::thread Sampler_;
};

// One part for the scope's life; scopes nest (guest code reaching the bus, a service calling
// guest code) and give the time back to the part they interrupted.
class ProfileScope {
public:
  ProfileScope(CpuProfile *Profile, CpuProfile::Part Part) : Profile_(Profile) {
    if (Profile_ != nullptr) {
      Previous_ = Profile_->Running();
      Profile_->Enter(Part);
    }
  }
  ~ProfileScope() {
    if (Profile_ != nullptr) {
      Profile_->Resume(Previous_);
    }
  }
  ProfileScope(const ProfileScope &) = delete;
  ProfileScope &operator=(const ProfileScope &) = delete;

private:
  CpuProfile *Profile_;
  CpuProfile::Part Previous_ = CpuProfile::Parts;
};

} // namespace cpu
