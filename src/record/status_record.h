#pragma once
// One status snapshot as a record: every value under its record key, locale-free.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>
#include <vector>

#include "decode/status_fields.h"
#include "decode/status_snapshot.h"

namespace torvix::record {

struct RecordValue {
    QString key;   // gen_u_a_v, lamp_alarm, cascade_word_now ...
    QString text;  // 230.5, 1, 80000001, 2.05 ... with a decimal point whatever the locale
    bool number;   // a JSON number; otherwise a JSON string
    // What the value is: a field of the block, or lamp `lamp` of `lampRow`.
    std::optional<status_block::Field> field;
    const status_block::LampRow* lampRow = nullptr;
    int lamp = -1;
};

using StatusRecord = std::vector<RecordValue>;

// The measurements, versions, section and priority, then the lamps, then the words.
StatusRecord statusRecord(const StatusSnapshot& snapshot);

// Every key in record order, `time` first and `events` last: the CSV header.
QStringList recordKeys();
// The keys whose values are numbers, which a script may compare.
bool isNumberKey(QStringView key);

const RecordValue* valueOf(const StatusRecord& record, QStringView key);

}  // namespace torvix::record
