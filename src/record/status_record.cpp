#include "record/status_record.h"

#include <QLocale>
#include <algorithm>

#include "decode/formatting.h"

namespace torvix::record {
namespace {

using status_block::FieldInfo;
using status_block::Reading;

QString keyOf(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

QString textOf(const StatusSnapshot& snapshot, const FieldInfo& info) {
    switch (info.reading) {
        case Reading::Version: {
            const auto version = snapshot.version(info.id);
            return QStringLiteral("%1.%2")
                .arg(version.major)
                .arg(version.minor, 2, 10, QLatin1Char('0'));
        }
        case Reading::Word16:
        case Reading::Word32:
            return hexPadded(static_cast<std::uint64_t>(snapshot.raw(info.id)),
                             info.reading == Reading::Word32 ? 8 : 4);
        default:
            // The window's rounding (half to even at the field's decimals), with a point and
            // no suffix, whatever the user's locale.
            return formatScaled(double(snapshot.raw(info.id)), info.decimals, info.scale, {},
                                QLocale::c())
                .trimmed();
    }
}

RecordValue valueOf(const StatusSnapshot& snapshot, const FieldInfo& info) {
    return {keyOf(info.key), textOf(snapshot, info), status_block::isNumber(info.reading), info.id};
}

// The record of an all-zero block: its keys and kinds, whatever the values.
const StatusRecord& zeroRecord() {
    static const StatusRecord record = statusRecord(StatusSnapshot());
    return record;
}

}  // namespace

StatusRecord statusRecord(const StatusSnapshot& snapshot) {
    StatusRecord record;
    record.reserve(status_block::kFieldCount + 13);
    for (const FieldInfo& info : status_block::kFields)
        if (!status_block::isWord(info.reading)) record.push_back(valueOf(snapshot, info));
    for (const auto& row : status_block::kLampRows)
        for (int i = 0; i < static_cast<int>(row.lamps.size()); ++i)
            record.push_back({keyOf(row.lamps[static_cast<std::size_t>(i)].key),
                              snapshot.lamp(row, i) ? QStringLiteral("1") : QStringLiteral("0"),
                              true, std::nullopt, &row, i});
    for (const FieldInfo& info : status_block::kFields)
        if (status_block::isWord(info.reading)) record.push_back(valueOf(snapshot, info));
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
