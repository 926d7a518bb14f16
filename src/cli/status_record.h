#pragma once
// One status reply as a record: every value under the window's control name, locale-free.

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "control/window_sinks.h"

namespace torvix::cli {

struct RecordValue {
    QString key;         // lbl_phAU, lbl_led_3, lbl_faults_11 ...
    QString text;        // 230.5, 1, 80000001, 2.05 ... with a decimal point whatever the locale
    bool number;         // a JSON number; otherwise a JSON string
    ControlRef control;  // the window's label (and element) that shows the value
    QString suffix;      // the window's suffix after the number, such as мч
};

using StatusRecord = std::vector<RecordValue>;

// Nothing unless `reply` is a whole status reply (133 bytes, CRC included).
std::optional<StatusRecord> statusRecord(std::span<const std::uint8_t> reply);

}  // namespace torvix::cli
