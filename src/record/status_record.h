#pragma once
// One status reply as a record: every value under its record key, locale-free.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "control/window_sinks.h"

namespace torvix::record {

struct RecordValue {
    QString key;         // gen_u_a_v, lamp_alarm, cascade_word_now ...
    QString text;        // 230.5, 1, 80000001, 2.05 ... with a decimal point whatever the locale
    bool number;         // a JSON number; otherwise a JSON string
    ControlRef control;  // the window's label (and element) that shows the value
    QString suffix;      // the window's suffix after the number, such as мч
};

using StatusRecord = std::vector<RecordValue>;

// Nothing unless `reply` is a whole status reply (133 bytes, CRC included).
std::optional<StatusRecord> statusRecord(std::span<const std::uint8_t> reply);

// Every key in record order, `time` first and `events` last: the CSV header.
QStringList recordKeys();
// The keys whose values are numbers, which a script may compare.
bool isNumberKey(QStringView key);

const RecordValue* valueOf(const StatusRecord& record, QStringView key);

}  // namespace torvix::record
