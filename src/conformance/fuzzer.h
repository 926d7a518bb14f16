#pragma once
// The seeded frames of the robustness check: bad lengths and CRCs, every function code, reads
// of every register, truncated and oversized frames. The same seed gives the same frames, so a
// failure can be replayed; every frame has passed the safety gate.

#include <cstdint>
#include <random>

#include "conformance/probe.h"
#include "conformance/safety_gate.h"

namespace torvix::conformance {

class Fuzzer {
public:
    // `address`: the controller's. `policy`: Policy::Probe, or Policy::AllFunctions.
    Fuzzer(std::uint64_t seed, std::uint8_t address, Policy policy);

    Bytes next();

private:
    Bytes candidate();
    Bytes safeFrame(std::uint8_t address);
    std::uint8_t anyByte() { return static_cast<std::uint8_t>(rng_() & 0xFFu); }
    int below(int n) { return int(rng_() % std::uint64_t(n)); }

    std::mt19937_64 rng_;
    std::uint8_t address_;
    Policy policy_;
    std::uint8_t nextFunction_;  // of the wrong-CRC frames: all 256 codes come in turn
};

}  // namespace torvix::conformance
