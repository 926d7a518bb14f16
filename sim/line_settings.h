#pragma once
// Line settings in the "115200,e,8,1" form: baud rate, parity, data bits, stop bits.

#include <QString>
#include <chrono>
#include <optional>

namespace torvix::sim {

struct LineSettings {
    int baud = 115200;
    char parity = 'e';  // n, e, o, m or s
    int dataBits = 8;
    double stopBits = 1;  // 1, 1.5 or 2

    static std::optional<LineSettings> parse(const QString& text);
    // The RTU silent interval that ends a frame: 3.5 character times, at least 2 ms since a
    // pseudo-terminal and the desktop scheduler blur finer gaps.
    std::chrono::milliseconds silentInterval() const;
};

}  // namespace torvix::sim
