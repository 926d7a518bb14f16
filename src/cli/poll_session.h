#pragma once
// The link as torvix-cli drives it: the real port, reply timing and the window's 100 ms tick.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <optional>

#include "cli/line_choice.h"
#include "cli/reply_timing_port.h"
#include "link/modbus.h"
#include "link/line_port.h"

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

    PollSession(const LineChoice& line, int address);

    // Nothing when the port opened; otherwise why not.
    std::optional<Failure> open();
    // The first request goes out at once, then one tick every 100 ms.
    void start(TickHandler onTick);
    void stop();

    Modbus& modbus() { return modbus_; }
    // Monotonic milliseconds since the session was made.
    double elapsedMs() const { return double(clock_.nsecsElapsed()) / 1e6; }

private:
    void tick();

    LineChoice line_;
    QElapsedTimer clock_;
    LinePort port_;
    ReplyTimingPort timing_;
    FixedSlaveAddress address_;
    Modbus modbus_;
    QTimer timer_;
    TickHandler onTick_;
};

}  // namespace torvix::cli
