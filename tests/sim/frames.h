#pragma once
// Request frames for the simulator's tests.

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/protocol.h"

namespace torvix::sim::testing {

using protocol::byteOf;

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// The frame with its CRC appended, low byte first.
inline Bytes framed(std::initializer_list<int> values) {
    Bytes out = bytes(values);
    protocol::appendCrc(out);
    return out;
}

inline Bytes writeCommand(int address, int code) {
    using namespace protocol;
    return framed({address, kWriteSingleRegister, byteOf(kCommandRegister, 1),
                   byteOf(kCommandRegister, 0), byteOf(code, 1), byteOf(code, 0)});
}

inline Bytes writeArgumentAndCommand(int argument, int code) {
    using namespace protocol;
    return framed({7, kWriteMultipleRegisters, byteOf(kNumberRegister, 1),
                   byteOf(kNumberRegister, 0), 0x00, 0x02, 0x04, byteOf(argument, 1),
                   byteOf(argument, 0), byteOf(code, 1), byteOf(code, 0)});
}

// Input register 300 + n of a 64-register read reply.
inline int statusRegister(const Bytes& reply, int n) {
    const auto at = static_cast<std::size_t>(3 + 2 * n);
    return reply.at(at) << 8 | reply.at(at + 1);
}

inline bool crcHolds(const Bytes& frame) {
    return protocol::hasValidCrc(frame);
}

// The status read of the protocol test tool, address 7.
inline const Bytes kStatusRead = bytes({0x07, 0x04, 0x01, 0x2C, 0x00, 0x40, 0x31, 0xA9});

}  // namespace torvix::sim::testing
