#include <gtest/gtest.h>

#include <QJsonArray>

#include "sim/simulator_core.h"
#include "support/reference_frames.h"

namespace torvix::sim {
namespace {

using namespace testing;
using reference::kStatusRead;

class SlaveTest : public ::testing::Test {
protected:
    Bytes exchange(const Bytes& request) { return core.onFrame(request); }
    Bytes status() {
        Bytes reply = exchange(kStatusRead);
        EXPECT_EQ(reply.size(), 133u);
        return reply;
    }

    SimulatorCore core{GensetConfig{.seed = 1, .noise = false}, 7, FaultOptions{}};
};

TEST_F(SlaveTest, StatusReadAnswersSixtyFourRegistersWithGoodCrc) {
    const Bytes reply = status();
    ASSERT_EQ(reply.size(), 133u);
    EXPECT_EQ(reply[0], 7);
    EXPECT_EQ(reply[1], 4);
    EXPECT_EQ(reply[2], 128);
    EXPECT_TRUE(crcHolds(reply));
    EXPECT_EQ(statusRegister(reply, 0), 0x020E);  // protocol 2.14
    EXPECT_EQ(statusRegister(reply, 1), 0x0307);  // software 3.07
    EXPECT_EQ(statusRegister(reply, 2), 2300);    // common buses 230.0 V
    EXPECT_EQ(statusRegister(reply, 16), 5000);   // 50.00 Hz
    EXPECT_EQ(statusRegister(reply, 4), 0);       // stopped: no generator voltage
    EXPECT_EQ(statusRegister(reply, 18), 0);
    EXPECT_EQ(statusRegister(reply, 56), 0x0101);  // section 1, priority 1
    for (int n = 0; n < 64; ++n)
        EXPECT_EQ(statusRegister(reply, n), core.model().statusBlock()[n]) << "register " << n;
}

TEST_F(SlaveTest, PartialReadsWithinTheBlockAreServed) {
    const Bytes last = exchange(framed({7, 4, 0x01, 0x6B, 0x00, 0x01}));  // 363 alone
    ASSERT_EQ(last.size(), 7u);
    EXPECT_EQ(last[2], 2);
    EXPECT_TRUE(crcHolds(last));
    EXPECT_EQ(last[3] << 8 | last[4], 120000 & 0xFFFF);  // low word of the running minutes
}

// Expected replies, CRC included, from pymodbus's computeCRC.
TEST_F(SlaveTest, ExceptionsForUnknownFunctionsAndAddressesOutsideTheMaps) {
    struct Case {
        Bytes request;
        Bytes reply;
    };
    const Case cases[] = {
        {reference::kHoldingRead, reference::kIllegalFunction3},
        {reference::kReadFromZero, reference::kIllegalAddress4},
        {reference::kReadPastTheBlock, reference::kIllegalAddress4},
        {reference::kReadAfterTheBlock, reference::kIllegalAddress4},
        {reference::kWrite401Alone, reference::kIllegalAddress6},
        {reference::kWriteMultipleFrom402, reference::kIllegalAddress16},
        {framed({7, 4, 0x01, 0x2C, 0x00, 0x00}), reference::kIllegalValue4},
    };
    for (const Case& c : cases) EXPECT_EQ(exchange(c.request), c.reply);
    EXPECT_EQ(core.counters().exceptions, std::size(cases));
    EXPECT_EQ(core.model().commandCount(), 0u);
}

TEST_F(SlaveTest, NoReplyToBadCrcOtherAddressShortFramesOrBroadcasts) {
    Bytes badCrc = kStatusRead;
    badCrc.back() ^= 0x03;
    EXPECT_TRUE(exchange(badCrc).empty());
    EXPECT_TRUE(exchange(reference::kStatusReadForAddress8).empty());
    EXPECT_TRUE(exchange(bytes({0x07, 0x04, 0x01})).empty());
    EXPECT_TRUE(exchange({}).empty());
    EXPECT_FALSE(core.model().running());

    // A broadcast start acts without a reply.
    EXPECT_TRUE(exchange(reference::kStartBroadcast).empty());
    EXPECT_TRUE(core.model().running());
    EXPECT_EQ(core.counters().badCrc, 3u);
    EXPECT_EQ(core.counters().otherAddress, 1u);
    EXPECT_EQ(core.counters().broadcasts, 1u);
    EXPECT_EQ(core.counters().replies, 0u);
}

TEST_F(SlaveTest, WritesAreEchoedAndTheCounterIsKept) {
    const Bytes counterWrite = reference::kFirstCounterWrite;
    EXPECT_EQ(exchange(counterWrite), counterWrite);
    EXPECT_EQ(core.model().holdingRegister(400), 1);
    exchange(framed({7, 6, 0x01, 0x90, 0xFF, 0xFE}));
    EXPECT_EQ(core.model().holdingRegister(400), 65534);
    EXPECT_EQ(core.state()["counter"].toInt(), 65534);
    EXPECT_EQ(core.model().commandCount(), 0u);  // the counter is not a command
}

TEST_F(SlaveTest, StartAndStopDriveMeasurementsLampsAndRelays) {
    const Bytes start = reference::kStart;
    EXPECT_EQ(exchange(start), start);
    Bytes reply = status();
    EXPECT_EQ(statusRegister(reply, 4), 2300);
    EXPECT_EQ(statusRegister(reply, 5), 2300);
    EXPECT_EQ(statusRegister(reply, 6), 2300);
    EXPECT_EQ(statusRegister(reply, 18), 5000);
    EXPECT_EQ(statusRegister(reply, 58) & 0x0001, 0x0001);  // "ДГУ"
    EXPECT_EQ(statusRegister(reply, 60) & 0x0003, 0x0001);  // "Старт" on, "Стоп" off
    EXPECT_EQ(statusRegister(reply, 7), 0);                 // no load switched on yet

    exchange(writeCommand(7, 0x4562));
    reply = status();
    EXPECT_EQ(statusRegister(reply, 4), 0);
    EXPECT_EQ(statusRegister(reply, 58) & 0x0001, 0);
    EXPECT_EQ(statusRegister(reply, 60) & 0x0003, 0x0002);
}

TEST_F(SlaveTest, AcknowledgeClearsTheSavedFaultWordsOnly) {
    Bytes reply = status();
    const int lastAlarm = statusRegister(reply, 44);
    ASSERT_NE(statusRegister(reply, 43) | statusRegister(reply, 46), 0);
    EXPECT_EQ(statusRegister(reply, 58) & 0x0100, 0x0100);  // "Авария"
    EXPECT_EQ(statusRegister(reply, 60) & 0x0004, 0x0004);  // "Сирена"

    exchange(writeCommand(7, 0x7893));
    reply = status();
    for (int n : {43, 46, 49, 35, 36}) EXPECT_EQ(statusRegister(reply, n), 0) << n;
    EXPECT_EQ(statusRegister(reply, 44), lastAlarm);
    EXPECT_EQ(statusRegister(reply, 58) & 0x0100, 0);
    EXPECT_EQ(statusRegister(reply, 60) & 0x0004, 0);
}

TEST_F(SlaveTest, SwitchRowsTurnTheirFunctionOffOnAndToggle) {
    struct Row {
        int function;  // low byte of the code
        bool (GensetModel::*state)() const;
        int lamp;  // bit of register 358 that follows it
    };
    const Row rows[] = {{0xC4, &GensetModel::loadOn, 0x0020},
                        {0xCC, &GensetModel::sectionOn, 0x0040},
                        {0x10, &GensetModel::autostartOn, 0x0008}};
    exchange(writeCommand(7, 0x1231));
    for (const Row& row : rows) {
        const auto lampLit = [&] { return (statusRegister(status(), 58) & row.lamp) != 0; };
        const GensetModel& model = core.model();
        EXPECT_FALSE((model.*row.state)());
        exchange(writeCommand(7, 0x5B00 | row.function));
        EXPECT_TRUE((model.*row.state)());
        EXPECT_TRUE(lampLit());
        exchange(writeCommand(7, 0x5B00 | row.function));  // "1" twice stays on
        EXPECT_TRUE((model.*row.state)());
        exchange(writeCommand(7, 0xAB00 | row.function));
        EXPECT_FALSE((model.*row.state)());
        EXPECT_FALSE(lampLit());
        exchange(writeCommand(7, 0xAB00 | row.function));
        EXPECT_TRUE((model.*row.state)());
        exchange(writeCommand(7, 0x0B00 | row.function));
        EXPECT_FALSE((model.*row.state)());
    }
}

TEST_F(SlaveTest, LoadOnARunningSetShowsCurrentsAndPowers) {
    exchange(writeCommand(7, 0x1231));
    exchange(writeCommand(7, 0x5BC4));
    const Bytes reply = status();
    // 120 kW at power factor 0.8: 150 kVA, 90 kvar, 150 kVA / (3 x 230 V) = 217.4 A.
    EXPECT_EQ(statusRegister(reply, 10) << 16 | statusRegister(reply, 11), 1200);
    EXPECT_EQ(statusRegister(reply, 12) << 16 | statusRegister(reply, 13), 1500);
    EXPECT_EQ(statusRegister(reply, 14) << 16 | statusRegister(reply, 15), 900);
    for (int n : {7, 8, 9}) EXPECT_EQ(statusRegister(reply, n), 1087) << n;  // x 0.2 A
    EXPECT_EQ(statusRegister(reply, 3), 2300);  // the set feeds the section
}

TEST_F(SlaveTest, PriorityAndSectionWritesSetRegister356) {
    // The priority write of the operator's example, number 3.
    const Bytes priority = reference::kPriority3;
    EXPECT_EQ(exchange(priority), reference::kNumberWriteReply);
    EXPECT_EQ(statusRegister(status(), 56), 0x0103);

    exchange(reference::kSectionNumber5);
    EXPECT_EQ(statusRegister(status(), 56), 0x0503);
    EXPECT_EQ(core.model().holdingRegister(401), 0xAA05);
    EXPECT_EQ(core.model().holdingRegister(402), 0xEEAA);

    // The neighbouring section is kept but not shown in 356.
    exchange(reference::kNeighbourSection4);
    EXPECT_EQ(core.model().neighbourSection(), 4);
    EXPECT_EQ(statusRegister(status(), 56), 0x0503);

    exchange(writeArgumentAndCommand(0x5500, 0xEE55));  // 0 is a valid priority
    EXPECT_EQ(statusRegister(status(), 56), 0x0500);
    exchange(writeArgumentAndCommand(0xAA07, 0xEEAA));
    EXPECT_EQ(statusRegister(status(), 56), 0x0700);

    // A number above 7 or the other kind's marker changes nothing.
    exchange(writeArgumentAndCommand(0xAA08, 0xEEAA));
    exchange(writeArgumentAndCommand(0x5502, 0xEEAA));
    exchange(writeArgumentAndCommand(0xAA02, 0xEE55));
    EXPECT_EQ(statusRegister(status(), 56), 0x0700);
}

TEST_F(SlaveTest, CommandCodesAreRecordedInOrder) {
    for (int code : {0x1231, 0xABC4, 0x1234, 0x4562}) exchange(writeCommand(7, code));
    exchange(writeArgumentAndCommand(0x5502, 0xEE55));
    const auto& commands = core.model().recentCommands();
    EXPECT_EQ(std::vector<std::uint16_t>(commands.begin(), commands.end()),
              (std::vector<std::uint16_t>{0x1231, 0xABC4, 0x1234, 0x4562, 0xEE55}));
    const QJsonArray listed = core.state()["commands"].toArray();
    ASSERT_EQ(listed.size(), 5);
    EXPECT_EQ(listed[4].toInt(), 0xEE55);
    EXPECT_EQ(core.state()["input_registers"].toArray().size(), 64);
}

}  // namespace
}  // namespace torvix::sim
