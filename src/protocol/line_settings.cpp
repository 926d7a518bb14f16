#include "protocol/line_settings.h"

#include <QList>

namespace torvix {
namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView trimBlanks(QStringView field) {
    while (!field.isEmpty() && isBlank(field.front())) field = field.mid(1);
    while (!field.isEmpty() && isBlank(field.back())) field.chop(1);
    return field;
}

std::optional<qint32> parseBaudRate(QStringView field) {
    // Plain decimal digits only: no sign, no blanks inside, no hexadecimal.
    if (field.isEmpty() || field.size() > 9) return std::nullopt;
    qint32 value = 0;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > LineSettings::kMaxBaudRate) return std::nullopt;
    return value;
}

using Parity = LineSettings::Parity;
using StopBits = LineSettings::StopBits;

// In the order of the enumeration.
constexpr char16_t kParityLetters[] = u"neoms";

std::optional<Parity> parseParity(QStringView field) {
    if (field.size() != 1) return std::nullopt;
    const char16_t letter = field.front().toLower().unicode();
    for (int i = 0; i < 5; ++i)
        if (kParityLetters[i] == letter) return static_cast<Parity>(i);
    return std::nullopt;
}

std::optional<int> parseDataBits(QStringView field) {
    if (field.size() != 1 || field.front() < u'5' || field.front() > u'8') return std::nullopt;
    return field.front().unicode() - u'0';
}

std::optional<StopBits> parseStopBits(QStringView field) {
    if (field == u"1") return StopBits::One;
    if (field == u"1.5") return StopBits::OneAndHalf;
    if (field == u"2") return StopBits::Two;
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> LineSettings::parse(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4) return std::nullopt;
    const auto baud = parseBaudRate(trimBlanks(fields[0]));
    const auto parity = parseParity(trimBlanks(fields[1]));
    const auto data = parseDataBits(trimBlanks(fields[2]));
    const auto stop = parseStopBits(trimBlanks(fields[3]));
    if (!baud || !parity || !data || !stop) return std::nullopt;
    return LineSettings{*baud, *parity, *data, *stop};
}

QString LineSettings::toText() const {
    const QString stop = stopBits == StopBits::One          ? QStringLiteral("1")
                         : stopBits == StopBits::OneAndHalf ? QStringLiteral("1.5")
                                                            : QStringLiteral("2");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QChar(kParityLetters[static_cast<int>(parity)]))
        .arg(dataBits)
        .arg(stop);
}

double LineSettings::bitsPerCharacter() const {
    const double stop = stopBits == StopBits::Two ? 2 : stopBits == StopBits::OneAndHalf ? 1.5 : 1;
    return 1 + dataBits + (parity == Parity::None ? 0 : 1) + stop;
}

}  // namespace torvix
