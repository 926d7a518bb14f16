#pragma once
// Writes status records as CSV, JSON lines or the window's table; each record flushed at once.

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <memory>

#include "record/status_record.h"

namespace torvix::record {

enum class Format { Table, Csv, Jsonl };

class RecordWriter {
public:
    virtual ~RecordWriter() = default;
    // `events`: what happened since the previous record, each an event line, oldest first.
    // False when the output refused the bytes (disk full, closed pipe).
    [[nodiscard]] virtual bool write(const QDateTime& time, const StatusRecord& record,
                                     const QStringList& events = {}) = 0;
};

// `inPlace`: a terminal, where the table redraws itself instead of scrolling.
std::unique_ptr<RecordWriter> makeRecordWriter(Format format, QIODevice& out, bool inPlace);

// The local time of each record. The offset from UTC changes (daylight saving) only at whole
// minutes, so it is looked up once a minute rather than, as the C library does, with a look at
// /etc/localtime for every record.
class RecordClock {
public:
    QDateTime now();

private:
    qint64 minute_ = -1;
    int offsetSeconds_ = 0;
};

// ISO 8601 local time with milliseconds and the offset from UTC: 2026-12-08T07:30:01.123+03:00.
QString isoTime(const QDateTime& time);

// The window's captions, units and lamps as text; one line per row, ending in a newline.
QString tableText(const QDateTime& time, const StatusRecord& record,
                  const QStringList& events = {});

// One CSV field as RFC 4180 has it: quoted, its quotes doubled, when it holds the separator, a
// quote or a line break.
QString csvField(const QString& text, QChar separator = u',');

}  // namespace torvix::record
