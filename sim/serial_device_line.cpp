#include "sim/serial_device_line.h"

#include "link/qt_serial_port.h"

namespace torvix::sim {

SerialDeviceLine::SerialDeviceLine(QString path, LineSettings settings, QObject* parent)
    : Line(parent), path_(std::move(path)), settings_(settings) {
    connect(&port_, &QSerialPort::readyRead, this, [this] { emit received(port_.readAll()); });
}

bool SerialDeviceLine::open(QString& error) {
    port_.setPortName(path_);
    if (!port_.open(QIODevice::ReadWrite)) {
        error = QStringLiteral("%1: %2").arg(path_, port_.errorString());
        return false;
    }
    const bool ok =
        applyLineSettings(port_, settings_) && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        error = QStringLiteral("%1: %2").arg(path_, port_.errorString());
        port_.close();
        return false;
    }
    return true;
}

void SerialDeviceLine::write(const QByteArray& bytes) {
    // A peer that never reads must not make the write buffer grow without end.
    if (port_.isOpen() && port_.bytesToWrite() < 4096) port_.write(bytes);
}

}  // namespace torvix::sim
