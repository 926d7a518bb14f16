#include "decode/formatting.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace torvix {
namespace {

constexpr int kSignificantDigits = 15;

// Rounds in decimal, not binary: the product is first taken to the 15 significant digits a
// double holds, so 90 * (1/60), stored as 1.4999999999999998, is the tie 1.5 and goes to 2.
// Returns the magnitude as an integer count of 10^-decimals units.
std::uint64_t roundHalfEvenUnits(double magnitude, int decimals) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text - 1, magnitude,
                                   std::chars_format::scientific, kSignificantDigits - 1)
                         .ptr;
    *end = '\0';
    // text is "d.dddddddddddddde±XX"
    std::string digits;
    const char* p = text;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits.push_back(*p);
    const int exponent = std::atoi(p + 1);
    // Digits at or above the 10^-decimals place.
    const int kept = exponent + 1 + decimals;
    if (kept >= static_cast<int>(digits.size())) {
        std::uint64_t units = 0;
        for (char d : digits) units = units * 10 + static_cast<std::uint64_t>(d - '0');
        for (int i = static_cast<int>(digits.size()); i < kept; ++i) units *= 10;
        return units;
    }
    if (kept < 0) return 0;  // below half a unit
    std::uint64_t units = 0;
    for (int i = 0; i < kept; ++i) units = units * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    const std::string rest = digits.substr(static_cast<std::size_t>(kept));
    const int compare = rest[0] > '5'                                         ? 1
                        : rest[0] < '5'                                       ? -1
                        : rest.find_first_not_of('0', 1) != std::string::npos ? 1
                                                                              : 0;
    if (compare > 0 || (compare == 0 && units % 2 == 1)) ++units;
    return units;
}

}  // namespace

QString formatScaled(double value, int decimals, double scale, QStringView suffix,
                     const QLocale& locale) {
    const double product = value * scale;
    const std::uint64_t units = roundHalfEvenUnits(std::fabs(product), decimals);
    QString text = QString::number(units);
    if (decimals > 0) {
        if (text.size() <= decimals) text.prepend(QString(decimals - text.size() + 1, u'0'));
        QString fraction = text.right(decimals);
        text.chop(decimals);
        while (fraction.endsWith(u'0')) fraction.chop(1);
        if (!fraction.isEmpty()) text += locale.decimalPoint() + fraction;
    }
    if (units != 0 && product < 0) text.prepend(u'-');
    text += u' ';
    text += suffix;
    return text;
}

QString hexPadded(std::uint64_t value, int width) {
    QString digits = QString::number(value, 16).toUpper();
    if (digits.size() < width) digits.prepend(QString(width - digits.size(), u'0'));
    return digits;
}

QString versionText(int high, int low, const QLocale& locale) {
    return formatScaled(high, 0, 1, {}, locale) +
           (low < 10 ? QStringLiteral(".0") : QStringLiteral(".")) +
           formatScaled(low, 0, 1, {}, locale);
}

}  // namespace torvix
