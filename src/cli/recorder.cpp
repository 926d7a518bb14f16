#include "cli/recorder.h"

#if defined(Q_OS_UNIX)
#include <signal.h>
#endif

#include "cli/console.h"
#include "link/frame_trace.h"
#include "record/event_text.h"

namespace torvix::cli {
namespace {

constexpr qint64 kProgressIntervalMs = 250;
// Seconds in an event line on stderr are right-aligned in this many characters.
constexpr int kEventSecondsWidth = 6;

}  // namespace

Recorder::Recorder(const Invocation& run, QIODevice& out, bool toTerminal, PollSession& session)
    : run_(run),
      session_(session),
      format_(run.format.value_or(toTerminal ? record::Format::Table : record::Format::Csv)),
      // The trace scrolls on stderr; a table redrawn in place on the same screen would
      // overwrite it, so the table gives way. So it does for the events of a script.
      showRecords_(!((run.trace || run.command == Command::Run) && toTerminal &&
                     format_ == record::Format::Table && isTerminal(stderr))),
      progress_(!run.output.isEmpty() && !run.trace && isTerminal(stderr)),
      writer_(record::makeRecordWriter(format_, out, toTerminal)),
      startNs_(session.clock().nowNs()) {}

Recorder::Taken Recorder::take(const TickOutcome& outcome, std::optional<double> replyMs) {
    Taken taken = Taken::Nothing;
    const double now = session_.elapsedMs();
    if (!outcome.answered.empty()) {
        statistics_.count(outcome.verdict);
        if (replyMs) statistics_.addReplyTime(*replyMs);
        if (run_.trace)
            put(stderr,
                traceReceived(now, outcome.reply, outcome.verdict, outcome.exceptionCode, replyMs));
        if (outcome.verdict == Verdict::Answered) {
            // Nothing for the answer to a counter write or a command.
            if (outcome.status) {
                latest_ = record::statusRecord(*outcome.status);
                ++records_;
                taken = Taken::Record;
                if (showRecords_ && !writer_->write(clock_.now(), *latest_, pending_))
                    taken = Taken::WriteFailed;
                pending_.clear();
            }
        }
    }
    if (run_.trace && outcome.written) put(stderr, traceSent(now, outcome.sent));
    showProgress();
    return taken;
}

void Recorder::addEvent(const QString& what) {
    const double at = seconds();
    pending_ << record::eventLine(at, what);
    // Over the progress line, which the next tick draws again.
    put(stderr, (progressShown_ ? QStringLiteral("\r\x1b[K") : QString()) +
                    record::eventLine(at, what, kEventSecondsWidth) + u'\n');
}

void Recorder::showProgress() {
    const qint64 now = session_.clock().nowNs();
    if (!progress_ || (progressShown_ && (now - lastProgressNs_) / 1000000 < kProgressIntervalMs))
        return;
    lastProgressNs_ = now;
    progressShown_ = true;
    put(stderr, QStringLiteral("\rзаписей: %1, ошибок: %2, прошло: %3 с\x1b[K")
                    .arg(records_)
                    .arg(statistics_.errors())
                    .arg((now - startNs_) / 1000000000));
}

void Recorder::finish() {
    if (progressShown_) put(stderr, QStringLiteral("\n"));
    put(stderr, statistics_.summary());
}

std::optional<QString> openOutput(const Invocation& run, QFile& out) {
    const bool opened =
        run.output.isEmpty()
            ? out.open(stdout, QIODevice::WriteOnly)
            : (out.setFileName(run.output), out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) return QStringLiteral("%1: %2").arg(run.output, out.errorString());
#if defined(Q_OS_UNIX)
    // A reader that goes away (| head) must end the run with its summary, not kill it.
    ::signal(SIGPIPE, SIG_IGN);
#endif
    return std::nullopt;
}

}  // namespace torvix::cli
