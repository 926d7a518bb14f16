#include "cli/status_record.h"

#include <QLocale>

#include "decode/formatting.h"
#include "decode/register_map.h"
#include "link/protocol.h"

namespace torvix::cli {
namespace {

QString keyOf(std::string_view name, int index = -1) {
    QString key = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    if (index >= 0) key += u'_' + QString::number(index);
    return key;
}

double readField(Bytes rx, const status_block::ScaledField& field) {
    using status_block::ReadAs;
    const int k = registerOffset(field.reg);
    switch (field.readAs) {
        case ReadAs::U16:
            return readU16(rx, k);
        case ReadAs::S16:
            return readS16(rx, k);
        case ReadAs::U32:
            return readU32(rx, k);
        case ReadAs::S32:
            return readS32(rx, k);
        case ReadAs::HighByte:
            return rx[k];
        case ReadAs::LowByte:
            return rx[k + 1];
    }
    return 0;
}

// The window's rounding (half to even at the field's decimals), with a point and no suffix.
QString plainNumber(double value, int decimals, double scale) {
    return formatScaled(value, decimals, scale, {}, QLocale::c()).trimmed();
}

QString versionOf(int major, int minor) {
    return QStringLiteral("%1.%2").arg(major).arg(minor, 2, 10, QLatin1Char('0'));
}

}  // namespace

std::optional<StatusRecord> statusRecord(std::span<const std::uint8_t> reply) {
    if (reply.size() != protocol::kStatusReplyBytes ||
        reply[1] != protocol::kReadInputRegisters ||
        reply[2] != 2 * protocol::kStatusRegisterCount)
        return std::nullopt;
    StatusRecord record;
    for (const auto& field : status_block::kVersionFields) {
        const int k = registerOffset(field.reg);
        record.push_back({keyOf(field.label), versionOf(reply[k], reply[k + 1]), false,
                          {field.label}, {}});
    }
    for (const auto& field : status_block::kScaledFields)
        record.push_back({keyOf(field.label),
                          plainNumber(readField(reply, field), field.decimals, field.scale), true,
                          {field.label}, QStringView(field.suffix).toString()});
    for (const auto& field : status_block::kHexFields) {
        const int k = registerOffset(field.reg);
        const std::uint64_t value = field.width == 8 ? readU32(reply, k) : readU16(reply, k);
        record.push_back({keyOf(field.control.name, field.control.index),
                          hexPadded(value, field.width), false, field.control, {}});
    }
    for (const auto& row : status_block::kLampRows) {
        const std::uint16_t bits = readU16(reply, registerOffset(row.reg));
        for (int i = 0; i < row.count; ++i)
            record.push_back({keyOf(row.label, i), ((bits >> i) & 1u) ? QStringLiteral("1")
                                                                       : QStringLiteral("0"),
                              true, {row.label, i}, {}});
    }
    return record;
}

}  // namespace torvix::cli
