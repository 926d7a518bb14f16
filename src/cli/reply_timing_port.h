#pragma once
// A SerialPort that passes everything through and times each reply: from the end of the
// request on the line to the last byte that arrived before the next request.

#include <optional>

#include "cli/clock.h"
#include "link/serial_port.h"

namespace torvix::cli {

class ReplyTimingPort : public SerialPort {
public:
    // `lineNsPerByte`: how long one character takes on the line, 0 where the bytes are not
    // clocked out (a pseudo-terminal); the request ends on the line that long after its write.
    ReplyTimingPort(SerialPort& inner, const Clock& clock, double lineNsPerByte)
        : inner_(inner), clock_(clock), lineNsPerByte_(lineNsPerByte) {}

    // Called as bytes arrive (from the port's own notification), not at the next poll tick.
    void noteArrival() {
        if (sentEndNs_) lastByteNs_ = clock_.nowNs();
    }
    // The reply time of the request sent last, if any byte has arrived for it.
    std::optional<double> replyMs() const {
        if (!sentEndNs_ || !lastByteNs_) return std::nullopt;
        return double(*lastByteNs_ - *sentEndNs_) / 1e6;
    }

    PortStatus setPortNumber(int number) override { return inner_.setPortNumber(number); }
    PortStatus setLineSettings(const LineSettings& settings) override {
        return inner_.setLineSettings(settings);
    }
    PortStatus setPortOpen(bool open) override { return inner_.setPortOpen(open); }
    bool isPortOpen() const override { return inner_.isPortOpen(); }
    PortStatus finishOpening() override { return inner_.finishOpening(); }
    int inBufferCount() override { return inner_.inBufferCount(); }
    std::uint8_t input() override { return inner_.input(); }
    void discardInput() override { inner_.discardInput(); }
    void output(std::span<const std::uint8_t> frame) override {
        // Stamped before the write: a process preempted after it would see the reply come
        // "sooner" than it did; this way a delay can only lengthen the figure.
        sentEndNs_ = clock_.nowNs() + qint64(lineNsPerByte_ * double(frame.size()));
        inner_.output(frame);
        lastByteNs_.reset();
    }

private:
    SerialPort& inner_;
    const Clock& clock_;
    double lineNsPerByte_;
    std::optional<qint64> sentEndNs_;
    std::optional<qint64> lastByteNs_;
};

}  // namespace torvix::cli
