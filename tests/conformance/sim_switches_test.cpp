// The simulator's switches that break one rule each, as its command line reads them and as its
// slave then behaves on pymodbus's frames: what the protocol test's own tests rely on.

#include <gtest/gtest.h>

#include "sim/command_line.h"
#include "sim/simulator_core.h"
#include "support/frames.h"
#include "support/reference_frames.h"

namespace torvix::sim {
namespace {

using testing::Frame;
using testing::framed;
namespace reference = testing::reference;

TEST(SimSwitches, TheCommandLineSetsEachAndNoneIsOnUnlessAsked) {
    const CommandLine plain = parseCommandLine({"torvix-sim"});
    ASSERT_EQ(plain.outcome, CommandLine::Outcome::Run);
    EXPECT_FALSE(plain.options.breaks.any());

    const CommandLine all =
        parseCommandLine({"torvix-sim", "--answer-bad-crc", "--answer-other-address",
                          "--answer-broadcast", "--silent-exceptions", "--slow-reply-every", "50",
                          "--slow-reply-ms", "300", "--hang-after-malformed", "4"});
    ASSERT_EQ(all.outcome, CommandLine::Outcome::Run) << all.message.toStdString();
    const RuleBreaks& b = all.options.breaks;
    EXPECT_TRUE(b.answerBadCrc && b.answerOtherAddress && b.answerBroadcast && b.silentExceptions);
    EXPECT_EQ(b.slowReplyEvery, 50);
    EXPECT_EQ(b.slowReplyMs, 300);
    EXPECT_EQ(b.hangAfterMalformed, 4);
    EXPECT_EQ(parseCommandLine({"torvix-sim", "--hang-after-malformed", "-1"}).outcome,
              CommandLine::Outcome::Error);
}

TEST(SimSwitches, EachBreaksItsRuleAndLeavesTheOthers) {
    Frame badCrc = reference::kStatusRead;
    badCrc.back() ^= 0x01;
    const Frame toEight = framed({8, 4, 0x01, 0x2C, 0, 0x40});
    const Frame broadcast = framed({0, 4, 0x01, 0x2C, 0, 0x40});
    const Frame illegalAddress = framed({7, 4, 0x01, 0x6C, 0, 1});  // 364

    SimulatorCore conformant(GensetConfig{}, 7, {});
    for (const Frame& unanswered : {badCrc, toEight, broadcast})
        EXPECT_TRUE(conformant.onFrame(unanswered).empty());
    EXPECT_EQ(conformant.onFrame(illegalAddress), reference::kIllegalAddress4);

    SimulatorCore crc(GensetConfig{}, 7, {});
    crc.setRuleBreaks({.answerBadCrc = true});
    EXPECT_EQ(crc.onFrame(badCrc).size(), 133u);
    EXPECT_TRUE(crc.onFrame(toEight).empty());

    SimulatorCore other(GensetConfig{}, 7, {});
    other.setRuleBreaks({.answerOtherAddress = true});
    const Frame asEight = other.onFrame(toEight);
    ASSERT_EQ(asEight.size(), 133u);
    EXPECT_EQ(asEight[0], 8);  // as the slave asked for
    EXPECT_TRUE(testing::crcHolds(asEight));
    EXPECT_TRUE(other.onFrame(broadcast).empty());

    SimulatorCore all(GensetConfig{}, 7, {});
    all.setRuleBreaks({.answerBroadcast = true});
    EXPECT_EQ(all.onFrame(broadcast).size(), 133u);
    EXPECT_TRUE(all.onFrame(badCrc).empty());

    SimulatorCore silent(GensetConfig{}, 7, {});
    silent.setRuleBreaks({.silentExceptions = true});
    EXPECT_TRUE(silent.onFrame(illegalAddress).empty());
    EXPECT_EQ(silent.onFrame(reference::kStatusRead).size(), 133u);

    SimulatorCore hang(GensetConfig{}, 7, {});
    hang.setRuleBreaks({.hangAfterMalformed = 2});
    EXPECT_TRUE(hang.onFrame(badCrc).empty());
    EXPECT_EQ(hang.onFrame(reference::kStatusRead).size(), 133u);
    EXPECT_TRUE(hang.onFrame(testing::bytes({7, 4})).empty());  // the second malformed frame
    EXPECT_TRUE(hang.hung());
    EXPECT_TRUE(hang.onFrame(reference::kStatusRead).empty());
    EXPECT_TRUE(hang.onFrame(reference::kFirstCounterWrite).empty());
}

}  // namespace
}  // namespace torvix::sim
