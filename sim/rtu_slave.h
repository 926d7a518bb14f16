#pragma once
// The Modbus RTU slave side of the controller: judges a request frame and builds its reply.

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/protocol.h"
#include "sim/genset_model.h"

namespace torvix::sim {

enum class FrameVerdict { TooShort, BadCrc, OtherAddress, Broadcast, ForUs };

namespace exception_code = protocol::exception_code;

class RtuSlave {
public:
    RtuSlave(GensetModel& model, std::uint8_t address) : model_(model), address_(address) {}

    std::uint8_t address() const { return address_; }
    FrameVerdict judge(std::span<const std::uint8_t> frame) const;
    // Acts on a frame judged ForUs or Broadcast and returns the whole reply frame, an
    // exception reply when the request cannot be served.
    std::vector<std::uint8_t> execute(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> exceptionReply(std::uint8_t function, std::uint8_t code) const;

private:
    std::vector<std::uint8_t> readInputRegisters(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> writeSingleRegister(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> writeMultipleRegisters(std::span<const std::uint8_t> frame);

    GensetModel& model_;
    std::uint8_t address_;
};

}  // namespace torvix::sim
