#pragma once
// The line settings text "speed,parity,data,stop" (e.g. "115200,e,8,1") as QSerialPort values.

#include <QSerialPort>
#include <QStringView>
#include <optional>

namespace torvix {

struct LineSettings {
    // Far above any UART the controller is wired to; Linux takes custom rates below it.
    static constexpr qint32 kMaxBaudRate = 4'000'000;

    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Speed 1..kMaxBaudRate in decimal digits, parity n/e/o/m/s in either case, data bits 5..8,
    // stop bits 1, 1.5 or 2; blanks around a field are allowed, anything else is refused.
    static std::optional<LineSettings> parse(QStringView text);

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

}  // namespace torvix
