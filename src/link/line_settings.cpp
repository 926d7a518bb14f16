#include "link/line_settings.h"

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

std::optional<QSerialPort::Parity> parseParity(QStringView field) {
    if (field.size() != 1) return std::nullopt;
    switch (field.front().toLower().unicode()) {
        case u'n':
            return QSerialPort::NoParity;
        case u'e':
            return QSerialPort::EvenParity;
        case u'o':
            return QSerialPort::OddParity;
        case u'm':
            return QSerialPort::MarkParity;
        case u's':
            return QSerialPort::SpaceParity;
        default:
            return std::nullopt;
    }
}

std::optional<QSerialPort::DataBits> parseDataBits(QStringView field) {
    if (field == u"5") return QSerialPort::Data5;
    if (field == u"6") return QSerialPort::Data6;
    if (field == u"7") return QSerialPort::Data7;
    if (field == u"8") return QSerialPort::Data8;
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> parseStopBits(QStringView field) {
    if (field == u"1") return QSerialPort::OneStop;
    if (field == u"1.5") return QSerialPort::OneAndHalfStop;
    if (field == u"2") return QSerialPort::TwoStop;
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

}  // namespace torvix
