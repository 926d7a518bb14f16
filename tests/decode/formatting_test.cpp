#include "decode/formatting.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "decode/status_fields.h"

namespace torvix {
namespace {

using status_block::kFifth;
using status_block::kHundredth;
using status_block::kMinutesToHours;
using status_block::kTenth;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kRussian(QLocale::Russian, QLocale::Russia);

QString en(double value, int decimals, double scale, QStringView suffix = {}) {
    return formatScaled(value, decimals, scale, suffix, kEnglish);
}

TEST(ReadRegisters, SixteenAndThirtyTwoBitForms) {
    const std::array<std::uint8_t, 4> a{0x12, 0x34, 0, 0};
    EXPECT_EQ(readU16(a, 0), 4660);
    const std::array<std::uint8_t, 4> ones{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(readS16(ones, 0), -1);
    EXPECT_EQ(readU32(ones, 0), 4294967295u);
    EXPECT_EQ(readS32(ones, 0), -1);
    const std::array<std::uint8_t, 4> minS16{0x80, 0x00, 0x7F, 0xFF};
    EXPECT_EQ(readS16(minS16, 0), -32768);
    EXPECT_EQ(readS16(minS16, 2), 32767);
    EXPECT_EQ(readS32(std::array<std::uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFE}, 0), -2);
    EXPECT_EQ(readS32(std::array<std::uint8_t, 4>{0x80, 0, 0, 0}, 0), -2147483647 - 1);
    EXPECT_EQ(readS32(std::array<std::uint8_t, 4>{0, 1, 0, 0}, 0), 65536);
    EXPECT_EQ(registerOffset(0), 3);
    EXPECT_EQ(registerOffset(63), 129);
}

struct ScaledCase {
    double value;
    int decimals;
    double scale;
    const char16_t* suffix;
    const char* expected;  // with the English separator
};

TEST(FormatScaled, RoundsTiesToEvenAndAlwaysAppendsTheSpace) {
    const ScaledCase cases[] = {
        {2305, 1, kTenth, u"", "230.5 "},
        {2300, 1, kTenth, u"", "230 "},
        {0, 1, kTenth, u"", "0 "},
        {1234, 1, kFifth, u"", "246.8 "},
        {5, 1, kFifth, u"", "1 "},
        {4999, 2, kHundredth, u"", "49.99 "},
        {5000, 2, kHundredth, u"", "50 "},
        {12345, 2, kHundredth, u"", "123.45 "},
        {90, 0, kMinutesToHours, u"мч", "2 мч"},
        {150, 0, kMinutesToHours, u"мч", "2 мч"},
        {210, 0, kMinutesToHours, u"мч", "4 мч"},
        {-95, 0, kMinutesToHours, u"мч", "-2 мч"},
        {59999, 0, kMinutesToHours, u"мч", "1000 мч"},
        {7, 0, 1, u"", "7 "},
        {0.25, 1, 1, u"", "0.2 "},
        {0.35, 1, 1, u"", "0.4 "},
        {1.5, 0, 1, u"", "2 "},
        {2.5, 0, 1, u"", "2 "},
        {3.5, 0, 1, u"", "4 "},
        {-0.4, 0, 1, u"", "0 "},  // no "-0"
        {-1000, 1, kTenth, u"", "-100 "},
        {-100, 1, kTenth, u"", "-10 "},
        {2147483648.0, 1, kTenth, u"", "214748364.8 "},
        {4294967295.0, 0, kMinutesToHours, u"мч", "71582788 мч"},
        {-2147483648.0, 1, kTenth, u"", "-214748364.8 "},
        {65535, 2, kHundredth, u"", "655.35 "},
        {1, 2, kHundredth, u"", "0.01 "},
        {-200, 1, kTenth, u"", "-20 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(en(c.value, c.decimals, c.scale, QStringView(c.suffix)),
                  QString::fromUtf8(c.expected));
    }
}

TEST(FormatScaled, UsesTheDecimalSeparatorOfTheLocale) {
    EXPECT_EQ(formatScaled(2305, 1, kTenth, {}, kRussian), QStringLiteral("230,5 "));
    EXPECT_EQ(formatScaled(2305, 1, kTenth, {}, kEnglish), QStringLiteral("230.5 "));
    EXPECT_EQ(formatScaled(-12345, 2, kHundredth, {}, kRussian), QStringLiteral("-123,45 "));
    // No thousands grouping, whatever the locale does by default.
    EXPECT_EQ(formatScaled(123456789, 0, 1, {}, kRussian), QStringLiteral("123456789 "));
}

TEST(HexPadded, PadsToWidthAndNeverCuts) {
    EXPECT_EQ(hexPadded(165, 4), QStringLiteral("00A5"));
    EXPECT_EQ(hexPadded(0, 4), QStringLiteral("0000"));
    EXPECT_EQ(hexPadded(65535, 4), QStringLiteral("FFFF"));
    EXPECT_EQ(hexPadded(31, 8), QStringLiteral("0000001F"));
    EXPECT_EQ(hexPadded(4294967295u, 8), QStringLiteral("FFFFFFFF"));
    EXPECT_EQ(hexPadded(0x12345, 4), QStringLiteral("12345"));
    EXPECT_EQ(hexPadded(0, 0), QStringLiteral("0"));
    EXPECT_EQ(hexPadded(10, 1), QStringLiteral("A"));
}

TEST(VersionText, KeepsTheSpacesOfTheScaledParts) {
    EXPECT_EQ(versionText(2, 5, kRussian), QStringLiteral("2 .05 "));
    EXPECT_EQ(versionText(2, 14, kRussian), QStringLiteral("2 .14 "));
    EXPECT_EQ(versionText(1, 0, kRussian), QStringLiteral("1 .00 "));
    EXPECT_EQ(versionText(3, 9, kRussian), QStringLiteral("3 .09 "));
    EXPECT_EQ(versionText(3, 10, kRussian), QStringLiteral("3 .10 "));
    EXPECT_EQ(versionText(0, 0, kRussian), QStringLiteral("0 .00 "));
    EXPECT_EQ(versionText(255, 255, kRussian), QStringLiteral("255 .255 "));
}

}  // namespace
}  // namespace torvix
