#pragma once
// What the window must show for a status block, worked out from the 64 registers with plain
// integer arithmetic, apart from the program's decoder. Decimal separator: the comma (ru_RU).

#include <QChar>
#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace torvix::e2e {

using Registers = std::array<std::uint16_t, 64>;

struct ExpectedCaption {
    QString name;
    int index;  // -1: not an element of a control array
    QString text;
};

struct ExpectedLamp {
    QString name;
    int index;
    bool lit;
    QColor colour;  // the background while lit
};

// A count of 10^-decimals units as the window writes it: trailing zeros of the fraction
// dropped, the fraction left out when nothing of it remains, then one space.
inline QString fixedPoint(std::int64_t units, int decimals) {
    std::int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    const std::int64_t magnitude = std::llabs(units);
    QString text = QString::number(magnitude / unit);
    if (decimals > 0) {
        QString fraction = QString::number(magnitude % unit).rightJustified(decimals, u'0');
        while (fraction.endsWith(u'0')) fraction.chop(1);
        if (!fraction.isEmpty()) text += QChar(u',') + fraction;
    }
    if (units < 0) text.prepend(u'-');
    return text + QChar(u' ');
}

// Minutes as whole hours, a half hour going to the even neighbour.
inline QString hours(std::int64_t minutes) {
    const std::int64_t magnitude = std::llabs(minutes);
    std::int64_t whole = magnitude / 60;
    const std::int64_t rest = magnitude % 60;
    if (rest > 30 || (rest == 30 && whole % 2 == 1)) ++whole;
    return fixedPoint(minutes < 0 ? -whole : whole, 0) + QStringLiteral("мч");
}

inline QString version(std::uint16_t reg) {
    const int high = reg >> 8;
    const int low = reg & 0xFF;
    return QString::number(high) + (low < 10 ? QStringLiteral(" .0") : QStringLiteral(" .")) +
           QString::number(low) + QChar(u' ');
}

inline QString hex(std::uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

inline std::uint32_t u32(const Registers& r, int n) {
    return (std::uint32_t{r[n]} << 16) | r[n + 1];
}
inline std::int32_t s32(const Registers& r, int n) {
    return static_cast<std::int32_t>(u32(r, n));
}
inline std::int16_t s16(const Registers& r, int n) {
    return static_cast<std::int16_t>(r[n]);
}

inline std::vector<ExpectedCaption> expectedCaptions(const Registers& r) {
    std::vector<ExpectedCaption> captions = {
        {"lbl_pr_ver", -1, version(r[0])},
        {"lbl_sw_ver", -1, version(r[1])},
        // volts in tenths, amperes in fifths, hertz in hundredths, powers in tenths of a kW
        {"lbl_netAU", -1, fixedPoint(r[2], 1)},
        {"lbl_secAU", -1, fixedPoint(r[3], 1)},
        {"lbl_phAU", -1, fixedPoint(r[4], 1)},
        {"lbl_phBU", -1, fixedPoint(r[5], 1)},
        {"lbl_phCU", -1, fixedPoint(r[6], 1)},
        {"lbl_phAI", -1, fixedPoint(2 * std::int64_t{r[7]}, 1)},
        {"lbl_phBI", -1, fixedPoint(2 * std::int64_t{r[8]}, 1)},
        {"lbl_phCI", -1, fixedPoint(2 * std::int64_t{r[9]}, 1)},
        {"lbl_ap", -1, fixedPoint(s32(r, 10), 1)},
        {"lbl_fp", -1, fixedPoint(u32(r, 12), 1)},
        {"lbl_rp", -1, fixedPoint(u32(r, 14), 1)},
        {"lbl_netfr", -1, fixedPoint(r[16], 2)},
        {"lbl_secfr", -1, fixedPoint(r[17], 2)},
        {"lbl_fr", -1, fixedPoint(r[18], 2)},
        {"lbl_acc", -1, fixedPoint(s16(r, 39), 1)},
        {"lbl_adc_b_d", -1, hex(r[40], 4)},
        {"lbl_intf", -1, QStringLiteral("INTF ") + hex(r[41], 4)},
        {"lbl_dbg", -1, QStringLiteral("EDS ") + hex(r[55], 4)},
        {"lbl_section", -1, fixedPoint(r[56] >> 8, 0)},
        {"lbl_priority", -1, fixedPoint(r[56] & 0xFF, 0)},
        {"lbl_service", -1, hours(s16(r, 61))},
        {"lbl_motomin", -1, hours(u32(r, 62))},
        {"lbl_faults", 9, hex(u32(r, 29), 8)},
        {"lbl_faults", 10, hex(u32(r, 35), 8)},
        {"lbl_faults", 11, hex(u32(r, 51), 8)},
    };
    for (int i = 0; i <= 8; ++i) captions.push_back({"lbl_faults", i, hex(r[42 + i], 4)});
    return captions;
}

inline std::vector<ExpectedLamp> expectedLamps(const Registers& r) {
    const QColor green(0, 255, 0), yellow(255, 255, 0), red(255, 0, 0);
    const std::array<QColor, 10> ledColours = {green,  green,  green, yellow, yellow,
                                               yellow, yellow, green, red,    yellow};
    std::vector<ExpectedLamp> lamps;
    for (int i = 0; i < 10; ++i)
        lamps.push_back({"lbl_led", i, ((r[58] >> i) & 1) != 0, ledColours[i]});
    for (int i = 0; i < 3; ++i) lamps.push_back({"lbl_relay", i, ((r[60] >> i) & 1) != 0, green});
    return lamps;
}

}  // namespace torvix::e2e
