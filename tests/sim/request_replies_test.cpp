// The request table's reply lengths against what the simulated controller really returns.

#include <gtest/gtest.h>

#include "protocol/request_table.h"
#include "sim/simulator_core.h"
#include "support/frames.h"

namespace torvix::sim {
namespace {

using requests::Kind;
using requests::Request;

Request sample(const requests::Entry& entry) {
    return {entry.kind, entry.takesArgument ? 5 : 0};
}

TEST(RequestReplies, EveryKindIsAnsweredWithTheTableLengthAndFunction) {
    SimulatorCore core{GensetConfig{.seed = 1, .noise = false}, 7, FaultOptions{}};
    for (const requests::Entry& entry : requests::kTable) {
        const auto request = torvix::testing::requestFrame(sample(entry));
        const auto reply = core.onFrame(request);
        ASSERT_FALSE(reply.empty()) << requests::words(request).toStdString();
        EXPECT_EQ(static_cast<int>(reply.size()), requests::normalReplyBytes(request).value())
            << requests::words(request).toStdString();
        EXPECT_EQ(reply[1], entry.function);
        EXPECT_TRUE(protocol::hasValidCrc(reply));
        EXPECT_TRUE(requests::replyComplete(request, reply));
        EXPECT_FALSE(requests::replyComplete(request, std::span(reply).first(reply.size() - 1)));
    }
    EXPECT_EQ(core.counters().exceptions, 0u);
}

TEST(RequestReplies, EveryKindsExceptionReplyHasTheTableLength) {
    SimulatorCore core{GensetConfig{.seed = 1, .noise = false}, 7,
                       FaultOptions{.exceptionEvery = 1}};
    for (const requests::Entry& entry : requests::kTable) {
        const auto request = torvix::testing::requestFrame(sample(entry));
        const auto reply = core.onFrame(request);
        EXPECT_EQ(static_cast<int>(reply.size()), requests::kExceptionReplyBytes);
        EXPECT_EQ(reply[1], entry.function | protocol::kExceptionFlag);
        EXPECT_TRUE(requests::replyComplete(request, reply));
    }
}

}  // namespace
}  // namespace torvix::sim
