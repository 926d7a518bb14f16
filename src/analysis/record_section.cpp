#include "analysis/record_section.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "record/event_text.h"
#include "record/record_writers.h"
#include "record/status_record.h"

namespace torvix::analysis {
namespace {

qint64 rowMsecs(const Recording& recording, std::size_t row) {
    return std::llround(recording.timeS[row] * 1000);
}

// The bound as milliseconds since the first record, or the row of its mark.
struct Place {
    qint64 msecs = 0;
    std::optional<std::size_t> markRow;
};

std::variant<Place, QString> placeOf(const Recording& recording, const SectionBound& bound) {
    switch (bound.kind) {
        case SectionBound::Kind::Seconds:
            return Place{std::llround(bound.seconds * 1000), std::nullopt};
        case SectionBound::Kind::Time:
            if (!recording.start.isValid())
                return QStringLiteral("время первой записи не прочитано");
            return Place{bound.time.toMSecsSinceEpoch() - recording.start.toMSecsSinceEpoch(),
                         std::nullopt};
        case SectionBound::Kind::Mark:
            break;
    }
    for (const Recording::Event& event : recording.events)
        if (record::markOf(event.text) == bound.mark) return Place{0, event.row};
    return QStringLiteral("метки \"%1\" в записи нет").arg(bound.mark);
}

// Every selected record's bytes, its line breaks taken off.
QByteArray recordBytes(const QByteArray& section, const Recording& recording, RowRange rows,
                       std::size_t row) {
    const qint64 base = recording.rowOffsets[rows.first];
    const qint64 start = recording.rowOffsets[row] - base;
    const qint64 end =
        (row + 1 < recording.size() ? recording.rowOffsets[row + 1] : recording.rowsEnd) - base;
    QByteArray bytes = section.mid(start, end - start);
    while (bytes.endsWith('\n') || bytes.endsWith('\r')) bytes.chop(1);
    return bytes;
}

QString excelField(const QString& text) {
    return record::csvField(text, u';');
}

// A number of the record with the comma a Russian Excel reads as its decimal separator.
QString excelNumber(QString text) {
    return text.trimmed().replace(u'.', u',');
}

QStringList excelCsvRows(const QByteArray& header, const QByteArray& section,
                         const Recording& recording, RowRange rows) {
    const bool decimalComma = recording.layout == Layout::SemicolonCsv;
    const char separator = decimalComma ? ';' : ',';
    QByteArray headerLine = header;
    if (headerLine.startsWith("\xEF\xBB\xBF")) headerLine.remove(0, 3);
    headerLine = headerLine.trimmed();
    std::vector<std::string_view> fields;
    splitCsvRecord(headerLine, separator, fields);
    std::vector<bool> numeric;
    QStringList names;
    for (const std::string_view name : fields) {
        names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).trimmed();
        numeric.push_back(record::isNumberKey(names.back()));
    }
    QStringList lines;
    QStringList quotedNames;
    for (const QString& name : names) quotedNames << excelField(name);
    lines << quotedNames.join(u';');
    for (std::size_t row = rows.first; row <= rows.last; ++row) {
        QByteArray bytes = recordBytes(section, recording, rows, row);
        splitCsvRecord(bytes, separator, fields);
        QStringList out;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const QString text =
                QString::fromUtf8(fields[i].data(), static_cast<qsizetype>(fields[i].size()));
            const bool number =
                i < numeric.size() && numeric[i] && recordNumber(fields[i], decimalComma);
            out << (number ? excelNumber(text) : excelField(text));
        }
        lines << out.join(u';');
    }
    return lines;
}

QStringList excelJsonRows(const QByteArray& section, const Recording& recording, RowRange rows) {
    // The CSV writer's key order; keys it does not know follow in the object's.
    QStringList keys;
    const QJsonObject first =
        QJsonDocument::fromJson(recordBytes(section, recording, rows, rows.first)).object();
    for (const QString& key : record::recordKeys())
        if (first.contains(key)) keys << key;
    for (const QString& key : first.keys())
        if (!keys.contains(key)) keys << key;
    QStringList lines;
    QStringList quotedKeys;
    for (const QString& key : keys) quotedKeys << excelField(key);
    lines << quotedKeys.join(u';');
    for (std::size_t row = rows.first; row <= rows.last; ++row) {
        const QJsonObject object =
            QJsonDocument::fromJson(recordBytes(section, recording, rows, row)).object();
        QStringList out;
        for (const QString& key : keys) {
            const QJsonValue value = object.value(key);
            if (value.isDouble()) {
                out << excelNumber(
                    QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest));
            } else if (value.isArray()) {
                QStringList events;
                for (const QJsonValue event : value.toArray()) events << event.toString();
                out << excelField(events.join(record::kEventSeparator));
            } else {
                out << excelField(value.toVariant().toString());
            }
        }
        lines << out.join(u';');
    }
    return lines;
}

}  // namespace

std::variant<SectionBound, QString> sectionTime(const QString& text) {
    SectionBound bound;
    bool number = false;
    const double seconds = QString(text.trimmed()).replace(u',', u'.').toDouble(&number);
    if (number && std::isfinite(seconds)) {
        bound.seconds = seconds;
        return bound;
    }
    QString iso = text.trimmed();
    if (iso.size() > 10 && iso[10] == u' ') iso[10] = u'T';
    bound.time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!bound.time.isValid())
        return QStringLiteral(
                   "\"%1\" не время: нужны секунды от первой записи (12.5) или время "
                   "ISO 8601 (2026-12-08T07:30:15.000+03:00)")
            .arg(text);
    bound.kind = SectionBound::Kind::Time;
    return bound;
}

std::variant<RowRange, QString> findSection(const Recording& recording, const SectionBound& from,
                                            const SectionBound& to) {
    if (recording.size() == 0) return QStringLiteral("в записи нет ни одной записи");
    auto fromPlace = placeOf(recording, from);
    if (const auto* failure = std::get_if<QString>(&fromPlace)) return *failure;
    auto toPlace = placeOf(recording, to);
    if (const auto* failure = std::get_if<QString>(&toPlace)) return *failure;
    const Place& begin = std::get<Place>(fromPlace);
    const Place& end = std::get<Place>(toPlace);

    std::size_t first = 0;
    if (begin.markRow) {
        first = *begin.markRow;
    } else {
        while (first < recording.size() && rowMsecs(recording, first) < begin.msecs) ++first;
        if (first == recording.size())
            return QStringLiteral("начало участка после последней записи");
    }
    std::size_t last = 0;
    if (end.markRow) {
        last = *end.markRow;
    } else {
        std::size_t after = 0;
        while (after < recording.size() && rowMsecs(recording, after) <= end.msecs) ++after;
        if (after == 0) return QStringLiteral("конец участка раньше первой записи");
        last = after - 1;
    }
    if (last < first)
        return QStringLiteral("конец участка (запись %1) раньше его начала (запись %2)")
            .arg(last + 1)
            .arg(first + 1);
    return RowRange{first, last};
}

std::variant<RowRange, QString> sectionBetween(const Recording& recording, double fromS,
                                               double toS) {
    SectionBound from;
    from.seconds = std::min(fromS, toS);
    SectionBound to;
    to.seconds = std::max(fromS, toS);
    return findSection(recording, from, to);
}

Recording sliceRecording(const Recording& recording, RowRange rows) {
    Recording slice;
    if (rows.last < rows.first || rows.last >= recording.size()) return slice;
    slice.source = recording.source;
    const double zero = recording.timeS[rows.first];
    slice.start = recording.start.addMSecs(std::llround(zero * 1000));
    const auto take = [&rows](const auto& from, auto& to) {
        to.assign(from.begin() + static_cast<std::ptrdiff_t>(rows.first),
                  from.begin() + static_cast<std::ptrdiff_t>(rows.last + 1));
    };
    take(recording.timeS, slice.timeS);
    for (double& t : slice.timeS) t -= zero;
    take(recording.frequencyHz, slice.frequencyHz);
    take(recording.voltageV, slice.voltageV);
    take(recording.powerKw, slice.powerKw);
    for (const Recording::Event& event : recording.events)
        if (event.row >= rows.first && event.row <= rows.last)
            slice.events.push_back({event.row - rows.first, event.text});
    slice.layout = recording.layout;
    return slice;
}

QString writeSection(const Recording& recording, const QString& sourcePath, RowRange rows,
                     SectionFormat format, const QString& outputPath) {
    if (rows.last < rows.first || rows.last >= recording.size() ||
        recording.rowOffsets.size() != recording.size())
        return QStringLiteral("участок вне записи");
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(sourcePath, source.errorString());
    const QByteArray header = source.read(recording.rowOffsets.front());
    const qint64 from = recording.rowOffsets[rows.first];
    const qint64 to =
        rows.last + 1 < recording.size() ? recording.rowOffsets[rows.last + 1] : recording.rowsEnd;
    QByteArray section;
    if (source.seek(from)) section = source.read(to - from);
    if (header.size() != recording.rowOffsets.front() || section.size() != to - from)
        return QStringLiteral("%1: файл изменился после чтения").arg(sourcePath);

    QByteArray bytes;
    if (format == SectionFormat::AsRecorded) {
        bytes = header + section;
    } else {
        const QStringList lines = recording.layout == Layout::JsonLines
                                      ? excelJsonRows(section, recording, rows)
                                      : excelCsvRows(header, section, recording, rows);
        bytes = "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
    }
    QSaveFile out(outputPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return QStringLiteral("%1: %2").arg(outputPath, out.errorString());
    return {};
}

}  // namespace torvix::analysis
