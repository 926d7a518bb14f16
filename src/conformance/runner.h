#pragma once
// Puts probes on any SerialPort, through the safety gate, and collects every byte that comes
// back with its time; runs on the event loop through a Clock, so tests step it on a manual one.

#include <functional>
#include <memory>
#include <vector>

#include "conformance/probe.h"
#include "conformance/safety_gate.h"
#include "link/clock.h"
#include "link/serial_port.h"
#include "protocol/line_settings.h"

namespace torvix::conformance {

class Runner {
public:
    // `port` (open) and `clock` outlive the runner. `replyTimeoutMs` comes on top of the wire
    // times of request and reply.
    Runner(SerialPort& port, Clock& clock, const LineSettings& settings, double replyTimeoutMs,
           Policy policy);

    // Writes the probe's parts once the line has been quiet for the silent interval, listens,
    // and hands the exchange over. One probe at a time.
    void run(const Probe& probe, std::function<void(const Exchange&)> done);
    // The port's notice that bytes came: timed at once rather than at the next millisecond.
    void bytesArrived() { collect(); }

    // Milliseconds since the runner was made.
    double nowMs() const { return double(clock_.nowNs() - startNs_) / 1e6; }
    double wireMs(std::size_t characters) const {
        return settings_.wireMicroseconds(characters) / 1000;
    }
    double replyTimeoutMs() const { return replyTimeoutMs_; }
    const LineSettings& settings() const { return settings_; }
    // Every frame written and every burst received, in order.
    const std::vector<FrameRecord>& log() const { return log_; }

    // Whether `reply` is a whole answer to `probe`: an exception, or as long as the normal
    // reply (for a function whose reply length is known), or any frame with a right CRC.
    static bool complete(const Bytes& request, const Bytes& reply);

private:
    enum class Stage { Idle, Settling, BetweenParts, Listening };
    void step();
    void collect();
    void writePart();
    void finish();

    SerialPort& port_;
    Clock& clock_;
    LineSettings settings_;
    double replyTimeoutMs_;
    Policy policy_;
    qint64 startNs_;
    std::unique_ptr<Timer> ticker_;

    Stage stage_ = Stage::Idle;
    Probe probe_;
    std::function<void(const Exchange&)> done_;
    Exchange current_;
    std::size_t nextPart_ = 0;
    double dueMs_ = 0;          // when the stage's wait ends
    double quietSinceMs_ = 0;   // the last byte, for the silent interval before a request
    double settleLimitMs_ = 0;  // a line that never goes quiet is written to after all
    std::vector<FrameRecord> log_;
};

}  // namespace torvix::conformance
