#include "decode/formatting.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace torvix {
namespace {

constexpr int kSignificantDigits = 15;

// Rounds in decimal, not binary: the product is first taken to the 15 significant digits a
// double holds, so 90 * (1/60), stored as 1.4999999999999998, is the tie 1.5 and goes to 2.
// Returns the magnitude as an integer count of 10^-decimals units.
std::uint64_t roundHalfEvenUnits(double magnitude, int decimals) {
    // Away from a tie the nearest unit is plain to see, and the digits are not needed: the
    // error of the product is far below the margin kept, for every value of the status block.
    constexpr double kExactBelow = 1e9;
    constexpr double kTieMargin = 1e-6;
    if (decimals >= 0 && decimals <= 6) {
        constexpr double kPowers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
        const double units = magnitude * kPowers[decimals];
        if (units < kExactBelow) {
            const double whole = std::floor(units);
            const double fraction = units - whole;
            if (std::fabs(fraction - 0.5) > kTieMargin)
                return static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        }
    }
    char text[40];
    const char* const end = std::to_chars(text, text + sizeof text, magnitude,
                                          std::chars_format::scientific, kSignificantDigits - 1)
                                .ptr;
    // text is "d.dddddddddddddde±XX": the digits without the point, then the exponent.
    char digits[kSignificantDigits];
    int count = 0;
    const char* p = text;
    for (; p != end && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9' && count < kSignificantDigits) digits[count++] = *p;
    int exponent = 0;
    if (p != end) std::from_chars(p[1] == '+' ? p + 2 : p + 1, end, exponent);
    // Digits at or above the 10^-decimals place.
    const int kept = exponent + 1 + decimals;
    std::uint64_t units = 0;
    if (kept >= count) {
        for (int i = 0; i < count; ++i)
            units = units * 10 + static_cast<std::uint64_t>(digits[i] - '0');
        for (int i = count; i < kept; ++i) units *= 10;
        return units;
    }
    if (kept < 0) return 0;  // below half a unit
    for (int i = 0; i < kept; ++i) units = units * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    int compare = digits[kept] > '5' ? 1 : digits[kept] < '5' ? -1 : 0;
    for (int i = kept + 1; compare == 0 && i < count; ++i)
        if (digits[i] != '0') compare = 1;
    if (compare > 0 || (compare == 0 && units % 2 == 1)) ++units;
    return units;
}

}  // namespace

QString formatScaled(double value, int decimals, double scale, QStringView suffix,
                     const QLocale& locale) {
    const double product = value * scale;
    const std::uint64_t units = roundHalfEvenUnits(std::fabs(product), decimals);
    // The units' digits, with leading zeros so that a whole part stands before the fraction.
    constexpr int kMaxPlaces = 20;
    char digits[2 * kMaxPlaces + 4];
    const int places = std::clamp(decimals, 0, kMaxPlaces);
    char* start = digits + kMaxPlaces + 1;
    int length = static_cast<int>(std::to_chars(start, std::end(digits), units).ptr - start);
    while (length <= places) {
        *--start = '0';
        ++length;
    }
    const int whole = length - places;
    int fraction = places;
    while (fraction > 0 && start[whole + fraction - 1] == '0') --fraction;

    QString text;
    text.reserve(length + 3 + suffix.size());
    if (units != 0 && product < 0) text += u'-';
    text += QLatin1StringView(start, whole);
    if (fraction > 0) {
        text += locale.decimalPoint();
        text += QLatin1StringView(start + whole, fraction);
    }
    text += u' ';
    text += suffix;
    return text;
}

QString hexPadded(std::uint64_t value, int width) {
    char digits[16];
    const int count = static_cast<int>(
        std::to_chars(std::begin(digits), std::end(digits), value, 16).ptr - digits);
    QString text(std::max(count, width), u'0');
    for (int i = 0; i < count; ++i) {
        const char digit = digits[i];
        text[text.size() - count + i] =
            QLatin1Char(digit >= 'a' ? static_cast<char>(digit - 'a' + 'A') : digit);
    }
    return text;
}

QString versionText(int high, int low, const QLocale& locale) {
    return formatScaled(high, 0, 1, {}, locale) +
           (low < 10 ? QStringLiteral(".0") : QStringLiteral(".")) +
           formatScaled(low, 0, 1, {}, locale);
}

}  // namespace torvix
