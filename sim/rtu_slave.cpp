#include "sim/rtu_slave.h"

namespace torvix::sim {
namespace {

using protocol::appendCrc;
using protocol::byteOf;

// Address, function, two 16-bit fields, CRC: the requests of functions 4 and 6.
constexpr std::size_t kFixedRequestBytes = 8;

int word(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame[at] << 8 | frame[at + 1];
}

void appendWord(std::vector<std::uint8_t>& out, int value) {
    out.push_back(byteOf(value, 1));
    out.push_back(byteOf(value, 0));
}

}  // namespace

FrameVerdict RtuSlave::judge(std::span<const std::uint8_t> frame) const {
    if (frame.size() < 4) return FrameVerdict::TooShort;
    if (!protocol::hasValidCrc(frame)) return FrameVerdict::BadCrc;
    if (frame[0] == protocol::kBroadcastAddress) return FrameVerdict::Broadcast;
    if (frame[0] != address_) return FrameVerdict::OtherAddress;
    return FrameVerdict::ForUs;
}

std::vector<std::uint8_t> RtuSlave::exceptionReply(std::uint8_t function, std::uint8_t code) const {
    std::vector<std::uint8_t> reply{
        address_, static_cast<std::uint8_t>(function | protocol::kExceptionFlag), code};
    appendCrc(reply);
    return reply;
}

std::vector<std::uint8_t> RtuSlave::execute(std::span<const std::uint8_t> frame) {
    switch (frame[1]) {
        case protocol::kReadInputRegisters:
            return readInputRegisters(frame);
        case protocol::kWriteSingleRegister:
            return writeSingleRegister(frame);
        case protocol::kWriteMultipleRegisters:
            return writeMultipleRegisters(frame);
        default:
            return exceptionReply(frame[1], exception_code::kIllegalFunction);
    }
}

std::vector<std::uint8_t> RtuSlave::readInputRegisters(std::span<const std::uint8_t> frame) {
    if (frame.size() != kFixedRequestBytes)
        return exceptionReply(protocol::kReadInputRegisters, exception_code::kIllegalDataValue);
    const int start = word(frame, 2);
    const int count = word(frame, 4);
    if (count < 1 || count > 125)
        return exceptionReply(protocol::kReadInputRegisters, exception_code::kIllegalDataValue);
    if (start < protocol::kStatusFirstRegister ||
        start + count > protocol::kStatusFirstRegister + protocol::kStatusRegisterCount)
        return exceptionReply(protocol::kReadInputRegisters, exception_code::kIllegalDataAddress);

    model_.sampleNoise();
    std::vector<std::uint8_t> reply{address_, protocol::kReadInputRegisters,
                                    static_cast<std::uint8_t>(2 * count)};
    reply.reserve(5 + 2 * static_cast<std::size_t>(count));
    for (int a = start; a < start + count; ++a) appendWord(reply, model_.inputRegister(a));
    appendCrc(reply);
    return reply;
}

std::vector<std::uint8_t> RtuSlave::writeSingleRegister(std::span<const std::uint8_t> frame) {
    if (frame.size() != kFixedRequestBytes)
        return exceptionReply(protocol::kWriteSingleRegister, exception_code::kIllegalDataValue);
    const int address = word(frame, 2);
    if (address != protocol::kCounterRegister && address != protocol::kCommandRegister)
        return exceptionReply(protocol::kWriteSingleRegister, exception_code::kIllegalDataAddress);
    model_.writeHoldingRegister(address, static_cast<std::uint16_t>(word(frame, 4)));
    return {frame.begin(), frame.end()};  // the echo, CRC included
}

std::vector<std::uint8_t> RtuSlave::writeMultipleRegisters(std::span<const std::uint8_t> frame) {
    if (frame.size() < 9)
        return exceptionReply(protocol::kWriteMultipleRegisters, exception_code::kIllegalDataValue);
    const int start = word(frame, 2);
    const int count = word(frame, 4);
    const int byteCount = frame[6];
    if (count < 1 || count > 123 || byteCount != 2 * count ||
        frame.size() != 9 + static_cast<std::size_t>(byteCount))
        return exceptionReply(protocol::kWriteMultipleRegisters, exception_code::kIllegalDataValue);
    const int first = protocol::kFirstHoldingRegister;
    if (start < first || start + count > first + protocol::kHoldingRegisterCount)
        return exceptionReply(protocol::kWriteMultipleRegisters,
                              exception_code::kIllegalDataAddress);

    // Ascending, so a command in 402 sees the argument written to 401 by the same request.
    for (int i = 0; i < count; ++i) {
        const auto value =
            static_cast<std::uint16_t>(word(frame, 7 + 2 * static_cast<std::size_t>(i)));
        model_.writeHoldingRegister(start + i, value);
    }
    std::vector<std::uint8_t> reply(frame.begin(), frame.begin() + 6);
    appendCrc(reply);
    return reply;
}

}  // namespace torvix::sim
