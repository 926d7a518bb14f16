#include "analysis/recording.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <limits>
#include <optional>
#include <string_view>

#include "record/event_text.h"

namespace torvix::analysis {
namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The form torvix-cli writes, "2026-12-08T07:30:01.020+03:00" or "...020Z", read without
// QDateTime, which costs more than the rest of a row; any other form is QDateTime's.
std::optional<qint64> writtenMsecsOf(std::string_view t) {
    t = trimmed(t);
    const auto digits = [&t](std::size_t at, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (t[i] < '0' || t[i] > '9') return std::nullopt;
            value = value * 10 + (t[i] - '0');
        }
        return value;
    };
    if (t.size() != 24 && t.size() != 29) return std::nullopt;
    if (t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' ||
        t[16] != ':' || t[19] != '.')
        return std::nullopt;
    const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
    const auto hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
    const auto millis = digits(20, 3);
    if (!year || !month || !day || !hour || !minute || !second || !millis) return std::nullopt;
    int offsetMinutes = 0;
    if (t.size() == 24) {
        if (t[23] != 'Z') return std::nullopt;
    } else {
        const auto offsetHours = digits(24, 2), offsetRest = digits(27, 2);
        if ((t[23] != '+' && t[23] != '-') || t[26] != ':' || !offsetHours || !offsetRest ||
            *offsetHours > 23 || *offsetRest > 59)
            return std::nullopt;
        offsetMinutes = (t[23] == '-' ? -1 : 1) * (*offsetHours * 60 + *offsetRest);
    }
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    const qint64 days = std::chrono::sys_days(date).time_since_epoch().count();
    return ((days * 24 + *hour) * 60 + *minute - offsetMinutes) * 60000 + *second * 1000 + *millis;
}

std::optional<qint64> msecsOf(QString text) {
    text = text.trimmed();
    // A spreadsheet may write a blank between date and time.
    if (text.size() > 10 && text[10] == u' ') text[10] = u'T';
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) return std::nullopt;
    return time.toMSecsSinceEpoch();
}

// Collects the rows, whatever the format they come in.
class Builder {
public:
    explicit Builder(const ReadOptions& options) : options_(options) {
        recording_.columns.resize(options.columns.size());
    }

    std::optional<QString> add(qint64 msecs, double frequency, double voltage, double power) {
        if (recording_.timeS.empty()) {
            first_ = msecs;
        } else if (msecs < last_) {
            return QStringLiteral("время меньше, чем в предыдущей записи");
        }
        last_ = msecs;
        recording_.timeS.push_back(static_cast<double>(msecs - first_) / 1000.0);
        recording_.frequencyHz.push_back(frequency);
        recording_.voltageV.push_back(voltage);
        recording_.powerKw.push_back(power);
        return std::nullopt;
    }
    void event(QString text) {
        if (!text.isEmpty()) recording_.events.push_back({recording_.size() - 1, std::move(text)});
    }
    void warn(const QString& text) { recording_.warnings << text; }
    // The row just added: where it lies in the file, and its kept columns' values.
    void place(qint64 start, qint64 end) {
        recording_.rowOffsets.push_back(start);
        recording_.rowsEnd = end;
    }
    void column(std::size_t index, float value) { recording_.columns[index].push_back(value); }
    // Every so many rows, the share of `input` read.
    void progress(const QIODevice& input) {
        if (!options_.progress || recording_.size() % 8192 != 0 || input.size() <= 0) return;
        options_.progress(static_cast<double>(input.pos()) / static_cast<double>(input.size()));
    }
    void setLayout(Layout layout) { recording_.layout = layout; }
    void setStart(const QString& time) {
        QString text = time.trimmed();
        if (text.size() > 10 && text[10] == u' ') text[10] = u'T';
        recording_.start = QDateTime::fromString(text, Qt::ISODateWithMs);
    }
    Recording take() { return std::move(recording_); }
    bool empty() const { return recording_.timeS.empty(); }

private:
    const ReadOptions& options_;
    Recording recording_;
    qint64 first_ = 0;
    qint64 last_ = 0;
};

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

QString cutLineWarning(qsizetype line) {
    return QStringLiteral("строка %1 оборвана (запись прервана?) и не прочитана").arg(line);
}

// RFC 4180 records, one or more physical lines each; fields are unquoted in place.
class CsvReader {
public:
    // The header line is already read.
    CsvReader(QIODevice& in, char separator) : in_(in), line_(1), separator_(separator) {}

    // False at the end. `complete`: the record ended with a line break and its quotes closed.
    bool next(std::vector<std::string_view>& fields, qsizetype& firstLine, bool& complete) {
        if (in_.atEnd()) return false;
        recordStart_ = in_.pos();
        buffer_ = in_.readLine();
        firstLine = ++line_;
        // An odd number of quotes so far: a quoted field goes on in the next line.
        qsizetype quotes = buffer_.count('"');
        while (quotes % 2 != 0 && !in_.atEnd()) {
            const QByteArray more = in_.readLine();
            quotes += more.count('"');
            buffer_ += more;
            ++line_;
        }
        complete = buffer_.endsWith('\n') && quotes % 2 == 0;
        while (buffer_.endsWith('\n') || buffer_.endsWith('\r')) buffer_.chop(1);
        splitCsvRecord(buffer_, separator_, fields);
        return true;
    }

    qint64 recordStart() const { return recordStart_; }
    qint64 recordEnd() const { return in_.pos(); }

private:
    QIODevice& in_;
    QByteArray buffer_;
    qsizetype line_;
    char separator_;
    qint64 recordStart_ = 0;
};

struct Columns {
    qsizetype time = -1;
    qsizetype frequency = -1;
    qsizetype power = -1;
    qsizetype events = -1;
    std::vector<qsizetype> phases;
    qsizetype needed = 0;  // fields a row must have
};

ReadResult readCsv(QIODevice& in, const ReadOptions& options) {
    const QByteArray header = in.readLine();
    if (header.trimmed().isEmpty()) return ReadError{1, QStringLiteral("файл пуст")};
    // A spreadsheet that writes decimal commas separates its fields with ';'.
    const bool decimalComma = header.count(';') > header.count(',');
    const char separator = decimalComma ? ';' : ',';
    QList<QByteArray> names = header.trimmed().split(separator);
    for (QByteArray& name : names) {
        name = name.trimmed();
        if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
            name = name.mid(1, name.size() - 2);
    }
    CsvReader reader(in, separator);
    std::vector<std::string_view> fields;
    qsizetype line = 1;
    bool complete = false;

    Columns c;
    const auto column = [&names](const char* key) { return names.indexOf(QByteArray(key)); };
    c.time = column(key::kTime);
    c.frequency = column(key::kFrequency);
    c.power = column(key::kPower);
    c.events = column(key::kEvents);
    QStringList missing;
    for (const char* phase : key::kPhaseVoltages) {
        const qsizetype i = column(phase);
        if (i >= 0)
            c.phases.push_back(i);
        else
            missing << QString::fromLatin1(phase);
    }
    for (const auto& [index, name] :
         {std::pair{c.time, key::kTime}, std::pair{c.frequency, key::kFrequency},
          std::pair{c.power, key::kPower}})
        if (index < 0)
            return ReadError{1,
                             QStringLiteral("в заголовке нет столбца %1").arg(QLatin1String(name))};
    if (c.phases.empty())
        return ReadError{1, QStringLiteral("в заголовке нет ни одного из столбцов gen_u_a_v, "
                                           "gen_u_b_v, gen_u_c_v")};
    for (qsizetype i : {c.time, c.frequency, c.power, c.events})
        c.needed = std::max(c.needed, i + 1);
    for (qsizetype i : c.phases) c.needed = std::max(c.needed, i + 1);

    Builder rows(options);
    rows.setLayout(decimalComma ? Layout::SemicolonCsv : Layout::Csv);
    // The kept columns the file has; a missing one stays empty.
    std::vector<std::pair<std::size_t, qsizetype>> kept;
    for (std::size_t i = 0; i < options.columns.size(); ++i)
        if (const qsizetype at = names.indexOf(options.columns[i]); at >= 0)
            kept.push_back({i, at});
    if (!missing.isEmpty())
        rows.warn(QStringLiteral("нет столбца %1: напряжение — среднее остальных фаз")
                      .arg(missing.join(QStringLiteral(", "))));
    while (reader.next(fields, line, complete)) {
        if (fields.size() == 1 && trimmed(fields.front()).empty()) continue;  // blank line
        const bool last = in.atEnd();
        if (static_cast<qsizetype>(fields.size()) < c.needed || !complete) {
            if (last && !complete) {
                rows.warn(cutLineWarning(line));
                break;
            }
            if (static_cast<qsizetype>(fields.size()) < c.needed)
                return ReadError{line, QStringLiteral("%1 полей, а в заголовке %2")
                                           .arg(fields.size())
                                           .arg(names.size())};
        }
        const auto field = [&](qsizetype i) { return fields[static_cast<std::size_t>(i)]; };
        const auto number = [&](qsizetype i) -> std::optional<double> {
            return recordNumber(field(i), decimalComma);
        };
        const auto bad = [&](qsizetype i) {
            return ReadError{line,
                             QStringLiteral("в столбце %1 не число: \"%2\"")
                                 .arg(QString::fromUtf8(names[i]),
                                      QString::fromUtf8(field(i).data(),
                                                        static_cast<qsizetype>(field(i).size())))};
        };
        const auto timeText = [&] {
            return QString::fromUtf8(field(c.time).data(),
                                     static_cast<qsizetype>(field(c.time).size()));
        };
        auto msecs = writtenMsecsOf(field(c.time));
        if (!msecs) msecs = msecsOf(timeText());
        if (!msecs)
            return ReadError{line,
                             QStringLiteral("время \"%1\" не в виде ISO 8601").arg(timeText())};
        const auto frequency = number(c.frequency);
        if (!frequency) return bad(c.frequency);
        const auto power = number(c.power);
        if (!power) return bad(c.power);
        double voltage = 0;
        for (qsizetype i : c.phases) {
            const auto u = number(i);
            if (!u) return bad(i);
            voltage += *u;
        }
        if (rows.empty()) rows.setStart(timeText());
        if (auto error = rows.add(*msecs, *frequency,
                                  voltage / static_cast<double>(c.phases.size()), *power))
            return ReadError{line, *error};
        rows.place(reader.recordStart(), reader.recordEnd());
        for (const auto& [index, at] : kept) {
            const auto value =
                at < static_cast<qsizetype>(fields.size()) ? number(at) : std::nullopt;
            rows.column(index, value ? static_cast<float>(*value) : kNoValue);
        }
        rows.progress(in);
        if (c.events >= 0) {
            static const QByteArray separatorBytes = record::kEventSeparator.toUtf8();
            const std::string_view kEventSeparator(separatorBytes.constData(),
                                                   static_cast<std::size_t>(separatorBytes.size()));
            std::string_view events = field(c.events);
            while (!events.empty()) {
                const auto cut = events.find(kEventSeparator);
                const std::string_view one = events.substr(0, cut);
                rows.event(QString::fromUtf8(one.data(), static_cast<qsizetype>(one.size())));
                events = cut == std::string_view::npos
                             ? std::string_view()
                             : events.substr(cut + kEventSeparator.size());
            }
        }
    }
    if (rows.empty()) return ReadError{line, QStringLiteral("в файле нет ни одной записи")};
    return rows.take();
}

ReadResult readJsonLines(QIODevice& in, const ReadOptions& options) {
    Builder rows(options);
    rows.setLayout(Layout::JsonLines);
    qsizetype line = 0;
    QString startText;
    while (!in.atEnd()) {
        const qint64 start = in.pos();
        const QByteArray text = in.readLine();
        ++line;
        if (text.trimmed().isEmpty()) continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            if (in.atEnd() && !text.endsWith('\n')) {
                rows.warn(cutLineWarning(line));
                break;
            }
            return ReadError{line, error.error != QJsonParseError::NoError
                                       ? QStringLiteral("не JSON: %1 (позиция %2)")
                                             .arg(error.errorString())
                                             .arg(error.offset)
                                       : QStringLiteral("не объект JSON")};
        }
        const QJsonObject object = document.object();
        const auto number = [&](const char* name) -> std::optional<double> {
            const QJsonValue value = object.value(QLatin1String(name));
            if (value.isDouble()) return value.toDouble();
            if (value.isString()) {
                const QByteArray bytes = value.toString().toUtf8();
                return recordNumber(
                    std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                    false);
            }
            return std::nullopt;
        };
        const auto bad = [&](const char* name) {
            return ReadError{line, object.contains(QLatin1String(name))
                                       ? QStringLiteral("%1 не число").arg(QLatin1String(name))
                                       : QStringLiteral("нет ключа %1").arg(QLatin1String(name))};
        };
        const QString timeText = object.value(QLatin1String(key::kTime)).toString();
        const auto msecs = msecsOf(timeText);
        if (!msecs)
            return ReadError{line,
                             object.contains(QLatin1String(key::kTime))
                                 ? QStringLiteral("время \"%1\" не в виде ISO 8601").arg(timeText)
                                 : QStringLiteral("нет ключа time")};
        const auto frequency = number(key::kFrequency);
        if (!frequency) return bad(key::kFrequency);
        const auto power = number(key::kPower);
        if (!power) return bad(key::kPower);
        double voltage = 0;
        int phases = 0;
        for (const char* phase : key::kPhaseVoltages) {
            if (!object.contains(QLatin1String(phase))) continue;
            const auto u = number(phase);
            if (!u) return bad(phase);
            voltage += *u;
            ++phases;
        }
        if (phases == 0) return bad(key::kPhaseVoltages[0]);
        if (rows.empty()) rows.setStart(timeText);
        if (auto message = rows.add(*msecs, *frequency, voltage / phases, *power))
            return ReadError{line, *message};
        rows.place(start, in.pos());
        for (std::size_t i = 0; i < options.columns.size(); ++i) {
            const auto value = number(options.columns[i].constData());
            rows.column(i, value ? static_cast<float>(*value) : kNoValue);
        }
        rows.progress(in);
        for (const QJsonValue event : object.value(QLatin1String(key::kEvents)).toArray())
            rows.event(event.toString());
    }
    if (rows.empty()) return ReadError{line, QStringLiteral("в файле нет ни одной записи")};
    return rows.take();
}

}  // namespace

std::optional<double> recordNumber(std::string_view text, bool decimalComma) {
    text = trimmed(text);
    std::array<char, 64> copy{};
    if (decimalComma) {
        if (text.size() > copy.size()) return std::nullopt;
        std::replace_copy(text.begin(), text.end(), copy.begin(), ',', '.');
        text = std::string_view(copy.data(), text.size());
    }
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

void splitCsvRecord(QByteArray& text, char separator, std::vector<std::string_view>& fields) {
    fields.clear();
    char* read = text.data();
    char* write = read;
    char* const end = read + text.size();
    for (;;) {
        char* const start = write;
        if (read < end && *read == '"') {
            ++read;
            while (read < end) {
                if (*read != '"') {
                    *write++ = *read++;
                } else if (read + 1 < end && read[1] == '"') {
                    *write++ = '"';
                    read += 2;
                } else {
                    ++read;
                    break;
                }
            }
        }
        while (read < end && *read != separator) *write++ = *read++;
        fields.emplace_back(start, static_cast<std::size_t>(write - start));
        if (read >= end) break;
        ++read;  // the separator
    }
}

ReadResult readRecording(QIODevice& input, const ReadOptions& options) {
    if (input.peek(3) == "\xEF\xBB\xBF") input.read(3);
    char first = 0;
    while (input.peek(&first, 1) == 1 && (first == ' ' || first == '\n' || first == '\r'))
        input.read(&first, 1);
    if (first == '{') return readJsonLines(input, options);
    return readCsv(input, options);
}

ReadResult readRecordingFile(const QString& path, const ReadOptions& options) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadError{0, QStringLiteral("%1: %2").arg(path, file.errorString())};
    ReadResult result = readRecording(file, options);
    if (auto* recording = std::get_if<Recording>(&result))
        recording->source = QFileInfo(path).fileName();
    return result;
}

}  // namespace torvix::analysis
