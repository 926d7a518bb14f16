#pragma once
// The link as torvix-cli drives it: a port, reply timing and the window's 100 ms tick, on a
// clock. The program's LineSession puts it on the real port and the Qt clock; tests on a fake
// port and a clock they step.

#include <functional>
#include <memory>
#include <optional>

#include "cli/clock.h"
#include "cli/line_choice.h"
#include "cli/reply_timing_port.h"
#include "link/line_port.h"
#include "link/modbus.h"

namespace torvix::cli {

class FixedSlaveAddress : public SlaveAddressSource {
public:
    explicit FixedSlaveAddress(int address) : address_(address) {}
    int slaveAddress() const override { return address_; }

private:
    int address_;
};

class PollSession {
public:
    // `replyMs`: the reply time of the request judged in this tick, when it was answered.
    using TickHandler = std::function<void(const TickOutcome&, std::optional<double> replyMs)>;

    // `port` and `clock` outlive the session.
    PollSession(const LineChoice& line, int address, SerialPort& port, Clock& clock);

    // Nothing when the port opened; otherwise why not.
    std::optional<Failure> open();
    // The port's notice that bytes arrived: times the reply, and under --fast ends it.
    void bytesArrived();
    // Instead of the 100 ms tick: the next request as soon as the reply to the last one is
    // complete or has timed out, after the line's silent interval. `replyTimeoutMs`: empty
    // for the expected reply's time on the line plus 50 ms.
    void setFast(std::optional<double> replyTimeoutMs);
    // --fast and --reply-timeout of the command line.
    void setCadence(const Invocation& run) {
        if (run.fast)
            setFast(run.replyTimeoutSeconds ? std::optional(*run.replyTimeoutSeconds * 1000)
                                            : std::nullopt);
    }
    // The first request goes out at once, then one tick every 100 ms (or as --fast says).
    void start(TickHandler onTick);
    void stop();

    Modbus& modbus() { return modbus_; }
    Clock& clock() { return clock_; }
    // Monotonic milliseconds since the session was made.
    double elapsedMs() const { return double(clock_.nowNs() - startNs_) / 1e6; }

private:
    void tick();
    void onBytesArrived();
    void replyDone();

    LineChoice line_;
    Clock& clock_;
    qint64 startNs_;
    SerialPort& port_;
    ReplyTimingPort timing_;
    FixedSlaveAddress address_;
    Modbus modbus_;
    std::unique_ptr<Timer> timer_;
    TickHandler onTick_;
    bool fast_ = false;
    std::optional<double> replyTimeoutMs_;
    bool awaitingReply_ = false;
    std::unique_ptr<Timer> replyTimer_;
    std::unique_ptr<Timer> silenceTimer_;
    std::unique_ptr<Timer> arrivalPoll_;  // where the port tells nothing of arriving bytes
    qint64 counterWriteNs_ = 0;
    int counterSent_ = -1;
    double counterWriteDueMs_ = 0;
    qint64 replyDoneNs_ = 0;
};

// The program's session: the real port (with the overrides of the line) and the Qt clock.
class LineSession {
public:
    LineSession(const LineChoice& line, int address);
    // Nothing when the port opened; otherwise why not.
    std::optional<Failure> open();

    LinePort port;
    QtClock clock;
    PollSession session;

private:
    LineChoice line_;
};

}  // namespace torvix::cli
