#include <gtest/gtest.h>

#include "link/modbus.h"
#include "support/fake_serial_port.h"
#include "support/fixed_slave_address.h"
#include "support/reference_frames.h"

namespace torvix {
namespace {

namespace reference = testing::reference;

using testing::Frame;
using testing::withCrc;

// Frames of the protocol documentation, slave address 7.
using reference::kFirstCounterWrite;
using reference::kStart;
using reference::kStatusRead;

Frame copy(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

class PollCycle : public ::testing::Test {
protected:
    PollCycle() { port.open = true; }

    // Runs one tick with `reply` waiting, as if it arrived since the previous tick.
    TickOutcome tick(const Frame& reply = {}) {
        port.feed(reply);
        const TickOutcome outcome = modbus.pollTick();
        lastAnswered = copy(outcome.answered);
        lastReply = copy(outcome.reply);
        return outcome;
    }
    const Frame& lastSent() const { return port.written.back(); }
    Frame anyStatusReply() const { return testing::statusReply({}); }

    testing::FakeSerialPort port;
    testing::FixedSlaveAddress slave;
    Modbus modbus{port, slave};
    Frame lastAnswered;
    Frame lastReply;
};

TEST_F(PollCycle, FirstTickFindsNothingAndSendsTheStatusRead) {
    const TickOutcome first = tick();
    EXPECT_EQ(first.verdict, Verdict::NoAnswer);
    EXPECT_FALSE(first.retired);
    EXPECT_TRUE(first.answered.empty());
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(lastSent(), kStatusRead);
    EXPECT_EQ(copy(first.sent), kStatusRead);
    EXPECT_TRUE(first.written);
    EXPECT_EQ(modbus.queue().writeIndex(), 1);
    EXPECT_EQ(modbus.queue().readIndex(), 0);
}

TEST_F(PollCycle, DefaultRequestsAlternateAndCountTransactions) {
    tick();
    const TickOutcome answered = tick(anyStatusReply());
    EXPECT_EQ(answered.verdict, Verdict::Answered);
    EXPECT_TRUE(answered.retired);
    EXPECT_EQ(lastAnswered, kStatusRead);
    EXPECT_EQ(lastReply, anyStatusReply());
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
    EXPECT_EQ(modbus.transactionCounter(), 1);
    tick(lastSent());  // the echo
    EXPECT_EQ(lastAnswered, kFirstCounterWrite);
    EXPECT_EQ(lastSent(), kStatusRead);
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), reference::kSecondCounterWrite);
}

TEST_F(PollCycle, UnansweredRequestIsRepeatedUnchanged) {
    tick();
    tick(anyStatusReply());
    ASSERT_EQ(lastSent(), kFirstCounterWrite);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tick().verdict, Verdict::NoAnswer);
        EXPECT_EQ(lastSent(), kFirstCounterWrite);  // the same counter value, not a new one
    }
    EXPECT_EQ(tick({0x07, 0x06}).verdict, Verdict::NoAnswer);  // two bytes are no answer either
    EXPECT_EQ(modbus.transactionCounter(), 1);
}

TEST_F(PollCycle, WrongCrcKeepsTheRequestAndTheCycleRecovers) {
    tick();
    Frame corrupt = anyStatusReply();
    corrupt[10] ^= 0x01;
    const TickOutcome bad = tick(corrupt);
    EXPECT_EQ(bad.verdict, Verdict::CrcMismatch);
    EXPECT_FALSE(bad.retired);
    EXPECT_EQ(modbus.queue().readIndex(), 0);
    EXPECT_EQ(lastSent(), kStatusRead);
    EXPECT_EQ(tick(anyStatusReply()).verdict, Verdict::Answered);
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
}

TEST_F(PollCycle, LateBytesMixedWithTheNextReplyCountAsCrcMismatch) {
    tick();
    Frame mixed = anyStatusReply();
    mixed.insert(mixed.begin(), {0x07, 0x06});  // tail of an earlier, late reply
    EXPECT_EQ(tick(mixed).verdict, Verdict::CrcMismatch);
}

TEST_F(PollCycle, ThreeBytesWithMatchingCrcAreAValidReply) {
    tick();
    EXPECT_EQ(tick(withCrc({0x07})).verdict, Verdict::Answered);
    EXPECT_EQ(modbus.queue().readIndex(), 1);
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
}

// Busy (6) means the controller did not execute the request: it goes out again. Every other
// refusal is final, and repeating it would only be refused again; acknowledge (5) means done.
TEST_F(PollCycle, ExceptionRepliesRetireTheRequestUnlessTheControllerWasBusy) {
    tick();
    for (int code = 1; code <= 7; ++code) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31}));
        for (int i = 0; i < 3 && lastSent() != kStart; ++i) tick(lastSent());
        ASSERT_EQ(lastSent(), kStart);

        const TickOutcome refused = tick(withCrc({0x07, 0x86, static_cast<std::uint8_t>(code)}));
        EXPECT_EQ(refused.verdict, Verdict::Exception);
        EXPECT_EQ(refused.exceptionCode, code);
        EXPECT_EQ(lastAnswered, kStart);
        const bool busy = code == 6;
        EXPECT_EQ(refused.retired, !busy);
        EXPECT_EQ(lastSent() == kStart, busy);
        if (busy) {
            EXPECT_EQ(tick(lastSent()).verdict, Verdict::Answered);  // executed on the repeat
            EXPECT_NE(lastSent(), kStart);
        }
    }
}

TEST_F(PollCycle, BusyControllerGetsTheStatusReadAgainToo) {
    tick();
    const TickOutcome busy = tick(reference::kBusy4);
    EXPECT_FALSE(busy.retired);
    EXPECT_EQ(lastSent(), kStatusRead);
    EXPECT_EQ(modbus.transactionCounter(), 0);
}

TEST_F(PollCycle, KeepsTheFirst250BytesAndDropsTheRest) {
    tick();
    Frame flood(248, 0x55);
    flood = withCrc(flood);               // 250 bytes, valid on their own
    flood.insert(flood.end(), 10, 0xAA);  // 10 more that must be read and dropped
    EXPECT_EQ(tick(flood).verdict, Verdict::Answered);
    EXPECT_EQ(modbus.rxCount(), 250);
    EXPECT_EQ(lastReply.size(), 250u);
    EXPECT_EQ(port.inBufferCount(), 0);
}

TEST_F(PollCycle, BufferPastAShortReplyKeepsEarlierBytes) {
    tick();
    const Frame full = anyStatusReply();
    tick(full);
    tick(kFirstCounterWrite);
    EXPECT_EQ(modbus.rxCount(), 8);
    EXPECT_EQ(modbus.rxBuffer()[100], full[100]);
}

TEST_F(PollCycle, ClosedPortSendsNothingAndKeepsTheQueue) {
    port.open = false;
    tick();
    const TickOutcome closed = tick();
    EXPECT_FALSE(closed.written);
    EXPECT_EQ(copy(closed.sent), kStatusRead);  // built all the same
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(modbus.queue().writeIndex(), 1);  // the refill stays queued
    EXPECT_EQ(modbus.queue().readIndex(), 0);
    port.open = true;
    tick();
    EXPECT_EQ(lastSent(), kStatusRead);
}

TEST_F(PollCycle, SlaveAddressIsTakenAtEveryTransmission) {
    tick();
    slave.address = 12;
    tick();
    EXPECT_EQ(lastSent(), reference::kStatusReadForAddress12);
}

TEST_F(PollCycle, OperatorCommandGoesOutBeforeTheNextDefaultRequest) {
    tick();  // status read pending
    ASSERT_TRUE(modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31}));
    tick();
    EXPECT_EQ(lastSent(), kStatusRead);  // still waiting for its answer
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), kStart);
    tick(lastSent());
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
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
    testing::FixedSlaveAddress slave;
    Modbus modbus(port, slave);
    modbus.pollTick();
    EXPECT_EQ(modbus.rxCount(), Modbus::kRxKept);
    EXPECT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.discards, 1);
}

// What a tick does not judge must not be judged next tick in place of the reply.
TEST_F(PollCycle, AFloodPastTheDrainLimitIsThrownAwayAndTheNextReplyCounts) {
    tick();
    Frame flood(Modbus::kDrainLimit, 0xA5);
    const Frame reply = anyStatusReply();
    flood.insert(flood.end(), reply.begin(), reply.end());  // a good frame inside the flood's rest
    EXPECT_EQ(tick(flood).verdict, Verdict::CrcMismatch);
    EXPECT_EQ(port.discards, 1);
    EXPECT_TRUE(port.rx.empty());
    EXPECT_EQ(lastSent(), kStatusRead);

    EXPECT_EQ(tick(anyStatusReply()).verdict, Verdict::Answered);
    EXPECT_EQ(lastSent(), kFirstCounterWrite);

    // Exactly the limit is taken whole: nothing is left over, nothing thrown away.
    EXPECT_EQ(tick(Frame(Modbus::kDrainLimit, 0x00)).verdict, Verdict::CrcMismatch);
    EXPECT_EQ(port.discards, 1);
}

// The fast cadence takes a reply as soon as it is whole; the tick then judges exactly it.
TEST_F(PollCycle, AReplyIsTakenAsSoonAsItIsWholeAndJudgedByTheNextTick) {
    tick();  // the status read is in flight
    const Frame reply = anyStatusReply();
    EXPECT_FALSE(modbus.takeArrived());
    port.feed(Frame(reply.begin(), reply.begin() + 100));
    EXPECT_FALSE(modbus.takeArrived());
    port.feed(Frame(reply.begin() + 100, reply.end()));
    EXPECT_TRUE(modbus.takeArrived());
    const TickOutcome outcome = tick();
    EXPECT_EQ(outcome.verdict, Verdict::Answered);
    EXPECT_EQ(lastReply, reply);

    // The counter write's echo (8 bytes) and an exception reply (5) are whole too.
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
    port.feed(Frame(kFirstCounterWrite.begin(), kFirstCounterWrite.begin() + 7));
    EXPECT_FALSE(modbus.takeArrived());
    port.feed({kFirstCounterWrite.back()});
    EXPECT_TRUE(modbus.takeArrived());
    tick();
    port.feed(reference::kBusy4);
    EXPECT_TRUE(modbus.takeArrived());
    EXPECT_EQ(tick().verdict, Verdict::Exception);
}

TEST_F(PollCycle, TheNextDefaultRequestCanBeChosen) {
    tick();
    modbus.setCounterWriteDue(false);
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), kStatusRead);
    modbus.setCounterWriteDue(true);
    tick(anyStatusReply());
    EXPECT_EQ(lastSent(), kFirstCounterWrite);
    // A command waiting goes before whichever default request is due.
    ASSERT_TRUE(modbus.enqueue(Frame(kStart.begin() + 1, kStart.end() - 2)));
    modbus.setCounterWriteDue(false);
    tick(kFirstCounterWrite);
    EXPECT_EQ(lastSent(), kStart);
}

}  // namespace
}  // namespace torvix
