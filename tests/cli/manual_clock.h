#pragma once
// A clock the test moves: timers fire in the order they fall due, each at its own time, while
// the test advances; nothing waits for real time.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "link/clock.h"

namespace torvix::testing {

using torvix::Clock;
using torvix::Timer;

class ManualClock : public Clock {
public:
    qint64 nowNs() const override { return now_; }
    std::unique_ptr<Timer> timer(std::function<void()> onTimeout, bool repeating, bool) override {
        return std::make_unique<ManualTimer>(*this, std::move(onTimeout), repeating);
    }
    void busyWaitUntil(qint64 ns) override { now_ = std::max(now_, ns); }

    // Moves time on by `ms`, firing every timer that falls due on the way.
    void advanceMs(double ms) {
        const qint64 target = now_ + qint64(ms * 1e6);
        while (ManualTimer* due = nextDue(target)) {
            now_ = std::max(now_, due->due);
            if (due->repeating)
                due->due += due->intervalNs;
            else
                due->active = false;
            due->onTimeout();  // may stop, start or delete timers
        }
        now_ = std::max(now_, target);
    }
    int activeTimers() const {
        return int(std::count_if(timers_.begin(), timers_.end(),
                                 [](const ManualTimer* t) { return t->active; }));
    }

private:
    class ManualTimer : public Timer {
    public:
        ManualTimer(ManualClock& clock, std::function<void()> callback, bool repeat)
            : clock_(clock), onTimeout(std::move(callback)), repeating(repeat) {
            clock_.timers_.push_back(this);
        }
        ~ManualTimer() override { std::erase(clock_.timers_, this); }
        void start(int ms) override {
            intervalNs = std::max<qint64>(qint64(ms) * 1000000, 1);
            due = clock_.now_ + qint64(ms) * 1000000;
            order = ++clock_.started_;
            active = true;
        }
        void stop() override { active = false; }
        bool isActive() const override { return active; }

        ManualClock& clock_;
        std::function<void()> onTimeout;
        bool repeating;
        bool active = false;
        qint64 due = 0;
        qint64 intervalNs = 1;
        std::uint64_t order = 0;
    };

    ManualTimer* nextDue(qint64 target) const {
        ManualTimer* next = nullptr;
        for (ManualTimer* t : timers_)
            if (t->active && t->due <= target &&
                (!next || t->due < next->due || (t->due == next->due && t->order < next->order)))
                next = t;
        return next;
    }

    qint64 now_ = 0;
    std::uint64_t started_ = 0;
    std::vector<ManualTimer*> timers_;
};

}  // namespace torvix::testing
