#pragma once
// The registers of one whole status reply: what the master hands on with the tick's outcome,
// so that nobody reads the reply's bytes again.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/protocol.h"

namespace torvix::protocol {

class StatusRegisters {
public:
    using Registers = std::array<std::uint16_t, kStatusRegisterCount>;

    StatusRegisters() = default;
    explicit StatusRegisters(const Registers& registers) : registers_(registers) {}

    // Only a whole block (function 4, byte count 128, 133 bytes) counts: anything shorter
    // would show bytes of earlier replies as live values. The CRC is the caller's.
    static std::optional<StatusRegisters> fromReply(std::span<const std::uint8_t> reply) {
        if (reply.size() != kStatusReplyBytes || reply[1] != kReadInputRegisters ||
            reply[2] != 2 * kStatusRegisterCount)
            return std::nullopt;
        Registers registers{};
        for (std::size_t n = 0; n < registers.size(); ++n)
            registers[n] = static_cast<std::uint16_t>(reply[3 + 2 * n] << 8 | reply[4 + 2 * n]);
        return StatusRegisters(registers);
    }

    // Register 300 + n.
    std::uint16_t reg(int n) const { return registers_[static_cast<std::size_t>(n)]; }
    const Registers& registers() const { return registers_; }

    friend bool operator==(const StatusRegisters&, const StatusRegisters&) = default;

private:
    Registers registers_{};
};

}  // namespace torvix::protocol
