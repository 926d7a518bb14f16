// The INI layer on any file contents: a value written reads back, every other line is kept
// byte for byte, and writing the same value again changes nothing.
//
// Input: a selector byte (which section and key, and whether they are read back in another
// letter case), the value's length in UTF-16 units, the value, then the file's contents.

#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "settings/ini_profile.h"

namespace {

using torvix::fuzz::Input;

const char16_t* const kSections[] = {u"PC config", u"QDL config", u"Ports", u"Порты", u"S"};
const char16_t* const kKeys[] = {u"COM", u"COMSettings", u"MBSLAD", u"COM5", u"ключ"};

// The file lives in memory when the machine has /dev/shm: the target does several file
// operations per input.
const std::string& profilePath() {
    static const std::string path = [] {
        std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/torvix-ini-XXXXXX"
                                                              : "/tmp/torvix-ini-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern + "/тп.ini";
    }();
    return path;
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
}

QByteArray readBytes(const std::string& path) {
    QByteArray bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(file != nullptr);
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, qsizetype(n));
    std::fclose(file);
    return bytes;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

// A value as it stands in the file: one line, without the blanks around it.
QString oneLineOf(const QString& written) {
    QString value = written;
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && isBlank(value[from])) ++from;
    while (to > from && isBlank(value[to - 1])) --to;
    return value.mid(from, to - from);
}

// What reading gives for a written value: cut to the length limit without splitting a
// surrogate pair.
QString readBackOf(const QString& written) {
    QString value = oneLineOf(written);
    if (value.size() > torvix::kIniValueMaxLength) {
        value.truncate(torvix::kIniValueMaxLength);
        if (value.back().isHighSurrogate()) value.chop(1);
    }
    return value;
}

// The new file is the old one with at most one line changed or one or two lines inserted,
// and the changed or inserted text holds the value's bytes.
bool onlyTheEntryChanged(const QByteArray& before, const QByteArray& after,
                         const QByteArray& valueBytes) {
    QList<QByteArray> old = before.split('\n');
    const QList<QByteArray> now = after.split('\n');
    // Lines added after a last line without a line break end it with the file's own one.
    if (!before.isEmpty() && !before.endsWith('\n') && now.size() > old.size() &&
        now[old.size() - 1] == old.back() + '\r')
        old.back() += '\r';
    const qsizetype shorter = std::min(old.size(), now.size());
    qsizetype prefix = 0;
    while (prefix < shorter && old[prefix] == now[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    const qsizetype oldChanged = old.size() - prefix - suffix;
    const qsizetype newChanged = now.size() - prefix - suffix;
    const bool replaced = oldChanged <= 1 && newChanged == oldChanged;
    const bool inserted = oldChanged == 0 && (newChanged == 1 || newChanged == 2);
    if (!replaced && !inserted) return false;
    if (newChanged == 0) return true;  // the same value written again in place
    return now[prefix + newChanged - 1].contains(valueBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint8_t selector = input.byte();
    const auto valueBytes = input.take(std::size_t{input.byte()} * 2);
    QString value;
    for (std::size_t i = 0; i + 1 < valueBytes.size(); i += 2)
        value.append(QChar(char16_t(valueBytes[i] | valueBytes[i + 1] << 8)));
    // A lone surrogate has no UTF-8 form; the operator cannot type one.
    if (!QStringView(value).isValidUtf16()) return 0;
    const auto contents = input.rest();

    const QString section = QString::fromUtf16(kSections[selector % 5]);
    const QString key = QString::fromUtf16(kKeys[(selector / 5) % 5]);
    const bool otherCase = selector & 0x80;
    const QString readSection = otherCase ? section.toUpper() : section;
    const QString readKey = otherCase ? key.toLower() : key;

    const std::string& path = profilePath();
    const QString qpath = QString::fromStdString(path);
    writeBytes(path, contents.data(), contents.size());
    const QByteArray before(reinterpret_cast<const char*>(contents.data()),
                            qsizetype(contents.size()));

    const auto old = torvix::readIniString(qpath, section, key, QStringLiteral("dflt"));
    FUZZ_CHECK(old.has_value() && old->size() <= torvix::kIniValueMaxLength);

    FUZZ_CHECK(torvix::writeIniString(qpath, section, key, value));
    const QByteArray after = readBytes(path);
    FUZZ_CHECK(torvix::readIniString(qpath, readSection, readKey, QStringLiteral("dflt")) ==
               readBackOf(value));
    FUZZ_CHECK(onlyTheEntryChanged(before, after, oneLineOf(value).toUtf8()));

    FUZZ_CHECK(torvix::writeIniString(qpath, readSection, readKey, value));
    FUZZ_CHECK(readBytes(path) == after);
    return 0;
}
