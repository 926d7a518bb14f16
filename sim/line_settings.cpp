#include "sim/line_settings.h"

#include <algorithm>
#include <cmath>

namespace torvix::sim {

std::chrono::milliseconds silentInterval(const LineSettings& settings) {
    const double stopBits = settings.stopBits == QSerialPort::TwoStop          ? 2
                            : settings.stopBits == QSerialPort::OneAndHalfStop ? 1.5
                                                                               : 1;
    const double bits =
        1 + settings.dataBits + (settings.parity == QSerialPort::NoParity ? 0 : 1) + stopBits;
    const double ms = 3.5 * bits * 1000.0 / settings.baudRate;
    return std::chrono::milliseconds(std::max(2L, static_cast<long>(std::ceil(ms))));
}

LineSettings defaultLineSettings() {
    return *LineSettings::parse(u"115200,e,8,1");
}

}  // namespace torvix::sim
