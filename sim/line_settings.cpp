#include "sim/line_settings.h"

#include <algorithm>
#include <cmath>

#include "protocol/defaults.h"

namespace torvix::sim {

std::chrono::milliseconds silentInterval(const LineSettings& settings) {
    const double ms = 3.5 * settings.bitsPerCharacter() * 1000.0 / settings.baudRate;
    return std::chrono::milliseconds(std::max(2L, static_cast<long>(std::ceil(ms))));
}

LineSettings defaultLineSettings() {
    return *LineSettings::parse(QString::fromLatin1(defaults::kLineSettings));
}

}  // namespace torvix::sim
