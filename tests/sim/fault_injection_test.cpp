#include <gtest/gtest.h>

#include "sim/simulator_core.h"
#include "support/reference_frames.h"

namespace torvix::sim {
namespace {

using namespace testing;
using reference::kStatusRead;

using reference::kStart;

TEST(FaultInjection, EveryNthRequestAndTheOrderOfPrecedence) {
    const FaultOptions options{
        .dropEvery = 6, .exceptionEvery = 4, .badCrcEvery = 3, .wrongAddressEvery = 2};
    const Fault expected[] = {Fault::None,      Fault::WrongAddress, Fault::BadCrc,
                              Fault::Exception, Fault::None,         Fault::Drop,
                              Fault::None,      Fault::Exception,    Fault::BadCrc};
    for (std::uint64_t n = 1; n <= std::size(expected); ++n)
        EXPECT_EQ(faultFor(n, options), expected[n - 1]) << "request " << n;
    EXPECT_EQ(faultFor(5, FaultOptions{}), Fault::None);
}

TEST(FaultInjection, DroppedRequestsDoNotAct) {
    SimulatorCore core(GensetConfig{}, 7, FaultOptions{.dropEvery = 2});
    EXPECT_EQ(core.onFrame(kStatusRead).size(), 133u);
    EXPECT_TRUE(core.onFrame(kStart).empty());
    EXPECT_FALSE(core.model().running());
    EXPECT_EQ(core.onFrame(kStart), kStart);  // the repetition gets through
    EXPECT_TRUE(core.model().running());
    EXPECT_EQ(core.counters().dropped, 1u);
}

TEST(FaultInjection, RefusedRequestsGetExceptionSixAndDoNotAct) {
    SimulatorCore core(GensetConfig{}, 7, FaultOptions{.exceptionEvery = 1});
    EXPECT_EQ(core.onFrame(kStart), reference::kBusy6);
    EXPECT_EQ(core.onFrame(kStatusRead), reference::kBusy4);
    EXPECT_FALSE(core.model().running());
    EXPECT_EQ(core.counters().injectedExceptions, 2u);
    EXPECT_EQ(core.counters().exceptions, 0u);
}

TEST(FaultInjection, CorruptedRepliesFollowRequestsThatActed) {
    SimulatorCore core(GensetConfig{}, 7, FaultOptions{.badCrcEvery = 1});
    const Bytes reply = core.onFrame(kStart);
    ASSERT_EQ(reply.size(), kStart.size());
    EXPECT_TRUE(std::equal(reply.begin(), reply.end() - 2, kStart.begin()));
    EXPECT_FALSE(crcHolds(reply));
    EXPECT_TRUE(core.model().running());
}

TEST(FaultInjection, WrongAddressRepliesCarryAGoodCrc) {
    SimulatorCore core(GensetConfig{}, 7, FaultOptions{.wrongAddressEvery = 1});
    const Bytes reply = core.onFrame(kStart);
    EXPECT_EQ(reply, reference::kStartForAddress8);
    EXPECT_TRUE(core.model().running());

    SimulatorCore last(GensetConfig{}, 247, FaultOptions{.wrongAddressEvery = 1});
    const Bytes read = last.onFrame(framed({247, 4, 0x01, 0x2C, 0x00, 0x40}));
    ASSERT_EQ(read.size(), 133u);
    EXPECT_EQ(read[0], 1);
    EXPECT_TRUE(crcHolds(read));
}

TEST(FaultInjection, GarbageReplacesTheReplyAndRepeatsWithTheSeed) {
    SimulatorCore a(GensetConfig{.seed = 9}, 7, FaultOptions{.garbageEvery = 1});
    SimulatorCore b(GensetConfig{.seed = 9}, 7, FaultOptions{.garbageEvery = 1});
    for (int i = 0; i < 50; ++i) {
        const Bytes garbage = a.onFrame(kStart);
        EXPECT_EQ(garbage, b.onFrame(kStart));
        EXPECT_GE(garbage.size(), 1u);
        EXPECT_LE(garbage.size(), 40u);
        EXPECT_NE(garbage, kStart);
    }
    EXPECT_FALSE(a.model().running());
    EXPECT_EQ(a.counters().garbage, 50u);
}

}  // namespace
}  // namespace torvix::sim
