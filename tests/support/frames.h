#pragma once
// Builders for controller replies used across tests.

#include <array>
#include <cstdint>
#include <vector>

#include "link/protocol.h"

namespace torvix::testing {

using Frame = std::vector<std::uint8_t>;

inline Frame withCrc(Frame body) {
    protocol::appendCrc(body);
    return body;
}

using StatusRegisters = std::array<std::uint16_t, 64>;

// A reply to the status read (function 4, 64 registers from 300), 133 bytes.
inline Frame statusReply(const StatusRegisters& regs, std::uint8_t address = 7) {
    Frame body{address, 4, 128};
    for (std::uint16_t r : regs) {
        body.push_back(static_cast<std::uint8_t>(r >> 8));
        body.push_back(static_cast<std::uint8_t>(r & 0xFF));
    }
    return withCrc(body);
}

}  // namespace torvix::testing
