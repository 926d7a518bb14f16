// Thousands of the fuzzer's frames over many seeds, each read as a controller would: whatever
// stretch of it a slave could take as a request (a right CRC at its end), what that request
// would do. None may write anything but the counter, command the set, silence the slave, reach
// a user-defined or legacy function, or broadcast anything but the status read.

#include "conformance/fuzzer.h"

#include <gtest/gtest.h>

#include <set>

#include "protocol/protocol.h"
#include "support/frames.h"
#include "support/reference_frames.h"

namespace torvix::conformance {
namespace {

using testing::Frame;

int word(const Frame& f, std::size_t at) {
    return f[at] << 8 | f[at + 1];
}

// What a controller at the frame's address would do with `f` that the test must never cause;
// empty for nothing harmful. Written from the rules, not from the gate.
std::string harm(const Frame& f, bool allFunctions) {
    const int address = f[0], function = f[1];
    const bool broadcastStatusRead = f == Frame{0, 4, 0x01, 0x2C, 0x00, 0x40, 0x31, 0xA9};
    if (address == 0 && !broadcastStatusRead) return "a broadcast other than the status read";
    if ((function >= 65 && function <= 72) || (function >= 100 && function <= 110))
        return "a user-defined function";
    if (function == 8 && (f.size() < 6 || word(f, 2) != 0)) return "a function 8 that is not 0";
    if (function == 6 && (f.size() != 8 || word(f, 2) != 400)) return "a write other than 400";
    if (function == 16 && !(f.size() == 11 && word(f, 2) == 400 && word(f, 4) == 1))
        return "a write other than 400 alone";
    for (int write : {5, 15, 21, 22, 23})
        if (function == write) return "a write function";
    for (int legacy : {9, 10, 13, 14, 125, 126, 127})
        if (function == legacy) return "a legacy function";
    const bool allowed = (function >= 1 && function <= 4) || function == 6 || function == 8 ||
                         function == 16 || function == kReservedFunction;
    if (!allowed && !allFunctions) return "a function beyond the checks'";
    return {};
}

// Every stretch of `frame` ending in the right CRC of the bytes before it, at least four bytes.
std::vector<Frame> acceptedStretches(const Frame& frame) {
    std::vector<Frame> out;
    for (std::size_t start = 0; start < frame.size(); ++start) {
        std::uint16_t crc = protocol::kCrcInitial;
        for (std::size_t end = start + 1; end + 2 <= frame.size(); ++end) {
            crc = protocol::crc16(std::span(frame).subspan(end - 1, 1), crc);
            if (end - start >= 2 && frame[end] == (crc & 0xFF) && frame[end + 1] == crc >> 8)
                out.emplace_back(frame.begin() + std::ptrdiff_t(start),
                                 frame.begin() + std::ptrdiff_t(end + 2));
        }
    }
    return out;
}

TEST(Fuzzer, NoFrameOfManySeedsCouldHarmAControllerAtAnyAddress) {
    constexpr int kSeeds = 30;
    constexpr int kFramesPerSeed = 200;
    for (const bool allFunctions : {false, true}) {
        std::set<int> functionsSent, lengths;
        int badCrc = 0, otherAddress = 0, rightCrcToUs = 0;
        for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
            Fuzzer fuzzer(seed, 7, allFunctions ? Policy::AllFunctions : Policy::Probe);
            for (int n = 0; n < kFramesPerSeed; ++n) {
                const Frame frame = fuzzer.next();
                ASSERT_FALSE(frame.empty());
                lengths.insert(int(frame.size()));
                if (frame.size() >= 2) functionsSent.insert(frame[1]);
                const bool right = protocol::hasValidCrc(frame);
                badCrc += !right;
                otherAddress += right && frame[0] != 7;
                rightCrcToUs += right && frame[0] == 7;
                for (const Frame& stretch : acceptedStretches(frame)) {
                    const std::string why = harm(stretch, allFunctions);
                    ASSERT_TRUE(why.empty()) << why << " in seed " << seed << " frame " << n << ": "
                                             << ::testing::PrintToString(frame);
                }
            }
        }
        // It does fuzz: every function code, lengths from 1 byte to past the longest frame,
        // wrong CRCs, other addresses and requests that a slave serves.
        Fuzzer longRun(1, 7, allFunctions ? Policy::AllFunctions : Policy::Probe);
        for (int n = 0; n < 3000; ++n) {
            const Frame frame = longRun.next();
            if (frame.size() >= 2) functionsSent.insert(frame[1]);
            for (const Frame& stretch : acceptedStretches(frame))
                ASSERT_EQ(harm(stretch, allFunctions), "") << ::testing::PrintToString(frame);
        }
        EXPECT_EQ(functionsSent.size(), 256u);
        EXPECT_EQ(*lengths.begin(), 1);
        EXPECT_GT(*lengths.rbegin(), protocol::kMaxFrameBytes);
        EXPECT_GT(badCrc, kSeeds * kFramesPerSeed / 3);
        EXPECT_GT(otherAddress, 100);
        EXPECT_GT(rightCrcToUs, 100);
    }
}

TEST(Fuzzer, TheSameSeedSendsTheSameFrames) {
    Fuzzer a(12345, 7, Policy::Probe), b(12345, 7, Policy::Probe), c(12346, 7, Policy::Probe);
    std::vector<Frame> first, second, other;
    for (int n = 0; n < 200; ++n) {
        first.push_back(a.next());
        second.push_back(b.next());
        other.push_back(c.next());
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
}

}  // namespace
}  // namespace torvix::conformance
