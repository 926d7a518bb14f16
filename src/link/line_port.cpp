#include "link/line_port.h"

namespace torvix {

LinePort::LinePort(PortResolver resolver, QObject* parent)
    : QObject(parent), resolver_(resolver), device_(resolver), tcp_(resolver) {
#if !(defined(Q_OS_WIN) || defined(_WIN32))
    connect(&device_, &QtSerialPort::bytesArrived, this, &LinePort::bytesArrived);
#endif
    connect(&tcp_, &TcpPort::bytesArrived, this, &LinePort::bytesArrived);
}

void LinePort::setPortOverrides(std::map<int, QString> overrides) {
    resolver_.setOverrides(overrides);
    device_.setPortOverrides(overrides);
    tcp_.setPortOverrides(std::move(overrides));
}

PortStatus LinePort::setPortNumber(int number) {
    // Open: the same number is accepted, another refused, as by either port alone.
    if (active_->isPortOpen()) return active_->setPortNumber(number);
    DevicePort* wanted = resolver_.namesTcpAddress(number) ? static_cast<DevicePort*>(&tcp_)
                                                           : static_cast<DevicePort*>(&device_);
    if (wanted == active_) return active_->setPortNumber(number);
    // Another number ends the reopening of the port left behind, as within one port.
    (void)active_->setPortOpen(false);
    const PortStatus status = wanted->setPortNumber(number);
    if (status.ok()) active_ = wanted;
    return status;
}

PortStatus LinePort::setLineSettings(const LineSettings& settings) {
    const PortStatus status = active_->setLineSettings(settings);
    if (!status.ok()) return status;
    DevicePort& other = isTcp() ? static_cast<DevicePort&>(device_) : tcp_;
    (void)other.setLineSettings(settings);  // closed: only kept for when it is used
    return status;
}

PortStatus LinePort::setPortOpen(bool open) {
    return active_->setPortOpen(open);
}

}  // namespace torvix
