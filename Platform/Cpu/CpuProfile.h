// Where the processor's wall time goes, for the benchmark: guest code on the JIT (translation,
// translated code and the instructions it hands back), the host services the images call
// through trap stubs (with the bus cycles they make), the board's models behind the bus for the
// images' own accesses, and the counter reads (the board's clock). Each boundary reads the clock once,
// and only while a profile is attached; a detached processor pays one test of a null pointer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace cpu {

struct CpuProfile {
  enum Part : unsigned { Guest, Service, Bus, Counter, Parts };
  std::array<uint64_t, Parts> Ns{};      // exclusive: a service's nested guest code is Guest's
  std::array<uint64_t, Parts> Entries{}; // guest calls, service calls, bus accesses, counter reads
  Part Current = Parts;                  // Parts: host code outside the processor
  uint64_t Since = 0;

  // Charges the time since the last boundary to the part running, and runs Next from now.
  void Switch(Part Next) {
    const uint64_t Now = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                   std::chrono::steady_clock::now().time_since_epoch())
                                                   .count());
    if (Current != Parts) {
      Ns[Current] += Now - Since;
    }
    Current = Next;
    Since = Now;
  }
};

// One part for the scope's life; scopes nest (guest code reaching the bus, a service calling
// guest code) and give the time back to the part they interrupted.
class ProfileScope {
public:
  ProfileScope(CpuProfile *Profile, CpuProfile::Part Part) : Profile_(Profile) {
    if (Profile_ != nullptr) {
      Previous_ = Profile_->Current;
      Profile_->Entries[Part]++;
      Profile_->Switch(Part);
    }
  }
  ~ProfileScope() {
    if (Profile_ != nullptr) {
      Profile_->Switch(Previous_);
    }
  }
  ProfileScope(const ProfileScope &) = delete;
  ProfileScope &operator=(const ProfileScope &) = delete;

private:
  CpuProfile *Profile_;
  CpuProfile::Part Previous_ = CpuProfile::Parts;
};

} // namespace cpu
