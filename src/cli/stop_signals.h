#pragma once
// SIGINT and SIGTERM as an event on the Qt event loop (a self-pipe read by a QSocketNotifier),
// so that monitor can finish its output and print its summary.

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace torvix::cli {

class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> onSignal);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace torvix::cli
