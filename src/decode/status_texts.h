#pragma once
// The window's texts for one status snapshot, in the order of the register map's tables.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <iterator>

#include "decode/register_map.h"
#include "decode/status_snapshot.h"

namespace torvix {

struct StatusTexts {
    std::array<QString, std::size(status_block::kVersionFields)> versions;
    std::array<QString, std::size(status_block::kScaledFields)> scaled;
    std::array<QString, std::size(status_block::kHexFields)> words;
    // Bit i lights lamp i of the row.
    std::array<std::uint16_t, std::size(status_block::kLampRows)> lampBits{};
};

StatusTexts statusTexts(const StatusSnapshot& snapshot, const QLocale& locale);

}  // namespace torvix
