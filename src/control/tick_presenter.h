#pragma once
// What the window shows of each poll tick: the status line, the status block, the
// transaction counter and the colour of the priority box.

#include <QLocale>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>

#include "control/status_words.h"
#include "control/window_sinks.h"
#include "link/modbus.h"

namespace torvix {

class TickPresenter {
public:
    // A refusal stays on the status line at least this long, although every tick rewrites it.
    static constexpr std::chrono::milliseconds kNoticeTime{3000};
    using Clock = std::function<std::chrono::milliseconds()>;  // monotonic

    TickPresenter(const Modbus& modbus, DisplaySink& display, StatusLine& status,
                  QLocale locale = QLocale::system(), Clock clock = steadyClock);

    void show(const TickOutcome& outcome);

private:
    static std::chrono::milliseconds steadyClock();
    QString verdictText(const TickOutcome& outcome);
    void showReply(const TickOutcome& outcome);
    void showCounter(const TickOutcome& outcome);

    const Modbus& modbus_;
    DisplaySink& display_;
    StatusLine& status_;
    QLocale locale_;
    Clock clock_;
    QString notice_;
    std::chrono::milliseconds noticeUntil_{0};
};

}  // namespace torvix
