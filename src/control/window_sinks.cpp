#include "control/window_sinks.h"

#include "control/layout_table.h"

namespace torvix {

void DisplaySink::showStatus(const StatusTexts& texts) {
    for (std::size_t i = 0; i < status_block::kFieldCount; ++i)
        setCaption(layout::kFieldLabels[i].label, texts.fields[i]);
    for (std::size_t row = 0; row < status_block::kLampRowCount; ++row) {
        for (std::size_t bit = 0; bit < status_block::kLampRows[row].lamps.size(); ++bit)
            setLamp({layout::kLampLabels[row], static_cast<int>(bit)},
                    (texts.lampBits[row] >> bit) & 1u);
    }
}

}  // namespace torvix
