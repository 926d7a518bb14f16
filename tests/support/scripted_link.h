#pragma once
// The window's link against a scripted controller, on a clock the test moves 100 ms a tick as
// the poll timer does; each tick's outcome goes to `onTick`.

#include <QDateTime>
#include <functional>

#include "link/modbus.h"
#include "support/fake_serial_port.h"
#include "support/fixed_slave_address.h"
#include "support/frames.h"

namespace torvix::testing {

class ScriptedLink {
public:
    ScriptedLink() { port.open = true; }

    TickOutcome tick(const Frame& reply = {}) {
        port.feed(reply);
        ms += 100;
        const TickOutcome outcome = modbus.pollTick();
        if (onTick) onTick(outcome);
        return outcome;
    }
    Frame lastSent() const { return port.written.back(); }
    // The controller's echo of a write: the request itself.
    Frame echo() const { return lastSent(); }
    Frame exception(std::uint8_t code) const {
        return withCrc({7, static_cast<std::uint8_t>(lastSent()[1] | 0x80), code});
    }
    bool click(requests::Kind command) { return modbus.enqueue(requests::pdu({command})->bytes()); }
    // Answers the default requests until the clicked command is the one on the line.
    bool untilCommandSent() {
        for (int i = 0; i < 4 && lastSent()[1] == protocol::kReadInputRegisters; ++i)
            tick(statusReply(regs));
        for (int i = 0; i < 4 && (lastSent()[2] << 8 | lastSent()[3]) == protocol::kCounterRegister;
             ++i)
            tick(echo());
        return (lastSent()[2] << 8 | lastSent()[3]) != protocol::kCounterRegister &&
               lastSent()[1] != protocol::kReadInputRegisters;
    }
    QDateTime wallNow() const { return morning.addMSecs(static_cast<qint64>(ms)); }
    double secondsNow() const {
        return static_cast<double>(wallNow().toMSecsSinceEpoch()) / 1000.0;
    }

    double ms = 16.636;
    // Local time, so that times shown read the same in any time zone.
    const QDateTime morning{QDate(2026, 12, 8), QTime(7, 30)};
    StatusRegisters regs{};
    FakeSerialPort port;
    FixedSlaveAddress slave;
    Modbus modbus{port, slave};
    std::function<void(const TickOutcome&)> onTick;
};

}  // namespace torvix::testing
