#pragma once
// Frame builders shared by the master's and the simulator's tests. They append our own CRC;
// the frames that check that CRC and our builders are in reference_frames.h.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::testing {

using Frame = std::vector<std::uint8_t>;
using Bytes = Frame;

// Values as they are written in a frame listing; each is cut to its low byte.
inline Frame bytes(std::initializer_list<int> values) {
    Frame out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline Frame withCrc(Frame body) {
    protocol::appendCrc(body);
    return body;
}

inline Frame framed(std::initializer_list<int> values) {
    return withCrc(bytes(values));
}

inline bool crcHolds(const Frame& frame) {
    return protocol::hasValidCrc(frame);
}

// A request of the table as the master sends it, address to CRC.
inline Frame requestFrame(const requests::Request& request, std::uint8_t address = 7) {
    Frame body{address};
    const auto pdu = requests::pdu(request).value();
    body.insert(body.end(), pdu.begin(), pdu.end());
    return withCrc(body);
}

// Any code written to register 402, also those no button sends.
inline Frame writeCommand(int address, int code) {
    using protocol::byteOf;
    return framed({address, protocol::kWriteSingleRegister, byteOf(protocol::kCommandRegister, 1),
                   byteOf(protocol::kCommandRegister, 0), byteOf(code, 1), byteOf(code, 0)});
}

// Registers 401 and 402 in one write, with any argument and code.
inline Frame writeArgumentAndCommand(int argument, int code) {
    using protocol::byteOf;
    return framed({7, protocol::kWriteMultipleRegisters, byteOf(protocol::kNumberRegister, 1),
                   byteOf(protocol::kNumberRegister, 0), 0x00, 0x02, 0x04, byteOf(argument, 1),
                   byteOf(argument, 0), byteOf(code, 1), byteOf(code, 0)});
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

// Input register 300 + n of a status reply.
inline int statusRegister(const Frame& reply, int n) {
    const auto at = static_cast<std::size_t>(3 + 2 * n);
    return reply.at(at) << 8 | reply.at(at + 1);
}

}  // namespace torvix::testing
