#pragma once
// The line settings of a serial port, and their text "speed,parity,data,stop" ("115200,e,8,1").

#include <QString>
#include <QStringView>
#include <cstddef>
#include <optional>

namespace torvix {

struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    // Far above any UART the controller is wired to; Linux takes custom rates below it.
    static constexpr qint32 kMaxBaudRate = 4'000'000;

    // What a port uses until it is told otherwise.
    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Speed 1..kMaxBaudRate in decimal digits, parity n/e/o/m/s in either case, data bits 5..8,
    // stop bits 1, 1.5 or 2; blanks around a field are allowed, anything else is refused.
    static std::optional<LineSettings> parse(QStringView text);
    // The text parse() reads back, lower-case parity, no blanks: "115200,e,8,1".
    QString toText() const;
    // Bits on the line per character: start, data, parity, stop.
    double bitsPerCharacter() const;
    // How long `characters` take on the line at this speed.
    double wireMicroseconds(std::size_t characters) const {
        return double(characters) * bitsPerCharacter() * 1e6 / baudRate;
    }
    // The silence a master keeps between a reply and its next request: 3.5 characters, and
    // a fixed 1.75 ms above 19200 baud, where 3.5 characters would ask too much of a UART.
    double interFrameMicroseconds() const {
        return baudRate > 19200 ? 1750 : wireMicroseconds(1) * 3.5;
    }

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

}  // namespace torvix
