#pragma once
// A section of a recording (the records between two times or two marks, with their events),
// found by the records' own times and written as the recording was, or for a Russian Excel.

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <variant>

#include "analysis/recording.h"

namespace torvix::analysis {

// Where a section begins or ends: seconds from the first record, a time of day with its date,
// or the first mark with this whole text.
struct SectionBound {
    enum class Kind { Seconds, Time, Mark };
    Kind kind = Kind::Seconds;
    double seconds = 0;
    QDateTime time;
    QString mark;
};

// "12.5" (seconds), or an ISO 8601 time "2026-12-08T07:30:15.000+03:00"; nothing else.
std::variant<SectionBound, QString> sectionTime(const QString& text);

// Rows `first` to `last` of the recording, both included.
struct RowRange {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t count() const { return last - first + 1; }
};

// From the first record at or after `from` (or carrying its mark) up to the last record at or
// before `to` (or the one carrying its mark). The reason when there is none.
std::variant<RowRange, QString> findSection(const Recording& recording, const SectionBound& from,
                                            const SectionBound& to);
// The records between two times of the recording (seconds since its first record).
std::variant<RowRange, QString> sectionBetween(const Recording& recording, double fromS,
                                               double toS);

// The rows as a recording of their own, its times from its first row: for the report of a
// section.
Recording sliceRecording(const Recording& recording, RowRange rows);

enum class SectionFormat {
    AsRecorded,  // the recording's own bytes: its header, keys and events
    Excel,       // CSV with ';', a decimal comma and a UTF-8 BOM
};

// Writes the rows of `recording`, read from `sourcePath`, to `outputPath` (whole or not at all).
// Empty when written, else what failed.
QString writeSection(const Recording& recording, const QString& sourcePath, RowRange rows,
                     SectionFormat format, const QString& outputPath);

}  // namespace torvix::analysis
