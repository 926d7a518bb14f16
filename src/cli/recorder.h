#pragma once
// What monitor and run share: every tick counted and traced, each valid status reply written
// as a record with the events since the one before, and the summary at the end.

#include <QFile>
#include <QStringList>
#include <memory>
#include <optional>

#include "cli/command_line.h"
#include "cli/link_statistics.h"
#include "cli/poll_session.h"
#include "record/record_writers.h"

namespace torvix::cli {

class Recorder {
public:
    // `toTerminal`: the records go to a terminal (the table then redraws in place).
    Recorder(const Invocation& run, QIODevice& out, bool toTerminal, PollSession& session);

    enum class Taken { Nothing, Record, WriteFailed };
    // One tick's outcome; a valid status reply becomes the latest record.
    Taken take(const TickOutcome& outcome, std::optional<double> replyMs);
    const record::StatusRecord* latest() const { return latest_ ? &*latest_ : nullptr; }
    long long records() const { return records_; }

    // An event now: a line on stderr, and into the next record.
    void addEvent(const QString& what);
    // Seconds since the recording started.
    double seconds() const { return double(session_.clock().nowNs() - startNs_) / 1e9; }
    bool hasPendingEvents() const { return !pending_.isEmpty(); }

    // The progress line ended and the statistics on stderr.
    void finish();

private:
    void showProgress();

    const Invocation& run_;
    PollSession& session_;
    record::Format format_;
    bool showRecords_;
    bool progress_;
    std::unique_ptr<record::RecordWriter> writer_;
    record::RecordClock clock_;
    LinkStatistics statistics_;
    std::optional<record::StatusRecord> latest_;
    QStringList pending_;
    long long records_ = 0;
    qint64 startNs_;
    qint64 lastProgressNs_ = 0;
    bool progressShown_ = false;
};

// The records' output: --output (truncated) or stdout. Nothing and a message when it fails.
std::optional<QString> openOutput(const Invocation& run, QFile& out);

}  // namespace torvix::cli
