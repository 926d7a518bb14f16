#include "control/window_sinks.h"

namespace torvix {

void DisplaySink::showStatus(const StatusTexts& texts) {
    using namespace status_block;
    for (std::size_t i = 0; i < std::size(kVersionFields); ++i)
        setCaption({kVersionFields[i].label}, texts.versions[i]);
    for (std::size_t i = 0; i < std::size(kScaledFields); ++i)
        setCaption({kScaledFields[i].label}, texts.scaled[i]);
    for (std::size_t i = 0; i < std::size(kHexFields); ++i)
        setCaption({kHexFields[i].label, kHexFields[i].index}, texts.words[i]);
    for (std::size_t i = 0; i < std::size(kLampRows); ++i) {
        for (int bit = 0; bit < kLampRows[i].count; ++bit)
            setLamp({kLampRows[i].label, bit}, (texts.lampBits[i] >> bit) & 1u);
    }
}

}  // namespace torvix
