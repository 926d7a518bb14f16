#include "record/status_record.h"

#include <QLocale>
#include <algorithm>

#include "decode/formatting.h"
#include "decode/register_map.h"
#include "decode/status_snapshot.h"

namespace torvix::record {
namespace {

QString keyOf(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

QString versionOf(StatusSnapshot::Version version) {
    return QStringLiteral("%1.%2").arg(version.major).arg(version.minor, 2, 10, QLatin1Char('0'));
}

// The record of an all-zero block: its keys and kinds, whatever the values.
const StatusRecord& zeroRecord() {
    static const StatusRecord record = [] {
        std::uint8_t reply[protocol::kStatusReplyBytes] = {};
        reply[1] = protocol::kReadInputRegisters;
        reply[2] = 2 * protocol::kStatusRegisterCount;
        return *statusRecord(reply);
    }();
    return record;
}

}  // namespace

std::optional<StatusRecord> statusRecord(std::span<const std::uint8_t> reply) {
    const auto snapshot = StatusSnapshot::fromReply(reply);
    if (!snapshot) return std::nullopt;
    // Measurements, versions, section and priority in their columns; then lamps and words.
    std::vector<std::pair<int, RecordValue>> columns;
    for (const auto& field : status_block::kVersionFields)
        columns.push_back(
            {field.column,
             {keyOf(field.key), versionOf(snapshot->version(field)), false, {field.label}, {}}});
    for (const auto& field : status_block::kScaledFields) {
        // The window's rounding (half to even at the field's decimals), with a point and no
        // suffix, whatever the user's locale.
        const QString number = formatScaled(double(snapshot->raw(field)), field.decimals,
                                            field.scale, {}, QLocale::c())
                                   .trimmed();
        columns.push_back({field.column,
                           {keyOf(field.key),
                            number,
                            true,
                            {field.label},
                            QStringView(field.suffix).toString()}});
    }
    std::sort(columns.begin(), columns.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    StatusRecord record;
    for (auto& column : columns) record.push_back(std::move(column.second));
    for (const auto& row : status_block::kLampRows)
        for (int i = 0; i < row.count; ++i)
            record.push_back({keyOf(row.keys[static_cast<std::size_t>(i)]),
                              snapshot->lamp(row, i) ? QStringLiteral("1") : QStringLiteral("0"),
                              true,
                              {row.label, i},
                              {}});
    for (const auto& field : status_block::kHexFields)
        record.push_back({keyOf(field.key),
                          hexPadded(snapshot->word(field), field.width),
                          false,
                          {field.label, field.index},
                          {}});
    return record;
}

QStringList recordKeys() {
    QStringList keys{QStringLiteral("time")};
    for (const auto& value : zeroRecord()) keys << value.key;
    keys << QStringLiteral("events");
    return keys;
}

bool isNumberKey(QStringView key) {
    const RecordValue* value = valueOf(zeroRecord(), key);
    return value && value->number;
}

const RecordValue* valueOf(const StatusRecord& record, QStringView key) {
    const auto found = std::find_if(record.begin(), record.end(),
                                    [&](const RecordValue& value) { return value.key == key; });
    return found == record.end() ? nullptr : &*found;
}

}  // namespace torvix::record
