// The line settings text as тп.ini or the dialog hand it over: the parser must agree with a
// plain reading of the rule "speed,parity,data,stop" written here from the README, and what
// it accepts must be written out as that rule's plain text and read the same again.
//
// Input: one byte that picks the decoding (UTF-8, or UTF-16 units for any character), then
// the text.

#include <QString>
#include <QStringList>
#include <optional>

#include "fuzz_check.h"
#include "protocol/line_settings.h"

namespace {

using torvix::LineSettings;

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QString trimmed(const QString& field) {
    qsizetype from = 0;
    qsizetype to = field.size();
    while (from < to && isBlank(field[from])) ++from;
    while (to > from && isBlank(field[to - 1])) --to;
    return field.mid(from, to - from);
}

// Speed: decimal digits, 1 to 4 000 000, at most nine of them. Parity: one of n e o m s in
// either case (ASCII only). Data bits 5 to 8. Stop bits 1, 1.5 or 2.
std::optional<LineSettings> plainReading(const QString& text) {
    const QStringList fields = text.split(u',');
    if (fields.size() != 4) return std::nullopt;
    const QString speed = trimmed(fields[0]);
    const QString parity = trimmed(fields[1]);
    const QString data = trimmed(fields[2]);
    const QString stop = trimmed(fields[3]);

    if (speed.isEmpty() || speed.size() > 9) return std::nullopt;
    long long baud = 0;
    for (const QChar c : speed) {
        if (c.unicode() < '0' || c.unicode() > '9') return std::nullopt;
        baud = baud * 10 + (c.unicode() - '0');
    }
    if (baud < 1 || baud > 4'000'000) return std::nullopt;

    LineSettings s;
    s.baudRate = static_cast<qint32>(baud);
    if (parity.size() != 1) return std::nullopt;
    switch (parity[0].unicode()) {
        case 'n':
        case 'N':
            s.parity = LineSettings::Parity::None;
            break;
        case 'e':
        case 'E':
            s.parity = LineSettings::Parity::Even;
            break;
        case 'o':
        case 'O':
            s.parity = LineSettings::Parity::Odd;
            break;
        case 'm':
        case 'M':
            s.parity = LineSettings::Parity::Mark;
            break;
        case 's':
        case 'S':
            s.parity = LineSettings::Parity::Space;
            break;
        default:
            return std::nullopt;
    }
    if (data.size() != 1 || data[0] < u'5' || data[0] > u'8') return std::nullopt;
    s.dataBits = data[0].unicode() - '0';
    if (stop == u"1")
        s.stopBits = LineSettings::StopBits::One;
    else if (stop == u"1.5")
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    else if (stop == u"2")
        s.stopBits = LineSettings::StopBits::Two;
    else
        return std::nullopt;
    return s;
}

QString written(const LineSettings& s) {
    const char* parity = "n";
    switch (s.parity) {
        case LineSettings::Parity::Even:
            parity = "e";
            break;
        case LineSettings::Parity::Odd:
            parity = "o";
            break;
        case LineSettings::Parity::Mark:
            parity = "m";
            break;
        case LineSettings::Parity::Space:
            parity = "s";
            break;
        default:
            break;
    }
    const char* stop = s.stopBits == LineSettings::StopBits::OneAndHalf ? "1.5"
                       : s.stopBits == LineSettings::StopBits::Two      ? "2"
                                                                        : "1";
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.baudRate)
        .arg(QLatin1String(parity))
        .arg(s.dataBits)
        .arg(QLatin1String(stop));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    torvix::fuzz::Input input(data, size);
    const bool utf16 = input.byte() & 1;
    const auto bytes = input.rest();
    QString text;
    if (utf16) {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.append(QChar(char16_t(bytes[i] | bytes[i + 1] << 8)));
    } else {
        text =
            QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    }

    const auto parsed = LineSettings::parse(text);
    const auto expected = plainReading(text);
    FUZZ_CHECK(parsed.has_value() == expected.has_value());
    if (!parsed) return 0;
    FUZZ_CHECK(*parsed == *expected);
    FUZZ_CHECK(parsed->toText() == written(*parsed));
    const auto again = LineSettings::parse(parsed->toText());
    FUZZ_CHECK(again.has_value() && *again == *parsed);
    return 0;
}
