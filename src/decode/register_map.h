#pragma once
// Where each quantity of the controller's status block (input registers 300..363) is shown.

#include <string_view>

namespace torvix::status_block {

enum class ReadAs { U16, S16, U32, S32, HighByte, LowByte };

// The factors are products, not divisions by their reciprocal: the operator sees value * 0.1.
inline constexpr double kTenth = 1.0 / 10;
inline constexpr double kFifth = 2.0 / 10;
inline constexpr double kHundredth = 1.0 / 100;
inline constexpr double kMinutesToHours = 1.0 / 60;

struct ScaledField {
    std::string_view label;
    int reg;  // register number within the block, 0..63
    ReadAs readAs;
    double scale;
    int decimals;
    std::u16string_view suffix;  // what the window writes after the number
    std::u16string_view unit;    // what the number counts, for records and tables
};

// In the order the window is written.
inline constexpr ScaledField kScaledFields[] = {
    {"lbl_section", 56, ReadAs::HighByte, 1, 0, u"", u""},
    {"lbl_priority", 56, ReadAs::LowByte, 1, 0, u"", u""},
    {"lbl_phAU", 4, ReadAs::U16, kTenth, 1, u"", u"В"},
    {"lbl_phBU", 5, ReadAs::U16, kTenth, 1, u"", u"В"},
    {"lbl_phCU", 6, ReadAs::U16, kTenth, 1, u"", u"В"},
    {"lbl_phAI", 7, ReadAs::U16, kFifth, 1, u"", u"А"},
    {"lbl_phBI", 8, ReadAs::U16, kFifth, 1, u"", u"А"},
    {"lbl_phCI", 9, ReadAs::U16, kFifth, 1, u"", u"А"},
    {"lbl_fr", 18, ReadAs::U16, kHundredth, 2, u"", u"Гц"},
    {"lbl_netAU", 2, ReadAs::U16, kTenth, 1, u"", u"В"},
    {"lbl_netfr", 16, ReadAs::U16, kHundredth, 2, u"", u"Гц"},
    {"lbl_secAU", 3, ReadAs::U16, kTenth, 1, u"", u"В"},
    {"lbl_secfr", 17, ReadAs::U16, kHundredth, 2, u"", u"Гц"},
    {"lbl_ap", 10, ReadAs::S32, kTenth, 1, u"", u"кВт"},
    {"lbl_fp", 12, ReadAs::U32, kTenth, 1, u"", u"кВт"},
    {"lbl_rp", 14, ReadAs::U32, kTenth, 1, u"", u"кВт"},
    {"lbl_service", 61, ReadAs::S16, kMinutesToHours, 0, u"мч", u"ч"},
    {"lbl_motomin", 62, ReadAs::U32, kMinutesToHours, 0, u"мч", u"ч"},
    {"lbl_acc", 39, ReadAs::S16, kTenth, 1, u"", u"В"},
};

// Version registers: high byte major, low byte minor.
struct VersionField {
    std::string_view label;
    int reg;
};

inline constexpr VersionField kVersionFields[] = {{"lbl_pr_ver", 0}, {"lbl_sw_ver", 1}};

struct HexField {
    std::string_view label;
    int index;  // element of a control array, -1 for a plain control
    std::u16string_view prefix;
    int reg;
    int width;  // 4 digits: one register; 8 digits: two registers, high word first
};

inline constexpr HexField kHexFields[] = {
    {"lbl_dbg", -1, u"EDS ", 55, 4},
    {"lbl_intf", -1, u"INTF ", 41, 4},
    {"lbl_adc_b_d", -1, u"", 40, 4},
    // Fault grid: alarm, fault, internal fault columns of current, saved, last.
    {"lbl_faults", 0, u"", 42, 4},
    {"lbl_faults", 1, u"", 43, 4},
    {"lbl_faults", 2, u"", 44, 4},
    {"lbl_faults", 3, u"", 45, 4},
    {"lbl_faults", 4, u"", 46, 4},
    {"lbl_faults", 5, u"", 47, 4},
    {"lbl_faults", 6, u"", 48, 4},
    {"lbl_faults", 7, u"", 49, 4},
    {"lbl_faults", 8, u"", 50, 4},
    // Cascade column, last, saved, current.
    {"lbl_faults", 9, u"", 29, 8},
    {"lbl_faults", 10, u"", 35, 8},
    {"lbl_faults", 11, u"", 51, 8},
};

struct LampRow {
    std::string_view label;  // control array; element i shows bit i
    int reg;
    int count;
};

inline constexpr LampRow kLampRows[] = {{"lbl_led", 58, 10}, {"lbl_relay", 60, 3}};

}  // namespace torvix::status_block
