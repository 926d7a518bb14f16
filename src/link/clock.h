#pragma once
// Time as the command line's sessions and the protocol test see it: a monotonic "now" and
// timers that call back. The programs run on QtClock; a test drives a manual clock and steps
// the ticks itself.

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

namespace torvix {

class Timer {
public:
    virtual ~Timer() = default;
    // (Re)starts: the callback runs `ms` from now, and every `ms` after when repeating.
    virtual void start(int ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic nanoseconds since the clock was made.
    virtual qint64 nowNs() const = 0;
    double nowMs() const { return double(nowNs()) / 1e6; }
    // `precise`: to the millisecond (Qt::PreciseTimer) rather than within 5 %.
    virtual std::unique_ptr<Timer> timer(std::function<void()> onTimeout, bool repeating = false,
                                         bool precise = false) = 0;
    // Spends the time until `ns` (what a timer's whole milliseconds leave over).
    virtual void busyWaitUntil(qint64 ns) {
        while (nowNs() < ns) {
        }
    }
};

// The program's clock: QElapsedTimer and QTimer on the Qt event loop.
class QtClock : public Clock {
public:
    QtClock() { started_.start(); }
    qint64 nowNs() const override { return started_.nsecsElapsed(); }
    std::unique_ptr<Timer> timer(std::function<void()> onTimeout, bool repeating,
                                 bool precise) override {
        return std::make_unique<QtTimer>(std::move(onTimeout), repeating, precise);
    }

private:
    class QtTimer : public Timer {
    public:
        QtTimer(std::function<void()> onTimeout, bool repeating, bool precise) {
            timer_.setSingleShot(!repeating);
            if (precise) timer_.setTimerType(Qt::PreciseTimer);
            QObject::connect(&timer_, &QTimer::timeout, std::move(onTimeout));
        }
        void start(int ms) override { timer_.start(ms); }
        void stop() override { timer_.stop(); }
        bool isActive() const override { return timer_.isActive(); }

    private:
        QTimer timer_;
    };

    QElapsedTimer started_;
};

}  // namespace torvix
