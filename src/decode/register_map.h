#pragma once
// Where each quantity of the controller's status block (input registers 300..363) is shown.

#include <span>
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
    std::string_view key;        // the record's name for it
    int column;                  // its place among the record's numbers and versions
};

// In the order the window is written.
inline constexpr ScaledField kScaledFields[] = {
    {"lbl_section", 56, ReadAs::HighByte, 1, 0, u"", u"", "section", 19},
    {"lbl_priority", 56, ReadAs::LowByte, 1, 0, u"", u"", "priority", 20},
    {"lbl_phAU", 4, ReadAs::U16, kTenth, 1, u"", u"В", "gen_u_a_v", 0},
    {"lbl_phBU", 5, ReadAs::U16, kTenth, 1, u"", u"В", "gen_u_b_v", 1},
    {"lbl_phCU", 6, ReadAs::U16, kTenth, 1, u"", u"В", "gen_u_c_v", 2},
    {"lbl_phAI", 7, ReadAs::U16, kFifth, 1, u"", u"А", "gen_i_a_a", 3},
    {"lbl_phBI", 8, ReadAs::U16, kFifth, 1, u"", u"А", "gen_i_b_a", 4},
    {"lbl_phCI", 9, ReadAs::U16, kFifth, 1, u"", u"А", "gen_i_c_a", 5},
    {"lbl_fr", 18, ReadAs::U16, kHundredth, 2, u"", u"Гц", "gen_f_hz", 6},
    {"lbl_netAU", 2, ReadAs::U16, kTenth, 1, u"", u"В", "bus_u_v", 9},
    {"lbl_netfr", 16, ReadAs::U16, kHundredth, 2, u"", u"Гц", "bus_f_hz", 10},
    {"lbl_secAU", 3, ReadAs::U16, kTenth, 1, u"", u"В", "section_u_v", 7},
    {"lbl_secfr", 17, ReadAs::U16, kHundredth, 2, u"", u"Гц", "section_f_hz", 8},
    {"lbl_ap", 10, ReadAs::S32, kTenth, 1, u"", u"кВт", "active_power_kw", 11},
    {"lbl_fp", 12, ReadAs::U32, kTenth, 1, u"", u"кВт", "full_power_kw", 12},
    {"lbl_rp", 14, ReadAs::U32, kTenth, 1, u"", u"кВт", "reactive_power_kw", 13},
    {"lbl_service", 61, ReadAs::S16, kMinutesToHours, 0, u"мч", u"ч", "service_in_h", 15},
    {"lbl_motomin", 62, ReadAs::U32, kMinutesToHours, 0, u"мч", u"ч", "running_h", 16},
    {"lbl_acc", 39, ReadAs::S16, kTenth, 1, u"", u"В", "battery_v", 14},
};

// Version registers: high byte major, low byte minor.
struct VersionField {
    std::string_view label;
    int reg;
    std::string_view key;
    int column;  // among the scaled fields' columns
};

inline constexpr VersionField kVersionFields[] = {{"lbl_pr_ver", 0, "protocol_version", 17},
                                                  {"lbl_sw_ver", 1, "software_version", 18}};

struct HexField {
    std::string_view label;
    int index;  // element of a control array, -1 for a plain control
    std::u16string_view prefix;
    int reg;
    int width;  // 4 digits: one register; 8 digits: two registers, high word first
    std::string_view key;
};

inline constexpr HexField kHexFields[] = {
    {"lbl_dbg", -1, u"EDS ", 55, 4, "diag_word_eds"},
    {"lbl_intf", -1, u"INTF ", 41, 4, "diag_word_intf"},
    {"lbl_adc_b_d", -1, u"", 40, 4, "diag_word_adc"},
    // Fault grid: alarm, fault, internal fault columns of current, saved, last.
    {"lbl_faults", 0, u"", 42, 4, "alarm_word_now"},
    {"lbl_faults", 1, u"", 43, 4, "alarm_word_saved"},
    {"lbl_faults", 2, u"", 44, 4, "alarm_word_last"},
    {"lbl_faults", 3, u"", 45, 4, "fault_word_now"},
    {"lbl_faults", 4, u"", 46, 4, "fault_word_saved"},
    {"lbl_faults", 5, u"", 47, 4, "fault_word_last"},
    {"lbl_faults", 6, u"", 48, 4, "internal_fault_word_now"},
    {"lbl_faults", 7, u"", 49, 4, "internal_fault_word_saved"},
    {"lbl_faults", 8, u"", 50, 4, "internal_fault_word_last"},
    // Cascade column, last, saved, current.
    {"lbl_faults", 9, u"", 29, 8, "cascade_word_last"},
    {"lbl_faults", 10, u"", 35, 8, "cascade_word_saved"},
    {"lbl_faults", 11, u"", 51, 8, "cascade_word_now"},
};

inline constexpr std::string_view kLampKeys[] = {
    "lamp_genset", "lamp_section",       "lamp_non_essential_1", "lamp_autostart",
    "lamp_local",  "lamp_genset_on_bus", "lamp_section_on",      "lamp_non_essential_2",
    "lamp_alarm",  "lamp_sound_off"};
inline constexpr std::string_view kRelayKeys[] = {"relay_start", "relay_stop", "relay_siren"};

struct LampRow {
    std::string_view label;  // control array; element i shows bit i
    int reg;
    int count;
    std::span<const std::string_view> keys;  // the record's name of each lamp
};

inline constexpr LampRow kLampRows[] = {{"lbl_led", 58, 10, kLampKeys},
                                        {"lbl_relay", 60, 3, kRelayKeys}};

}  // namespace torvix::status_block
