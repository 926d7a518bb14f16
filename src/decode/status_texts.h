#pragma once
// The window's texts for one status snapshot, a text for each field of the table.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>

#include "decode/status_fields.h"
#include "decode/status_snapshot.h"

namespace torvix {

struct StatusTexts {
    std::array<QString, status_block::kFieldCount> fields;  // by the field's place in kFields
    // Bit i lights lamp i of the row.
    std::array<std::uint16_t, status_block::kLampRowCount> lampBits{};

    const QString& of(status_block::Field field) const {
        return fields[static_cast<std::size_t>(field)];
    }
};

StatusTexts statusTexts(const StatusSnapshot& snapshot, const QLocale& locale);

// One field as the window writes it: "230,5 " (ru), "EDS 0012", "2 .05 ".
QString fieldText(const StatusSnapshot& snapshot, status_block::Field field, const QLocale& locale);

}  // namespace torvix
