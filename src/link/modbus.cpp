#include "link/modbus.h"

#include <algorithm>

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix {

using protocol::byteOf;

TickOutcome Modbus::pollTick() {
    TickOutcome outcome;
    drain();
    judge(outcome);
    sendNextRequest(outcome);
    return outcome;
}

void Modbus::judge(TickOutcome& outcome) {
    // What this tick judges answers the frame the previous tick sent.
    answeredFrame_ = txFrame_;
    answeredLength_ = txLength_;
    outcome.answered = std::span<const std::uint8_t>(answeredFrame_).first(answeredLength_);
    outcome.answeredRequest = txRequest_;
    outcome.reply = std::span<const std::uint8_t>(rxBuffer_).first(rxCount_);

    if (rxCount_ <= 2) {
        outcome.verdict = Verdict::NoAnswer;
    } else if (!protocol::hasValidCrc(outcome.reply)) {
        outcome.verdict = Verdict::CrcMismatch;
    } else if (protocol::isExceptionReply(outcome.reply)) {
        outcome.verdict = Verdict::Exception;
        outcome.exceptionCode = outcome.reply[2];
        // A busy controller did not execute the request; any other refusal would only repeat.
        outcome.retired = outcome.exceptionCode != protocol::exception_code::kSlaveDeviceBusy;
    } else {
        outcome.verdict = Verdict::Answered;
        outcome.retired = true;
        outcome.replyShape = requests::shapeAnswered(outcome.reply);
        if (outcome.replyShape == requests::Shape::ReadStatus)
            outcome.status = protocol::StatusRegisters::fromReply(outcome.reply);
    }
    if (outcome.retired) queue_.advanceReadIndex();
}

void Modbus::drain() {
    if (!takenEarly_) rxCount_ = 0;
    takenEarly_ = false;
    int taken = 0;
    for (; taken < kDrainLimit && port_.inBufferCount() > 0; ++taken) {
        const std::uint8_t byte = port_.input();
        if (rxCount_ < kRxKept) rxBuffer_[rxCount_++] = byte;
    }
    // Kept for the next tick, a flood's rest would be judged stale in place of the next reply.
    if (taken == kDrainLimit && port_.inBufferCount() > 0) port_.discardInput();
}

bool Modbus::takeArrived() {
    if (!takenEarly_) rxCount_ = 0;
    takenEarly_ = true;
    while (rxCount_ < kRxKept && port_.inBufferCount() > 0) rxBuffer_[rxCount_++] = port_.input();
    return requests::replyComplete(txRequest_,
                                   std::span<const std::uint8_t>(rxBuffer_).first(rxCount_));
}

std::size_t Modbus::expectedReplyBytes() const {
    return txRequest_ ? std::size_t(requests::entry(txRequest_->kind).replyBytes) : 0;
}

void Modbus::refillWithDefaultRequest() {
    bool stored = false;
    if (!counterWriteDue_) {
        stored = queue_.put(requests::statusReadPdu());
    } else {
        transactionCounter_ = nextTransactionCounter(transactionCounter_);
        stored = queue_.put(requests::counterWritePdu(transactionCounter_));
    }
    // An empty queue always has room; the flag flips only for a request that really went in.
    if (stored) counterWriteDue_ = !counterWriteDue_;
}

void Modbus::sendNextRequest(TickOutcome& outcome) {
    if (queue_.isEmpty()) refillWithDefaultRequest();
    const auto request = queue_.head();
    txLength_ = request.size() + 3;
    txFrame_[0] = static_cast<std::uint8_t>(slave_.slaveAddress());
    std::copy(request.begin(), request.end(), txFrame_.begin() + 1);
    const std::uint16_t crc =
        protocol::crc16(std::span<const std::uint8_t>(txFrame_).first(txLength_ - 2));
    txFrame_[txLength_ - 2] = byteOf(crc, 0);
    txFrame_[txLength_ - 1] = byteOf(crc, 1);
    outcome.sent = std::span<const std::uint8_t>(txFrame_).first(txLength_);
    // Named once here; the next tick's outcome hands the name on with the answer.
    txRequest_ = requests::identify(outcome.sent);
    outcome.sentRequest = txRequest_;
    outcome.written = port_.isPortOpen();
    if (outcome.written) port_.output(outcome.sent);
}

}  // namespace torvix
