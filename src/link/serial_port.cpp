#include "link/serial_port.h"

namespace torvix {

PortStatus setLineSettingsText(SerialPort& port, QStringView text) {
    const auto settings = LineSettings::parse(text);
    if (!settings) return PortError{PortErrorCode::InvalidSettings, text.toString()};
    return port.setLineSettings(*settings);
}

}  // namespace torvix
