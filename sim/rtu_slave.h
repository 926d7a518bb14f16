#pragma once
// The Modbus RTU slave side of the controller: judges a request frame and builds its reply.

#include <cstdint>
#include <span>
#include <vector>

#include "sim/genset_model.h"

namespace torvix::sim {

enum class FrameVerdict { TooShort, BadCrc, OtherAddress, Broadcast, ForUs };

namespace exception_code {
inline constexpr std::uint8_t kIllegalFunction = 1;
inline constexpr std::uint8_t kIllegalAddress = 2;
inline constexpr std::uint8_t kIllegalValue = 3;
inline constexpr std::uint8_t kBusy = 6;
}  // namespace exception_code

class RtuSlave {
public:
    static constexpr std::uint8_t kBroadcast = 0;

    RtuSlave(GensetModel& model, std::uint8_t address) : model_(model), address_(address) {}

    std::uint8_t address() const { return address_; }
    FrameVerdict judge(std::span<const std::uint8_t> frame) const;
    // Acts on a frame judged ForUs or Broadcast and returns the whole reply frame, an
    // exception reply when the request cannot be served.
    std::vector<std::uint8_t> execute(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> exceptionReply(std::uint8_t function, std::uint8_t code) const;

    static void appendCrc(std::vector<std::uint8_t>& frame);

private:
    std::vector<std::uint8_t> readInputRegisters(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> writeSingleRegister(std::span<const std::uint8_t> frame);
    std::vector<std::uint8_t> writeMultipleRegisters(std::span<const std::uint8_t> frame);

    GensetModel& model_;
    std::uint8_t address_;
};

}  // namespace torvix::sim
