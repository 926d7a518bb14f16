// The simulator's side of the line: bytes in bursts and silences go through the frame
// assembler, whole frames through the RTU slave with injected faults.
//
// Input: five fault periods (0 = never), then bursts. Each burst starts with an op byte:
//   op & 0x80  the target appends a good CRC (its own) to the burst;
//   op & 0x40  the line falls silent after the burst;
//   op & 0x3F  the burst's length; its bytes follow.
// Properties: every byte fed is framed or counted as dropped; a frame cut inside a burst is a
// request whose CRC holds; replies are what a Modbus slave at address 7 may send.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "sim/frame_assembler.h"
#include "sim/simulator_core.h"

namespace {

using namespace torvix::sim;
using torvix::fuzz::bitwiseCrc;
using torvix::fuzz::crcHolds;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAddress = 7;

bool falls(std::uint64_t n, int every) {
    return every > 0 && n % static_cast<std::uint64_t>(every) == 0;
}

// A reply that the request could get from a working slave: same address and function, or an
// exception 1, 2, 3 or 6; a read of n registers brings 2n bytes, a write its echo.
void checkGenuineReply(const Bytes& request, const Bytes& reply, bool busy) {
    FUZZ_CHECK(reply.size() >= 5 && crcHolds(reply) && reply[0] == kAddress);
    if (reply[1] == (request[1] | 0x80)) {
        FUZZ_CHECK(reply.size() == 5);
        FUZZ_CHECK(busy ? reply[2] == 6 : reply[2] >= 1 && reply[2] <= 3);
        return;
    }
    FUZZ_CHECK(!busy && reply[1] == request[1]);
    switch (request[1]) {
        case 4: {
            FUZZ_CHECK(request.size() == 8);
            const int count = request[4] << 8 | request[5];
            const int start = request[2] << 8 | request[3];
            FUZZ_CHECK(count >= 1 && start >= 300 && start + count <= 364);
            FUZZ_CHECK(reply[2] == 2 * count && reply.size() == 5 + 2 * std::size_t(count));
            break;
        }
        case 6:
            FUZZ_CHECK(reply == request);
            break;
        case 16:
            FUZZ_CHECK(reply.size() == 8 &&
                       std::equal(reply.begin(), reply.begin() + 6, request.begin()));
            break;
        default:
            FUZZ_CHECK(false);  // any other function is refused
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    torvix::fuzz::Input input(data, size);
    FaultOptions faults;
    faults.dropEvery = input.byte() % 6;
    faults.exceptionEvery = input.byte() % 6;
    faults.garbageEvery = input.byte() % 6;
    faults.badCrcEvery = input.byte() % 6;
    faults.wrongAddressEvery = input.byte() % 6;
    GensetConfig genset;
    genset.noise = false;
    SimulatorCore core(genset, kAddress, faults);
    FrameAssembler assembler;

    std::uint64_t fed = 0;
    std::uint64_t framed = 0;
    std::uint64_t requests = 0;
    std::int64_t now = 0;
    const auto serve = [&](const RxFrame& frame) {
        FUZZ_CHECK(!frame.bytes.empty() && frame.bytes.size() <= FrameAssembler::kMaxFrame);
        framed += frame.bytes.size();
        const Bytes& request = frame.bytes;
        const Bytes reply = core.onFrame(request);
        const bool forUs = request.size() >= 4 && crcHolds(request) && request[0] == kAddress;
        if (!forUs) {
            FUZZ_CHECK(reply.empty());  // broadcasts, other slaves and bad frames get nothing
            return;
        }
        ++requests;
        FUZZ_CHECK(core.counters().requests == requests);
        // The first fault in the order drop, exception, garbage, bad CRC, wrong address.
        if (falls(requests, faults.dropEvery)) {
            FUZZ_CHECK(reply.empty());
        } else if (falls(requests, faults.exceptionEvery)) {
            checkGenuineReply(request, reply, true);
        } else if (falls(requests, faults.garbageEvery)) {
            FUZZ_CHECK(reply.size() >= 1 && reply.size() <= 40);
        } else if (falls(requests, faults.badCrcEvery)) {
            FUZZ_CHECK(reply.size() >= 5 && reply[0] == kAddress && !crcHolds(reply));
        } else if (falls(requests, faults.wrongAddressEvery)) {
            FUZZ_CHECK(reply.size() >= 5 && crcHolds(reply) && reply[0] != kAddress &&
                       reply[0] != 0);
        } else {
            checkGenuineReply(request, reply, false);
        }
    };

    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        const auto taken = input.take(op & 0x3F);
        Bytes burst(taken.begin(), taken.end());
        if (op & 0x80) {
            const std::uint16_t crc = bitwiseCrc(burst);
            burst.push_back(static_cast<std::uint8_t>(crc & 0xFF));
            burst.push_back(static_cast<std::uint8_t>(crc >> 8));
        }
        fed += burst.size();
        now += 100;
        for (const RxFrame& frame : assembler.feed(burst, now)) {
            // Cut inside a burst only when the request's CRC holds.
            FUZZ_CHECK(frame.bytes.size() >= 8 && crcHolds(frame.bytes));
            serve(frame);
        }
        if (op & 0x40) {
            now += 5000;
            if (const auto frame = assembler.silence()) serve(*frame);
            FUZZ_CHECK(!assembler.pending());
        }
    }
    if (const auto frame = assembler.silence()) serve(*frame);
    FUZZ_CHECK(fed == framed + assembler.bytesDropped());
    return 0;
}
