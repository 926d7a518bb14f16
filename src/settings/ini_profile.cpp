#include "settings/ini_profile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <vector>

namespace torvix {

namespace {

// One line of the file as bytes, its line ending ("\n", "\r\n" or none) kept apart so that
// untouched lines are written back exactly as they were read.
struct Line {
    QByteArray text;
    QByteArray eol;
};

struct Lines {
    std::vector<Line> lines;
    QByteArray eol = "\n";  // for lines we add: the file's own line ending, LF for a new file
};

enum class LoadResult { Missing, Loaded, Unreadable };

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

qsizetype skipBlanks(const QByteArray& text, qsizetype from) {
    while (from < text.size() && isBlank(text[from])) ++from;
    return from;
}

qsizetype trimBlanksBack(const QByteArray& text, qsizetype from, qsizetype end) {
    while (end > from && isBlank(text[end - 1])) --end;
    return end;
}

// QString::fromUtf8 drops a leading U+FEFF as a byte-order mark; inside the file it is a
// character of the value or name and must read back as written.
QString decoded(const QByteArray& text, qsizetype from, qsizetype end) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(text.constData() + from, end - from));
}

QString decodedTrimmed(const QByteArray& text, qsizetype from, qsizetype end) {
    from = skipBlanks(text, from);
    end = trimBlanksBack(text, from, end);
    return decoded(text, from, end);
}

LoadResult load(const QString& path, Lines& out) {
    const QFileInfo info(path);
    if (!info.exists()) return LoadResult::Missing;
    if (!info.isFile() || info.size() > kIniFileMaxSize) return LoadResult::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return LoadResult::Unreadable;
    // Sized by what the file holds rather than by the limit, which cost a 1 MiB allocation per
    // read. The file can grow between the check and the read: read on to its end, never more
    // than one byte past the limit.
    QByteArray bytes(std::min(info.size(), kIniFileMaxSize) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > kIniFileMaxSize) return LoadResult::Unreadable;
            bytes.resize(std::min(2 * filled, qsizetype(kIniFileMaxSize) + 1));
        }
        const qint64 n = file.read(bytes.data() + filled, bytes.size() - filled);
        if (n < 0) return LoadResult::Unreadable;
        if (n == 0) break;
        filled += qsizetype(n);
    }
    bytes.truncate(filled);

    bool eolSeen = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', start);
        if (newline < 0) {
            out.lines.push_back({bytes.mid(start), {}});
            break;
        }
        qsizetype end = newline;
        if (end > start && bytes[end - 1] == '\r') --end;
        out.lines.push_back({bytes.mid(start, end - start), bytes.mid(end, newline + 1 - end)});
        if (!eolSeen) {
            out.eol = out.lines.back().eol;
            eolSeen = true;
        }
        start = newline + 1;
    }
    return LoadResult::Loaded;
}

// What a line means to the profile: a section header, an entry key=value, or anything else
// (blank, comment, a header without "]", a line without "=") that is kept and skipped.
struct Parsed {
    enum class Kind { Other, Section, Entry } kind = Kind::Other;
    QString name;              // section name or key, trimmed
    qsizetype valueStart = 0;  // entry only: the value's bytes, blanks around excluded
    qsizetype valueEnd = 0;
};

Parsed parse(const Line& line, bool firstLine) {
    const QByteArray& text = line.text;
    qsizetype start = 0;
    if (firstLine && text.startsWith(kUtf8Bom)) start = qsizetype(sizeof kUtf8Bom) - 1;
    start = skipBlanks(text, start);
    if (start >= text.size() || text[start] == ';') return {};

    Parsed parsed;
    if (text[start] == '[') {
        const qsizetype close = text.lastIndexOf(']');
        if (close <= start) return {};
        parsed.kind = Parsed::Kind::Section;
        parsed.name = decodedTrimmed(text, start + 1, close);
        return parsed;
    }
    const qsizetype equals = text.indexOf('=', start);
    if (equals < 0) return {};
    parsed.kind = Parsed::Kind::Entry;
    parsed.name = decodedTrimmed(text, start, equals);
    parsed.valueStart = skipBlanks(text, equals + 1);
    parsed.valueEnd = trimBlanksBack(text, parsed.valueStart, text.size());
    return parsed;
}

bool sameName(const QString& a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section and a key sit in the file; -1 for what is missing.
struct Found {
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype lastContent = -1;  // the section's last line that is neither blank nor a comment
    Parsed entry;
};

// The first section of that name, and the first entry of that key within it.
Found find(const Lines& file, QStringView section, QStringView key) {
    Found found;
    for (qsizetype i = 0; i < qsizetype(file.lines.size()); ++i) {
        const Line& line = file.lines[size_t(i)];
        const Parsed parsed = parse(line, i == 0);
        if (parsed.kind == Parsed::Kind::Section) {
            if (found.section >= 0) break;
            if (sameName(parsed.name, section)) found.section = found.lastContent = i;
            continue;
        }
        if (found.section < 0) continue;
        const qsizetype content = skipBlanks(line.text, 0);
        if (content < line.text.size() && line.text[content] != ';') found.lastContent = i;
        if (parsed.kind == Parsed::Kind::Entry && found.key < 0 && sameName(parsed.name, key)) {
            found.key = i;
            found.entry = parsed;
        }
    }
    return found;
}

// Inserts new lines before position `at`; at the end of a file that lacks a final line
// break the file goes on lacking it.
void insertLines(Lines& file, qsizetype at, const std::vector<QByteArray>& texts) {
    std::vector<Line> added;
    for (const QByteArray& text : texts) added.push_back({text, file.eol});
    if (at == qsizetype(file.lines.size()) && !file.lines.empty() &&
        file.lines.back().eol.isEmpty()) {
        file.lines.back().eol = file.eol;
        added.back().eol.clear();
    }
    file.lines.insert(file.lines.begin() + at, added.begin(), added.end());
}

}  // namespace

std::optional<QString> readIniString(const QString& path, QStringView section, QStringView key,
                                     const QString& defaultValue) {
    Lines file;
    QString value = defaultValue;
    switch (load(path, file)) {
        case LoadResult::Unreadable:
            return std::nullopt;
        case LoadResult::Missing:
            break;
        case LoadResult::Loaded:
            if (const Found found = find(file, section, key); found.key >= 0) {
                const QByteArray& text = file.lines[size_t(found.key)].text;
                value = decoded(text, found.entry.valueStart, found.entry.valueEnd);
            }
            break;
    }
    if (value.size() > kIniValueMaxLength) {
        value.truncate(kIniValueMaxLength);
        if (value.back().isHighSurrogate()) value.chop(1);
    }
    return value;
}

bool writeIniString(const QString& path, QStringView section, QStringView key,
                    const QString& value) {
    Lines file;
    if (load(path, file) == LoadResult::Unreadable) return false;

    QString oneLine = value;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ');
    // Blanks around the value would not read back, and rewriting the same value would add
    // them again beside the old ones on every write.
    QByteArray valueBytes = oneLine.toUtf8();
    valueBytes = valueBytes.mid(skipBlanks(valueBytes, 0));
    valueBytes.truncate(trimBlanksBack(valueBytes, 0, valueBytes.size()));

    const Found found = find(file, section, key);
    if (found.key >= 0) {
        QByteArray& text = file.lines[size_t(found.key)].text;
        text = text.left(found.entry.valueStart) + valueBytes + text.mid(found.entry.valueEnd);
    } else {
        const QByteArray entry = key.toUtf8() + '=' + valueBytes;
        if (found.section >= 0)
            insertLines(file, found.lastContent + 1, {entry});
        else
            insertLines(file, qsizetype(file.lines.size()), {'[' + section.toUtf8() + ']', entry});
    }

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    for (const Line& line : file.lines) {
        if (out.write(line.text) != line.text.size() || out.write(line.eol) != line.eol.size()) {
            out.cancelWriting();
            return false;
        }
    }
    return out.commit();
}

}  // namespace torvix
