// monitor: polls until stopped, writes a record per valid status reply, and ends with a summary.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#if defined(Q_OS_UNIX)
#include <signal.h>
#endif

#include "cli/console.h"
#include "cli/frame_trace.h"
#include "cli/line_choice.h"
#include "cli/link_statistics.h"
#include "cli/poll_session.h"
#include "record/event_text.h"
#include "record/record_writers.h"
#include "cli/run_commands.h"
#include "cli/stop_signals.h"

namespace torvix::cli {
namespace {

using namespace torvix::record;

constexpr qint64 kProgressIntervalMs = 250;

class Monitor {
public:
    Monitor(const Invocation& run, QIODevice& out, bool toTerminal, PollSession& session)
        : run_(run),
          session_(session),
          format_(run.format.value_or(toTerminal ? Format::Table : Format::Csv)),
          // The trace scrolls on stderr; a table redrawn in place on the same screen would
          // overwrite it, so the table gives way.
          showRecords_(
              !(run.trace && toTerminal && format_ == Format::Table && isTerminal(stderr))),
          progress_(!run.output.isEmpty() && !run.trace && isTerminal(stderr)),
          writer_(makeRecordWriter(format_, out, toTerminal)) {}

    int exec() {
        const StopSignals stopSignals([this](int) { loop_.exit(); });
        QTimer duration;
        if (run_.durationSeconds) {
            duration.setSingleShot(true);
            QObject::connect(&duration, &QTimer::timeout, [this] { loop_.exit(); });
            duration.start(static_cast<int>(*run_.durationSeconds * 1000));
        }
        elapsed_.start();
        session_.start([this](const TickOutcome& outcome, std::optional<double> replyMs) {
            onTick(outcome, replyMs);
        });
        loop_.exec();
        session_.stop();
        if (progressShown_) put(stderr, QStringLiteral("\n"));
        put(stderr, statistics_.summary());
        return static_cast<int>(records_ > 0 ? ExitCode::Ok : ExitCode::NoAnswer);
    }

private:
    void onTick(const TickOutcome& outcome, std::optional<double> replyMs) {
        const double now = session_.elapsedMs();
        if (!outcome.answered.empty()) {
            statistics_.count(outcome.verdict);
            if (replyMs) statistics_.addReplyTime(*replyMs);
            if (run_.trace)
                put(stderr, traceReceived(now, outcome.reply, outcome.verdict,
                                          outcome.exceptionCode, replyMs));
            if (outcome.verdict == Verdict::Answered) record(outcome.reply);
        }
        if (run_.trace && outcome.written) put(stderr, traceSent(now, outcome.sent));
        showProgress();
    }

    void record(std::span<const std::uint8_t> reply) {
        const auto record = statusRecord(reply);
        if (!record) return;  // the answer to a counter write
        ++records_;
        if (showRecords_ && !writer_->write(clock_.now(), *record)) {
            // A closed pipe (| head) or a full disk ends the run as Ctrl+C would.
            tell(QStringLiteral("запись не удалась, опрос остановлен"));
            loop_.exit();
            return;
        }
        if (run_.count && records_ >= *run_.count) loop_.exit();
    }

    void showProgress() {
        if (!progress_ || (progressShown_ && lastProgress_.elapsed() < kProgressIntervalMs)) return;
        lastProgress_.start();
        progressShown_ = true;
        put(stderr, QStringLiteral("\rзаписей: %1, ошибок: %2, прошло: %3 с\x1b[K")
                        .arg(records_)
                        .arg(statistics_.errors())
                        .arg(elapsed_.elapsed() / 1000));
    }

    const Invocation& run_;
    PollSession& session_;
    Format format_;
    bool showRecords_;
    bool progress_;
    std::unique_ptr<RecordWriter> writer_;
    RecordClock clock_;
    QEventLoop loop_;
    LinkStatistics statistics_;
    long long records_ = 0;
    QElapsedTimer elapsed_;
    QElapsedTimer lastProgress_;
    bool progressShown_ = false;
};

}  // namespace

int runMonitor(const Invocation& run, const QString& iniPath) {
    const auto choice = chooseLine(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&choice)) {
        tell(failure->message);
        return static_cast<int>(failure->code);
    }
    QFile out;
    const bool opened =
        run.output.isEmpty()
            ? out.open(stdout, QIODevice::WriteOnly)
            : (out.setFileName(run.output), out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        tell(QStringLiteral("%1: %2").arg(run.output, out.errorString()));
        return static_cast<int>(ExitCode::Usage);
    }
#if defined(Q_OS_UNIX)
    // A reader that goes away (| head) must end the run with its summary, not kill it.
    ::signal(SIGPIPE, SIG_IGN);
#endif
    PollSession session(std::get<LineChoice>(choice), run.address);
    if (const auto failure = session.open()) {
        tell(failure->message);
        return static_cast<int>(failure->code);
    }
    Monitor monitor(run, out, run.output.isEmpty() && isTerminal(stdout), session);
    return monitor.exec();
}

}  // namespace torvix::cli
