#include "cli/status_record.h"

#include <QLocale>

#include "decode/formatting.h"
#include "decode/register_map.h"
#include "decode/status_snapshot.h"

namespace torvix::cli {
namespace {

QString keyOf(std::string_view name, int index = -1) {
    QString key = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    if (index >= 0) key += u'_' + QString::number(index);
    return key;
}

QString versionOf(StatusSnapshot::Version version) {
    return QStringLiteral("%1.%2").arg(version.major).arg(version.minor, 2, 10, QLatin1Char('0'));
}

}  // namespace

std::optional<StatusRecord> statusRecord(std::span<const std::uint8_t> reply) {
    const auto snapshot = StatusSnapshot::fromReply(reply);
    if (!snapshot) return std::nullopt;
    StatusRecord record;
    for (const auto& field : status_block::kVersionFields)
        record.push_back(
            {keyOf(field.label), versionOf(snapshot->version(field)), false, {field.label}, {}});
    for (const auto& field : status_block::kScaledFields) {
        // The window's rounding (half to even at the field's decimals), with a point and no
        // suffix, whatever the user's locale.
        const QString number = formatScaled(double(snapshot->raw(field)), field.decimals,
                                            field.scale, {}, QLocale::c())
                                   .trimmed();
        record.push_back({keyOf(field.label),
                          number,
                          true,
                          {field.label},
                          QStringView(field.suffix).toString()});
    }
    for (const auto& field : status_block::kHexFields)
        record.push_back({keyOf(field.label, field.index),
                          hexPadded(snapshot->word(field), field.width),
                          false,
                          {field.label, field.index},
                          {}});
    for (const auto& row : status_block::kLampRows)
        for (int i = 0; i < row.count; ++i)
            record.push_back({keyOf(row.label, i),
                              snapshot->lamp(row, i) ? QStringLiteral("1") : QStringLiteral("0"),
                              true,
                              {row.label, i},
                              {}});
    return record;
}

}  // namespace torvix::cli
