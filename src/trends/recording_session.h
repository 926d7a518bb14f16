#pragma once
// The window's recording: one CSV file per recording, in the CLI's format and by its writer,
// a row for each valid status reply with the events since the row before.

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "record/record_writers.h"
#include "record/status_record.h"

namespace torvix::trends {

class RecordingSession {
public:
    // The folder beside тп.ini that the window records into.
    static inline const QString kFolderName = QStringLiteral("записи");

    RecordingSession();
    ~RecordingSession();

    // Begins `folder`/2026-12-08_14-05-31.csv, named by `start`, making the folder if need be.
    // The message for the operator when that fails.
    std::optional<QString> start(const QString& folder, const QDateTime& start);
    void stop();

    bool isActive() const { return writer_ != nullptr; }
    // The file of the current recording, or of the last one.
    QString path() const { return file_.fileName(); }
    // Its acceptance report beside it: the same name with .html; empty before any recording.
    QString reportPath() const;
    long long records() const { return records_; }

    // One row. When the file refuses it (a full disk, a folder gone) the recording stops,
    // keeping what was written, and the message says so.
    std::optional<QString> write(const QDateTime& time, const record::StatusRecord& record);
    // "[12.3 s] what", seconds after the start, into the next row.
    void addEvent(const QDateTime& time, const QString& what);

private:
    QFile file_;
    std::unique_ptr<record::RecordWriter> writer_;
    QDateTime started_;
    QStringList pending_;
    long long records_ = 0;
};

}  // namespace torvix::trends
