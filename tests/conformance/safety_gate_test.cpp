// The safety gate against verdicts written down by hand from the rules of the protocol test:
// frames of pymodbus (reference_frames.h) and frames built here, each with what every policy
// must say. Nothing here asks the gate what it thinks first.

#include "conformance/safety_gate.h"

#include <gtest/gtest.h>

#include "support/frames.h"
#include "support/reference_frames.h"

namespace torvix::conformance {
namespace {

using testing::bytes;
using testing::Frame;
using testing::framed;
namespace reference = testing::reference;

constexpr bool Y = true;   // may go out
constexpr bool N = false;  // refused

struct Case {
    const char* what;
    Frame frame;
    bool probe, allFunctions, raw, rawWithCommands;
};

Frame badCrc(Frame frame) {
    frame.back() ^= 0x01;
    return frame;
}

Frame joined(Frame a, const Frame& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SafetyGate, EachPolicyLetsThroughExactlyWhatItMay) {
    const Case cases[] = {
        {"status read", reference::kStatusRead, Y, Y, Y, Y},
        {"counter write (FC6 400)", reference::kFirstCounterWrite, Y, Y, Y, Y},
        {"counter write FC16 400x1", framed({7, 16, 0x01, 0x90, 0, 1, 2, 0, 9}), Y, Y, Y, Y},
        {"read coils", framed({7, 1, 0, 0, 0, 1}), Y, Y, Y, Y},
        {"read discrete inputs", framed({7, 2, 0, 0, 0, 1}), Y, Y, Y, Y},
        {"read holding 400", framed({7, 3, 0x01, 0x90, 0, 1}), Y, Y, Y, Y},
        {"return query data", framed({7, 8, 0, 0, 0x12, 0x34}), Y, Y, Y, Y},
        {"reserved public code 0x21", framed({7, 0x21, 0, 0, 0, 1}), Y, Y, Y, Y},
        {"start (402)", reference::kStart, N, N, N, Y},
        {"load on (402)", reference::kLoadOn, N, N, N, Y},
        {"priority 5 (401+402)", reference::kPriority5, N, N, N, Y},
        {"FC6 to 401", framed({7, 6, 0x01, 0x91, 0x55, 0x01}), N, N, N, Y},
        {"FC16 400..401", framed({7, 16, 0x01, 0x90, 0, 2, 4, 0, 1, 0, 2}), N, N, N, Y},
        {"FC16 400..402", framed({7, 16, 0x01, 0x90, 0, 3, 6, 0, 1, 0, 2, 0, 3}), N, N, N, Y},
        {"FC6 to register 0", framed({7, 6, 0, 0, 0, 1}), N, N, Y, Y},
        {"FC16 to 300", framed({7, 16, 0x01, 0x2C, 0, 1, 2, 0, 1}), N, N, Y, Y},
        {"write coil", framed({7, 5, 0, 0, 0xFF, 0}), N, N, Y, Y},
        {"write coils", framed({7, 15, 0, 0, 0, 1, 1, 1}), N, N, Y, Y},
        {"mask write 402", framed({7, 22, 0x01, 0x92, 0, 0, 0x12, 0x31}), N, N, N, Y},
        {"read/write multiple, writes 402",
         framed({7, 23, 0x01, 0x2C, 0, 1, 0x01, 0x92, 0, 1, 2, 0x12, 0x31}), N, N, N, Y},
        {"force listen only (FC8 sub 4)", framed({7, 8, 0, 4, 0, 0}), N, N, Y, Y},
        {"restart communications (FC8 sub 1)", framed({7, 8, 0, 1, 0, 0}), N, N, Y, Y},
        {"user-defined 65", framed({7, 65, 0, 0}), N, N, Y, Y},
        {"user-defined 72", framed({7, 72, 0, 0}), N, N, Y, Y},
        {"user-defined 100", framed({7, 100, 0, 0}), N, N, Y, Y},
        {"user-defined 110", framed({7, 110, 0, 0}), N, N, Y, Y},
        {"report slave id (17)", framed({7, 17}), N, Y, Y, Y},
        {"read exception status (7)", framed({7, 7}), N, Y, Y, Y},
        {"unassigned public 30", framed({7, 30, 1, 2}), N, Y, Y, Y},
        {"unassigned public 120", framed({7, 120, 1, 2}), N, Y, Y, Y},
        {"legacy program 484 (9)", framed({7, 9, 0, 0}), N, N, Y, Y},
        {"legacy 884 program (13)", framed({7, 13, 0, 0}), N, N, Y, Y},
        {"firmware replacement (125)", framed({7, 125, 0, 0}), N, N, Y, Y},
        {"broadcast status read", framed({0, 4, 0x01, 0x2C, 0, 0x40}), Y, Y, Y, Y},
        {"broadcast counter write", framed({0, 6, 0x01, 0x90, 0, 1}), N, N, Y, Y},
        {"broadcast other read", framed({0, 4, 0x01, 0x2C, 0, 1}), N, N, Y, Y},
        {"broadcast start", framed({0, 6, 0x01, 0x92, 0x12, 0x31}), N, N, N, Y},
        {"start to another slave", framed({8, 6, 0x01, 0x92, 0x12, 0x31}), N, N, N, Y},
        {"status read to another slave", framed({8, 4, 0x01, 0x2C, 0, 0x40}), Y, Y, Y, Y},
        {"start with a bad CRC", badCrc(reference::kStart), Y, Y, Y, Y},
        {"user-defined with a bad CRC", badCrc(framed({7, 66, 1, 2})), Y, Y, Y, Y},
        {"start, then bytes after it", joined(reference::kStart, bytes({1, 2, 3})), N, N, N, Y},
        {"bytes, then start", joined(bytes({0xAA, 0x55}), reference::kStart), N, N, N, Y},
        {"status read, then start", joined(reference::kStatusRead, reference::kStart), N, N, N, Y},
        {"a bare three bytes", bytes({7, 4, 1}), Y, Y, Y, Y},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(!refusal(c.frame, Policy::Probe), c.probe);
        EXPECT_EQ(!refusal(c.frame, Policy::AllFunctions), c.allFunctions);
        EXPECT_EQ(!refusal(c.frame, Policy::Raw), c.raw);
        EXPECT_EQ(!refusal(c.frame, Policy::RawWithCommands), c.rawWithCommands);
    }
}

TEST(SafetyGate, ARefusalSaysWhyInWordsAndWhereInTheFrame) {
    const auto alone = refusal(reference::kStart, Policy::Probe);
    ASSERT_TRUE(alone);
    EXPECT_TRUE(alone->contains(QStringLiteral("400"))) << alone->toStdString();
    const auto inside = refusal(joined(bytes({0xAA, 0x55}), reference::kStart), Policy::Raw);
    ASSERT_TRUE(inside);
    EXPECT_TRUE(inside->startsWith(QStringLiteral("байты 2..9"))) << inside->toStdString();
    EXPECT_TRUE(inside->contains(QStringLiteral("--allow-commands")));
}

}  // namespace
}  // namespace torvix::conformance
