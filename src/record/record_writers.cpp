#include "record/record_writers.h"

#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "record/event_text.h"

namespace torvix::record {
namespace {

QString qstring(std::u16string_view text) {
    return QStringView(text).toString();
}

bool writeAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) != bytes.size()) return false;
    // A QFile on stdout or a file buffers; the record must reach the system now.
    if (auto* file = qobject_cast<QFileDevice*>(&out)) return file->flush();
    return true;
}

class CsvWriter : public RecordWriter {
public:
    explicit CsvWriter(QIODevice& out) : out_(out) {}
    bool write(const QDateTime& time, const StatusRecord& record,
               const QStringList& events) override {
        QStringList fields;
        if (!headerWritten_) {
            fields << QStringLiteral("time");
            for (const auto& value : record) fields << value.key;
            fields << QStringLiteral("events");
            header_ = fields.join(u',').toUtf8() + '\n';
            fields.clear();
        }
        // Only the events can hold a comma, a quote or a line break.
        fields << isoTime(time);
        for (const auto& value : record) fields << value.text;
        fields << csvField(events.join(kEventSeparator));
        const QByteArray line = fields.join(u',').toUtf8() + '\n';
        if (!writeAll(out_, headerWritten_ ? line : header_ + line)) return false;
        headerWritten_ = true;
        return true;
    }

private:
    QIODevice& out_;
    QByteArray header_;
    bool headerWritten_ = false;
};

class JsonLinesWriter : public RecordWriter {
public:
    explicit JsonLinesWriter(QIODevice& out) : out_(out) {}
    bool write(const QDateTime& time, const StatusRecord& record,
               const QStringList& events) override {
        // Written by hand so that numbers keep the window's decimals (230.5, not 230.49999).
        QString line = QStringLiteral("{\"time\":\"%1\"").arg(isoTime(time));
        for (const auto& value : record) {
            line += QStringLiteral(",\"%1\":").arg(value.key);
            line += value.number ? value.text : u'"' + value.text + u'"';
        }
        line += QStringLiteral(",\"events\":");
        line += QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(events)).toJson(QJsonDocument::Compact));
        line += QStringLiteral("}\n");
        return writeAll(out_, line.toUtf8());
    }

private:
    QIODevice& out_;
};

class TableWriter : public RecordWriter {
public:
    TableWriter(QIODevice& out, bool inPlace) : out_(out), inPlace_(inPlace) {}
    bool write(const QDateTime& time, const StatusRecord& record,
               const QStringList& events) override {
        const QString table = tableText(time, record, events);
        if (!inPlace_) {
            // A blank line between tables, none after the last.
            const bool first = linesShown_ == 0;
            linesShown_ = 1;
            return writeAll(out_, (first ? table : u'\n' + table).toUtf8());
        }
        QString screen;
        // Back to the first line of the previous table, then each line over the old one.
        if (linesShown_ > 0) screen += QStringLiteral("\x1b[%1F").arg(linesShown_);
        const QStringList lines = table.split(u'\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) screen += line + QStringLiteral("\x1b[K\n");
        screen += QStringLiteral("\x1b[J");
        linesShown_ = static_cast<int>(lines.size());
        return writeAll(out_, screen.toUtf8());
    }

private:
    QIODevice& out_;
    bool inPlace_;
    int linesShown_ = 0;
};

}  // namespace

QDateTime RecordClock::now() {
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms / 60000 != minute_) {
        minute_ = ms / 60000;
        offsetSeconds_ = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds_);
}

QString isoTime(const QDateTime& time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", date.year(),
                  date.month(), date.day(), clock.hour(), clock.minute(), clock.second(),
                  clock.msec(), offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QString::fromLatin1(text);
}

QString csvField(const QString& text, QChar separator) {
    if (!text.contains(separator) && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString tableText(const QDateTime& time, const StatusRecord& record, const QStringList& events) {
    QStringList lines{QStringLiteral("Torvix, %1").arg(isoTime(time))};
    std::vector<std::pair<QString, QString>> rows;
    QString lamps[status_block::kLampRowCount];
    QString faults[std::size(status_block::kFaultRows)][std::size(status_block::kFaultColumns)];
    for (const auto& value : record) {
        if (value.lampRow) {
            const auto row = static_cast<std::size_t>(value.lampRow - status_block::kLampRows);
            lamps[row] +=
                (value.text == u"1" ? QStringLiteral("  ● ") : QStringLiteral("  ○ ")) +
                qstring(value.lampRow->lamps[static_cast<std::size_t>(value.lamp)].caption);
        } else if (!value.field) {
            continue;
        } else if (const auto* cell = status_block::faultCellOf(*value.field)) {
            faults[cell->row][cell->column] = value.text;
        } else {
            const status_block::FieldInfo& info = status_block::info(*value.field);
            rows.emplace_back(
                qstring(info.caption),
                info.suffix.empty() ? value.text : value.text + u' ' + qstring(info.suffix));
        }
    }
    qsizetype width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    for (const auto& [caption, text] : rows) lines << caption.leftJustified(width + 2) + text;

    for (std::size_t row = 0; row < status_block::kLampRowCount; ++row)
        lines << qstring(status_block::kLampRows[row].caption) + lamps[row];
    // The window's fault grid, its columns abridged to fit a terminal.
    lines << QStringLiteral("Аварии и неисправности  Авария  Неиспр.  Внутр.  Каскад");
    for (std::size_t row = 0; row < std::size(status_block::kFaultRows); ++row)
        lines << QStringLiteral("  %1%2    %3    %4    %5")
                     .arg(qstring(status_block::kFaultRows[row]).leftJustified(22), faults[row][0],
                          faults[row][1], faults[row][2], faults[row][3]);
    for (const QString& event : events) lines << QStringLiteral("Событие: ") + event;
    return lines.join(u'\n') + u'\n';
}

std::unique_ptr<RecordWriter> makeRecordWriter(Format format, QIODevice& out, bool inPlace) {
    switch (format) {
        case Format::Csv:
            return std::make_unique<CsvWriter>(out);
        case Format::Jsonl:
            return std::make_unique<JsonLinesWriter>(out);
        case Format::Table:
            break;
    }
    return std::make_unique<TableWriter>(out, inPlace);
}

}  // namespace torvix::record
