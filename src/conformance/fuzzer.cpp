#include "conformance/fuzzer.h"

#include "protocol/defaults.h"
#include "protocol/protocol.h"

namespace torvix::conformance {
namespace {

using namespace protocol;

void putWord(Bytes& frame, int value) {
    frame.push_back(byteOf(value, 1));
    frame.push_back(byteOf(value, 0));
}

void breakCrc(Bytes& frame) {
    frame.back() ^= 0x01;
}

}  // namespace

Fuzzer::Fuzzer(std::uint64_t seed, std::uint8_t address, Policy policy)
    : rng_(seed), address_(address), policy_(policy), nextFunction_(anyByte()) {}

Bytes Fuzzer::next() {
    // A candidate the gate would refuse (a stretch of random bytes that happens to carry a
    // right CRC and a forbidden request) is drawn again; the seed still replays the run.
    for (;;) {
        Bytes frame = candidate();
        if (!refusal(frame, policy_)) return frame;
    }
}

// A request the gate lets through with a right CRC, to `address`.
Bytes Fuzzer::safeFrame(std::uint8_t address) {
    Bytes frame{address};
    switch (below(5)) {
        case 0:  // a read of any register, any quantity
            frame.push_back(static_cast<std::uint8_t>(1 + below(4)));
            putWord(frame, below(0x10000));
            putWord(frame, below(3) == 0 ? below(0x10000) : below(kMaxReadRegisters + 2));
            break;
        case 1:  // return query data
            frame.push_back(kDiagnostics);
            putWord(frame, kReturnQueryData);
            for (int n = below(8); n > 0; --n) frame.push_back(anyByte());
            break;
        case 2:
            frame.push_back(kWriteSingleRegister);
            putWord(frame, kCounterRegister);
            putWord(frame, below(0x10000));
            break;
        case 3:
            frame.push_back(kWriteMultipleRegisters);
            putWord(frame, kCounterRegister);
            putWord(frame, 1);
            frame.push_back(2);
            putWord(frame, below(0x10000));
            break;
        default:
            frame.push_back(kReservedFunction);
            for (int n = below(6); n > 0; --n) frame.push_back(anyByte());
            break;
    }
    if (policy_ == Policy::AllFunctions && below(3) == 0) {
        // Any function code at all; the gate keeps the ones that write or act off the line.
        frame[1] = anyByte();
    }
    appendCrc(frame);
    return frame;
}

Bytes Fuzzer::candidate() {
    switch (below(8)) {
        case 0:
        case 1:
            return safeFrame(address_);
        case 2: {  // every function code in turn, any data, a wrong CRC
            Bytes frame{address_, nextFunction_++};
            for (int n = below(12); n > 0; --n) frame.push_back(anyByte());
            appendCrc(frame);
            breakCrc(frame);
            return frame;
        }
        case 3: {  // a request to another address, right CRC
            std::uint8_t other = anyByte();
            if (other == address_ || other == kBroadcastAddress)
                other = static_cast<std::uint8_t>(address_ % defaults::kHighestSlaveAddress + 1);
            return safeFrame(other);
        }
        case 4: {  // truncated
            Bytes frame = safeFrame(address_);
            frame.resize(std::size_t(1 + below(int(frame.size()) - 1)));
            return frame;
        }
        case 5: {  // oversized: a request and bytes after it
            Bytes frame = safeFrame(address_);
            for (int n = 1 + below(kMaxFrameBytes); n > 0; --n) frame.push_back(anyByte());
            return frame;
        }
        case 6: {  // a bad length: random bytes from 1 to past the longest frame
            Bytes frame{address_};
            for (int n = below(kMaxFrameBytes + 20); n > 0; --n) frame.push_back(anyByte());
            return frame;
        }
        default: {  // a request with a wrong CRC
            Bytes frame = safeFrame(address_);
            breakCrc(frame);
            return frame;
        }
    }
}

}  // namespace torvix::conformance
