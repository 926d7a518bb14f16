#pragma once
// TEMPORARY: the typed tick outcome on top of today's Modbus, until the link yields it itself.

#include <QString>
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "link/modbus.h"
#include "link/protocol.h"

namespace torvix {

enum class Verdict { Answered, Exception, CrcMismatch, NoAnswer };

struct TickOutcome {
    Verdict verdict = Verdict::NoAnswer;
    int exceptionCode = 0;
    bool retired = false;
    std::span<const std::uint8_t> answered;
    std::span<const std::uint8_t> reply;
    std::span<const std::uint8_t> sent;
    bool written = false;
};

namespace cli {

class ContractModbus : private DisplaySink, private StatusLine {
public:
    ContractModbus(SerialPort& port, const SlaveAddressSource& slave)
        : port_(port), slave_(slave), modbus_(port, *this, *this, slave) {}

    [[nodiscard]] bool enqueue(std::span<const std::uint8_t> pdu) { return modbus_.enqueue(pdu); }

    TickOutcome pollTick() {
        answered_ = sent_;
        const int readBefore = modbus_.queue().readIndex();
        modbus_.pollTick();
        TickOutcome outcome;
        outcome.answered = answered_;
        const auto rx = modbus_.rxBuffer().first(modbus_.rxCount());
        reply_.assign(rx.begin(), rx.end());
        outcome.reply = reply_;
        outcome.retired = modbus_.queue().readIndex() != readBefore;
        if (status_ == status_text::kCrcMismatch) {
            outcome.verdict = Verdict::CrcMismatch;
        } else if (status_.startsWith(status_text::kNoAnswer)) {
            outcome.verdict = Verdict::NoAnswer;
        } else if (reply_.size() >= 3 && (reply_[1] & protocol::kExceptionFlag)) {
            outcome.verdict = Verdict::Exception;
            outcome.exceptionCode = reply_[2];
        } else {
            outcome.verdict = Verdict::Answered;
        }
        const auto head = modbus_.queue().head();
        sent_.assign(1, static_cast<std::uint8_t>(slave_.slaveAddress()));
        sent_.insert(sent_.end(), head.begin(), head.end());
        protocol::appendCrc(sent_);
        outcome.sent = sent_;
        outcome.written = port_.isPortOpen();
        return outcome;
    }

private:
    void setCaption(ControlRef, const QString&) override {}
    void setLamp(ControlRef, bool) override {}
    void setBackground(ControlRef, Rgb) override {}
    void setStatusText(const QString& text) override { status_ = text; }
    QString statusText() const override { return status_; }

    SerialPort& port_;
    const SlaveAddressSource& slave_;
    Modbus modbus_;
    QString status_;
    std::vector<std::uint8_t> answered_, reply_, sent_;
};

}  // namespace cli
}  // namespace torvix
