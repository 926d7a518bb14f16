// monitor: polls until stopped, writes a record per valid status reply, and ends with a summary.

#include <QEventLoop>
#include <QTimer>

#include "cli/console.h"
#include "cli/line_choice.h"
#include "cli/poll_session.h"
#include "cli/recorder.h"
#include "cli/run_commands.h"
#include "cli/stop_signals.h"
#include "link/frame_trace.h"

namespace torvix::cli {

int runMonitor(const Invocation& run, const QString& iniPath) {
    const auto choice = chooseLine(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&choice)) {
        tell(failure->message);
        return static_cast<int>(failure->code);
    }
    QFile out;
    if (const auto message = openOutput(run, out)) {
        tell(*message);
        return static_cast<int>(ExitCode::Usage);
    }
    LineSession line(std::get<LineChoice>(choice), run.address);
    PollSession& session = line.session;
    if (const auto failure = line.open()) {
        tell(failure->message);
        return static_cast<int>(failure->code);
    }
    session.setCadence(run);
    Recorder recorder(run, out, run.output.isEmpty() && isTerminal(stdout), session);
    QEventLoop loop;
    const StopSignals stopSignals([&](int) { loop.exit(); });
    QTimer duration;
    if (run.durationSeconds) {
        duration.setSingleShot(true);
        QObject::connect(&duration, &QTimer::timeout, [&] { loop.exit(); });
        duration.start(static_cast<int>(*run.durationSeconds * 1000));
    }
    session.start([&](const TickOutcome& outcome, std::optional<double> replyMs) {
        const Recorder::Taken taken = recorder.take(outcome, replyMs);
        if (taken == Recorder::Taken::WriteFailed) {
            // A closed pipe (| head) or a full disk ends the run as Ctrl+C would.
            tell(QStringLiteral("запись не удалась, опрос остановлен"));
            loop.exit();
        } else if (taken == Recorder::Taken::Record && run.count &&
                   recorder.records() >= *run.count) {
            loop.exit();
        }
    });
    loop.exec();
    session.stop();
    recorder.finish();
    return static_cast<int>(recorder.records() > 0 ? ExitCode::Ok : ExitCode::NoAnswer);
}

}  // namespace torvix::cli
