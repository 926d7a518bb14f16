#pragma once
// Builders for controller replies used across tests.

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::testing {

using Frame = std::vector<std::uint8_t>;

inline Frame withCrc(Frame body) {
    protocol::appendCrc(body);
    return body;
}

// A request of the table as the master sends it, address to CRC.
inline Frame requestFrame(const requests::Request& request, std::uint8_t address = 7) {
    Frame body{address};
    const auto pdu = requests::pdu(request).value();
    body.insert(body.end(), pdu.begin(), pdu.end());
    return withCrc(body);
}

using StatusRegisters = std::array<std::uint16_t, protocol::kStatusRegisterCount>;

// A reply to the status read (function 4, 64 registers from 300), 133 bytes.
inline Frame statusReply(const StatusRegisters& regs, std::uint8_t address = 7) {
    Frame body{address, protocol::kReadInputRegisters, 2 * protocol::kStatusRegisterCount};
    for (std::uint16_t r : regs) {
        body.push_back(static_cast<std::uint8_t>(r >> 8));
        body.push_back(static_cast<std::uint8_t>(r & 0xFF));
    }
    return withCrc(body);
}

}  // namespace torvix::testing
