#include "link/modbus.h"

#include <algorithm>

#include "decode/decoder.h"
#include "link/protocol.h"

namespace torvix {

using protocol::byteOf;

Modbus::Modbus(SerialPort& port, DisplaySink& display, StatusLine& status,
               const SlaveAddressSource& slave, QLocale locale)
    : port_(port), display_(display), status_(status), slave_(slave), locale_(std::move(locale)) {}

void Modbus::pollTick() {
    drain();
    if (rxCount_ <= 2) {
        report(status_text::kNoAnswer);
    } else {
        const auto received = std::span<const std::uint8_t>(rxBuffer_).first(rxCount_);
        if (protocol::hasValidCrc(received)) {
            queue_.advanceReadIndex();
            report(status_text::kLinkUp);
            decodeReply(received, display_, locale_);
        } else {
            report(status_text::kCrcMismatch);
        }
    }
    sendNextRequest();
}

void Modbus::report(const QString& outcome) {
    // Every tick rewrites the status line; while commands are being refused the operator must
    // still see that, not only for the 100 ms until the next tick.
    status_.setStatusText(isQueueFull() ? outcome + QStringLiteral(". ") + status_text::kQueueFull
                                        : outcome);
}

void Modbus::drain() {
    rxCount_ = 0;
    for (int taken = 0; taken < kDrainLimit && port_.inBufferCount() > 0; ++taken) {
        const std::uint8_t byte = port_.input();
        if (rxCount_ < kRxKept) rxBuffer_[rxCount_++] = byte;
    }
}

void Modbus::refillWithDefaultRequest() {
    bool stored = false;
    if (!counterWriteDue_) {
        const std::array<std::uint8_t, 5> read{
            protocol::kReadInputRegisters, byteOf(protocol::kStatusFirstRegister, 1),
            byteOf(protocol::kStatusFirstRegister, 0), byteOf(protocol::kStatusRegisterCount, 1),
            byteOf(protocol::kStatusRegisterCount, 0)};
        stored = queue_.put(read);
    } else {
        transactionCounter_ = nextTransactionCounter(transactionCounter_);
        display_.setCaption({"lbl_tr_id"}, QString::number(transactionCounter_));
        const std::array<std::uint8_t, 5> write{
            protocol::kWriteSingleRegister, byteOf(protocol::kCounterRegister, 1),
            byteOf(protocol::kCounterRegister, 0), byteOf(transactionCounter_, 1),
            byteOf(transactionCounter_, 0)};
        stored = queue_.put(write);
    }
    // An empty queue always has room; the flag flips only for a request that really went in.
    if (stored) counterWriteDue_ = !counterWriteDue_;
}

void Modbus::sendNextRequest() {
    if (queue_.isEmpty()) refillWithDefaultRequest();
    const auto request = queue_.head();
    const std::size_t length = request.size() + 3;
    txFrame_[0] = static_cast<std::uint8_t>(slave_.slaveAddress());
    std::copy(request.begin(), request.end(), txFrame_.begin() + 1);
    const std::uint16_t crc =
        protocol::crc16(std::span<const std::uint8_t>(txFrame_).first(length - 2));
    txFrame_[length - 2] = byteOf(crc, 0);
    txFrame_[length - 1] = byteOf(crc, 1);
    if (port_.isPortOpen()) port_.output(std::span<const std::uint8_t>(txFrame_).first(length));
}

}  // namespace torvix
