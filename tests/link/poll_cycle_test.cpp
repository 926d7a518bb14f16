#include <gtest/gtest.h>

#include "link/modbus.h"
#include "support/fake_serial_port.h"
#include "support/frames.h"
#include "support/recording_sink.h"

namespace torvix {
namespace {

using testing::Frame;
using testing::withCrc;

// Frames of the protocol documentation, slave address 7.
const Frame kStatusRead{0x07, 0x04, 0x01, 0x2C, 0x00, 0x40, 0x31, 0xA9};
const Frame kCounterWrite1{0x07, 0x06, 0x01, 0x90, 0x00, 0x01, 0x49, 0xBD};

class PollCycle : public ::testing::Test {
protected:
    PollCycle() {
        port.open = true;
        port.settings = QStringLiteral("115200,e,8,1");
    }

    // Runs one tick with `reply` waiting, as if it arrived since the previous tick.
    void tick(const Frame& reply = {}) {
        port.feed(reply);
        modbus.pollTick();
    }
    const Frame& lastSent() const { return port.written.back(); }
    Frame echoOfLastSent() const { return lastSent(); }
    Frame anyStatusReply() const { return testing::statusReply({}); }

    testing::FakeSerialPort port;
    testing::RecordingSink sink;
    Modbus modbus{port, sink, sink, sink, QLocale(QLocale::Russian)};
};

TEST_F(PollCycle, FirstTickFindsNothingAndSendsTheStatusRead) {
    tick();
    EXPECT_EQ(sink.statusText(), status_text::kNoAnswer);
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(lastSent(), kStatusRead);
    EXPECT_EQ(modbus.queue().writeIndex(), 1);
    EXPECT_EQ(modbus.queue().readIndex(), 0);
    EXPECT_FALSE(sink.hasCaption("lbl_tr_id"));
}

TEST_F(PollCycle, DefaultRequestsAlternateAndCountTransactions) {
    tick();
    tick(anyStatusReply());
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
    EXPECT_EQ(lastSent(), kCounterWrite1);
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("1"));
    tick(echoOfLastSent());
    EXPECT_EQ(lastSent(), kStatusRead);
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), withCrc({0x07, 0x06, 0x01, 0x90, 0x00, 0x02}));
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("2"));
}

TEST_F(PollCycle, UnansweredRequestIsRepeatedUnchanged) {
    tick();
    tick(anyStatusReply());
    ASSERT_EQ(lastSent(), kCounterWrite1);
    for (int i = 0; i < 3; ++i) {
        tick();
        EXPECT_EQ(sink.statusText(), status_text::kNoAnswer);
        EXPECT_EQ(lastSent(), kCounterWrite1);  // the same counter value, not a new one
    }
    tick({0x07, 0x06});  // two bytes are no answer either
    EXPECT_EQ(sink.statusText(), status_text::kNoAnswer);
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("1"));
}

TEST_F(PollCycle, WrongCrcKeepsTheRequestAndTheCycleRecovers) {
    tick();
    Frame corrupt = anyStatusReply();
    corrupt[10] ^= 0x01;
    tick(corrupt);
    EXPECT_EQ(sink.statusText(), status_text::kCrcMismatch);
    EXPECT_EQ(modbus.queue().readIndex(), 0);
    EXPECT_EQ(lastSent(), kStatusRead);
    EXPECT_FALSE(sink.hasCaption("lbl_phAU"));
    tick(anyStatusReply());
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
    EXPECT_EQ(lastSent(), kCounterWrite1);
}

TEST_F(PollCycle, LateBytesMixedWithTheNextReplyCountAsCrcMismatch) {
    tick();
    Frame mixed = anyStatusReply();
    mixed.insert(mixed.begin(), {0x07, 0x06});  // tail of an earlier, late reply
    tick(mixed);
    EXPECT_EQ(sink.statusText(), status_text::kCrcMismatch);
}

TEST_F(PollCycle, ThreeBytesWithMatchingCrcAreAValidReply) {
    tick();
    tick(withCrc({0x07}));
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
    EXPECT_EQ(modbus.queue().readIndex(), 1);
    EXPECT_EQ(lastSent(), kCounterWrite1);
}

TEST_F(PollCycle, ExceptionReplyCountsAsAnsweredAndChangesNoCaption) {
    tick();
    tick(withCrc({0x07, 0x84, 0x02}));
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
    EXPECT_EQ(lastSent(), kCounterWrite1);
    EXPECT_FALSE(sink.hasCaption("lbl_phAU"));
}

TEST_F(PollCycle, KeepsTheFirst250BytesAndDropsTheRest) {
    tick();
    Frame flood(248, 0x55);
    flood = withCrc(flood);               // 250 bytes, valid on their own
    flood.insert(flood.end(), 10, 0xAA);  // 10 more that must be read and dropped
    tick(flood);
    EXPECT_EQ(modbus.rxCount(), 250);
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
}

TEST_F(PollCycle, BufferPastAShortReplyKeepsEarlierBytes) {
    tick();
    const Frame full = anyStatusReply();
    tick(full);
    tick(withCrc({0x07, 0x06, 0x01, 0x90, 0x00, 0x01}));
    EXPECT_EQ(modbus.rxCount(), 8);
    EXPECT_EQ(modbus.rxBuffer()[100], full[100]);
}

TEST_F(PollCycle, ClosedPortSendsNothingAndKeepsTheQueue) {
    port.open = false;
    tick();
    tick();
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(modbus.queue().writeIndex(), 1);  // the refill stays queued
    EXPECT_EQ(modbus.queue().readIndex(), 0);
    port.open = true;
    tick();
    EXPECT_EQ(lastSent(), kStatusRead);
}

TEST_F(PollCycle, SlaveAddressIsTakenAtEveryTransmission) {
    tick();
    sink.address = 12;
    tick();
    EXPECT_EQ(lastSent(), withCrc({12, 0x04, 0x01, 0x2C, 0x00, 0x40}));
}

TEST_F(PollCycle, OperatorCommandGoesOutBeforeTheNextDefaultRequest) {
    tick();  // status read pending
    ASSERT_TRUE(modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31}));
    tick();
    EXPECT_EQ(lastSent(), kStatusRead);  // still waiting for its answer
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), (Frame{0x07, 0x06, 0x01, 0x92, 0x12, 0x31, 0xE4, 0xC9}));
    tick(echoOfLastSent());
    EXPECT_EQ(lastSent(), kCounterWrite1);
}

TEST_F(PollCycle, ValidStatusReplyIsDecodedIntoTheWindow) {
    testing::StatusRegisters regs{};
    regs[4] = 2305;
    tick();
    tick(testing::statusReply(regs));
    EXPECT_EQ(sink.caption("lbl_phAU"), QStringLiteral("230,5 "));
}

TEST_F(PollCycle, FullQueueStaysVisibleUntilARequestIsAnswered) {
    tick();  // the status read is pending
    while (modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31})) {
    }
    EXPECT_EQ(modbus.queue().pendingCount(), RequestQueue::kCapacity);
    tick();
    EXPECT_EQ(sink.statusText(),
              status_text::kNoAnswer + QStringLiteral(". ") + status_text::kQueueFull);
    tick(anyStatusReply());  // one answered: there is room again
    EXPECT_EQ(sink.statusText(), status_text::kLinkUp);
    EXPECT_TRUE(modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31}));
}

TEST(TransactionCounter, SkipsTheValue65535) {
    EXPECT_EQ(Modbus::nextTransactionCounter(0), 1);
    EXPECT_EQ(Modbus::nextTransactionCounter(65533), 65534);
    EXPECT_EQ(Modbus::nextTransactionCounter(65534), 0);
}

// A port that never runs dry must not hold the window inside one tick.
class EndlessPort : public testing::FakeSerialPort {
public:
    int inBufferCount() override { return 1; }
    std::uint8_t input() override { return 0x55; }
};

TEST(PollCycleDrain, EndsOnAFloodingPort) {
    EndlessPort port;
    port.open = true;
    testing::RecordingSink sink;
    Modbus modbus(port, sink, sink, sink);
    modbus.pollTick();
    EXPECT_EQ(modbus.rxCount(), Modbus::kRxKept);
    EXPECT_EQ(port.written.size(), 1u);
}

}  // namespace
}  // namespace torvix
