#pragma once
// Reading register values out of a reply and turning them into the texts the window shows.

#include <QLocale>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <span>

namespace torvix {

// Buffer index of the high byte of register n of a read reply (address, function, count first).
constexpr int registerOffset(int n) {
    return 2 * n + 3;
}

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint16_t readU16(Bytes rx, int k) {
    return static_cast<std::uint16_t>(rx[k] * 256 + rx[k + 1]);
}
constexpr std::int16_t readS16(Bytes rx, int k) {
    return static_cast<std::int16_t>(readU16(rx, k));
}
constexpr std::uint32_t readU32(Bytes rx, int k) {
    return (std::uint32_t{rx[k]} << 24) | (std::uint32_t{rx[k + 1]} << 16) |
           (std::uint32_t{rx[k + 2]} << 8) | std::uint32_t{rx[k + 3]};
}
constexpr std::int32_t readS32(Bytes rx, int k) {
    return static_cast<std::int32_t>(readU32(rx, k));
}

// value * scale, rounded to `decimals` places with ties to even, in general form with the
// locale's decimal separator, then one space and the suffix: 2305, 1, 0.1 gives "230,5 " (ru).
QString formatScaled(double value, int decimals, double scale, QStringView suffix,
                     const QLocale& locale);

// Upper-case hexadecimal, zero-padded to `width` digits; a longer value is not cut.
QString hexPadded(std::uint64_t value, int width);

// A version register: high 2, low 5 gives "2 .05 "; the spaces come from formatScaled.
QString versionText(int high, int low, const QLocale& locale);

}  // namespace torvix
