#include "sim/serial_device_line.h"

namespace torvix::sim {
namespace {

QSerialPort::Parity parityOf(char p) {
    switch (p) {
        case 'e':
            return QSerialPort::EvenParity;
        case 'o':
            return QSerialPort::OddParity;
        case 'm':
            return QSerialPort::MarkParity;
        case 's':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits stopBitsOf(double s) {
    if (s > 1.75) return QSerialPort::TwoStop;
    if (s > 1.25) return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}

}  // namespace

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
    const bool ok = port_.setBaudRate(settings_.baud) &&
                    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
                    port_.setParity(parityOf(settings_.parity)) &&
                    port_.setStopBits(stopBitsOf(settings_.stopBits)) &&
                    port_.setFlowControl(QSerialPort::NoFlowControl);
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
