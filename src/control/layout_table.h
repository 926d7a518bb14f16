#pragma once
// Every control of the main window: name, caption, place, looks. The window is built from it.

#include <array>
#include <string_view>

#include "control/window_sinks.h"
#include "decode/status_fields.h"
#include "protocol/defaults.h"

namespace torvix::layout {

inline constexpr std::u16string_view kWindowCaption =
    u"Torvix. Тест протокола  Modbus. Версия 2.14";

// Positions are in twips: 1440 make an inch, so 15 make a pixel at 96 dots per inch.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kClientWidth = 14310;
inline constexpr int kClientHeight = 6285;

inline constexpr std::string_view kMenuSettings = "mnu_settings";
inline constexpr std::u16string_view kMenuSettingsCaption = u"&Настройка порта";
// After it, the companion window's command, which the program adds.
inline constexpr std::string_view kMenuGraphs = "mnu_graphs";
inline constexpr std::u16string_view kMenuGraphsCaption = u"&Графики";
// After it, the bus scan's window, which the program adds too.
inline constexpr std::string_view kMenuScan = "mnu_scan";
inline constexpr std::u16string_view kMenuScanCaption = u"&Поиск контроллера";

inline constexpr std::string_view kPollTimer = "Timer1";
inline constexpr int kPollIntervalMs = defaults::kPollIntervalMs;

enum class Kind { Frame, Label, Lamp, Button, TextBox, ComboBox, Line };
enum class Align { Left, Centre, Right };

// Point sizes of the tables; 0 is the window's own font.
inline constexpr double kDefaultFont = 0;
inline constexpr double kPt12 = 12;
inline constexpr double kPt13_5 = 13.5;
inline constexpr double kPt9_75 = 9.75;

inline constexpr Rgb kLampGreen = 0x00FF00;
inline constexpr Rgb kLampYellow = 0xFFFF00;
inline constexpr Rgb kLampRed = 0xFF0000;

struct Twips {
    int left, top, width, height;
};

inline constexpr ControlRef kClientArea{""};

struct ControlEntry {
    ControlRef ref;
    Kind kind;
    std::u16string_view caption;
    ControlRef parent;
    Twips rect;
    double pointSize;
    Align align;
    bool border;
    Rgb lampColour;
    // For a value label, the caption that says what its value is (its accessible description);
    // for a button of a row, the row it switches.
    std::u16string_view description;
};

namespace detail {

constexpr ControlEntry frame(ControlRef ref, std::u16string_view caption, Twips rect, double pt) {
    return {ref, Kind::Frame, caption, kClientArea, rect, pt, Align::Left, false, 0, {}};
}
constexpr ControlEntry caption(ControlRef ref, std::u16string_view text, ControlRef parent,
                               Twips rect, double pt, Align align) {
    return {ref, Kind::Label, text, parent, rect, pt, align, false, 0, {}};
}
constexpr ControlEntry value(ControlRef ref, std::u16string_view text, ControlRef parent,
                             Twips rect, double pt, Align align, std::u16string_view describedAs) {
    return {ref, Kind::Label, text, parent, rect, pt, align, false, 0, describedAs};
}
constexpr ControlEntry lamp(ControlRef ref, std::u16string_view text, Twips rect, Rgb colour) {
    return {ref, Kind::Lamp, text, kClientArea, rect, kPt12, Align::Centre, true, colour, {}};
}
constexpr ControlEntry button(ControlRef ref, std::u16string_view text, Twips rect,
                              std::u16string_view row = {}) {
    return {ref, Kind::Button, text, kClientArea, rect, kPt12, Align::Centre, false, 0, row};
}

inline constexpr ControlRef kEa{"Frame2", 0};
inline constexpr ControlRef kSection{"Frame2", 1};
inline constexpr ControlRef kBuses{"Frame2", 2};
inline constexpr ControlRef kFaults{"Frame4"};

constexpr ControlEntry fault(int index, int left, int top, int width,
                             std::u16string_view describedAs) {
    return value({"lbl_faults", index}, u"-", kFaults, {left, top, width, 375}, kDefaultFont,
                 Align::Left, describedAs);
}

}  // namespace detail

using enum Align;
using detail::button, detail::caption, detail::fault, detail::frame, detail::lamp, detail::value;
using detail::kBuses, detail::kEa, detail::kFaults, detail::kSection;

// Parents come before their children.
inline constexpr ControlEntry kControls[] = {
    frame(kEa, u"ЭА", {3120, 120, 6255, 2415}, kPt13_5),
    frame(kSection, u"Секция", {9480, 120, 3015, 1575}, kPt13_5),
    frame(kBuses, u"Общие шины", {9480, 1800, 3015, 1575}, kPt13_5),
    frame(kFaults, u"Аварии и неисправности", {3720, 2640, 5655, 2415}, kPt9_75),

    // The generator set: phase table, frequency, powers. The A, B, C, I, P and U are Latin.
    caption({"lblc_phA", 0}, u"Фаза A", kEa, {1320, 360, 975, 375}, kPt12, Left),
    caption({"lblc_PhB", 0}, u"Фаза B", kEa, {2400, 360, 975, 375}, kPt12, Left),
    caption({"lblc_phC", 0}, u"Фаза C", kEa, {3480, 360, 975, 375}, kPt12, Left),
    caption({"lblc_U", 0}, u"U, В", kEa, {600, 840, 975, 375}, kPt12, Left),
    value({"lbl_phAU"}, u"-", kEa, {1200, 840, 1095, 375}, kPt12, Centre, u"Фаза A, U, В"),
    value({"lbl_phBU"}, u"-", kEa, {2280, 840, 975, 375}, kPt12, Centre, u"Фаза B, U, В"),
    value({"lbl_phCU"}, u"-", kEa, {3360, 840, 1095, 375}, kPt12, Centre, u"Фаза C, U, В"),
    caption({"lblc_U", 1}, u"I, А", kEa, {600, 1200, 855, 375}, kPt12, Left),
    value({"lbl_phAI"}, u"-", kEa, {1200, 1200, 1095, 375}, kPt12, Centre, u"Фаза A, I, А"),
    value({"lbl_phBI"}, u"-", kEa, {2280, 1200, 975, 375}, kPt12, Centre, u"Фаза B, I, А"),
    value({"lbl_phCI"}, u"-", kEa, {3360, 1200, 1095, 375}, kPt12, Centre, u"Фаза C, I, А"),
    caption({"lblc_fr", 0}, u"Частота, Гц", kEa, {4680, 480, 1695, 375}, kPt12, Left),
    value({"lbl_fr"}, u"-", kEa, {4680, 960, 1455, 375}, kPt12, Centre, u"ЭА, Частота, Гц"),
    caption({"lblc_ap"}, u"Pа, кВт", kEa, {120, 1680, 1335, 375}, kPt12, Centre),
    value({"lbl_ap"}, u"-", kEa, {240, 2040, 1095, 375}, kPt12, Centre, u"Pа, кВт"),
    caption({"lblc_fp"}, u"Pп, кВт", kEa, {1440, 1680, 1695, 375}, kPt12, Centre),
    value({"lbl_fp"}, u"-", kEa, {1680, 2040, 1095, 375}, kPt12, Centre, u"Pп, кВт"),
    caption({"lblc_rp"}, u"Pр, кВт", kEa, {3120, 1680, 1455, 375}, kPt12, Centre),
    value({"lbl_rp"}, u"-", kEa, {3120, 2040, 1215, 375}, kPt12, Centre, u"Pр, кВт"),

    caption({"lblc_phA", 1}, u"Напр., В", kSection, {240, 360, 975, 375}, kPt12, Left),
    value({"lbl_secAU"}, u"-", kSection, {120, 840, 1095, 375}, kPt12, Centre, u"Секция, Напр., В"),
    caption({"lblc_fr", 1}, u"Частота, Гц", kSection, {1440, 360, 1575, 375}, kPt12, Left),
    value({"lbl_secfr"}, u"-", kSection, {1560, 840, 1095, 375}, kPt12, Centre,
          u"Секция, Частота, Гц"),
    caption({"lblc_phA", 2}, u"Напр., В", kBuses, {240, 360, 1095, 375}, kPt12, Left),
    value({"lbl_netAU"}, u"-", kBuses, {120, 840, 1095, 375}, kPt12, Centre,
          u"Общие шины, Напр., В"),
    caption({"lblc_fr", 2}, u"Частота, Гц", kBuses, {1440, 360, 1575, 375}, kPt12, Left),
    value({"lbl_netfr"}, u"-", kBuses, {1560, 840, 1095, 375}, kPt12, Centre,
          u"Общие шины, Частота, Гц"),

    // Fault grid; the cascade column runs from the last row up.
    caption({"Label3"}, u"Авария     Неисправность    Внутр. неиспр.    Каскад", kFaults,
            {720, 360, 4455, 495}, kDefaultFont, Centre),
    caption({"Label4"}, u"Текущая", kFaults, {120, 840, 855, 375}, kDefaultFont, Left),
    caption({"Label5"}, u"Сохран.", kFaults, {120, 1320, 855, 375}, kDefaultFont, Left),
    caption({"Label6"}, u"Последняя", kFaults, {120, 1800, 855, 375}, kDefaultFont, Left),
    fault(0, 1200, 840, 615, u"Авария, Текущая"),
    fault(1, 1200, 1320, 615, u"Авария, Сохран."),
    fault(2, 1200, 1800, 615, u"Авария, Последняя"),
    fault(3, 2280, 840, 615, u"Неисправность, Текущая"),
    fault(4, 2280, 1320, 615, u"Неисправность, Сохран."),
    fault(5, 2280, 1800, 615, u"Неисправность, Последняя"),
    fault(6, 3360, 840, 615, u"Внутр. неиспр., Текущая"),
    fault(7, 3360, 1320, 615, u"Внутр. неиспр., Сохран."),
    fault(8, 3360, 1800, 615, u"Внутр. неиспр., Последняя"),
    fault(9, 4320, 1800, 855, u"Каскад, Последняя"),
    fault(10, 4320, 1320, 855, u"Каскад, Сохран."),
    fault(11, 4320, 840, 855, u"Каскад, Текущая"),

    caption({"lbls_ind"}, u"Индикаторы:", kClientArea, {240, 120, 1575, 255}, kPt9_75, Centre),
    lamp({"lbl_led", 0}, u"ДГУ", {240, 360, 1335, 375}, kLampGreen),
    lamp({"lbl_led", 1}, u"Секц.", {240, 720, 1335, 375}, kLampGreen),
    lamp({"lbl_led", 2}, u"Неотв.1", {240, 1080, 1335, 375}, kLampGreen),
    lamp({"lbl_led", 3}, u"Авт. зап.", {240, 1440, 1335, 375}, kLampYellow),
    lamp({"lbl_led", 4}, u"Пост", {240, 1800, 1335, 375}, kLampYellow),
    lamp({"lbl_led", 5}, u"ДГУ на ш", {1560, 360, 1335, 375}, kLampYellow),
    lamp({"lbl_led", 6}, u"Секц.вкл", {1560, 720, 1335, 375}, kLampYellow),
    lamp({"lbl_led", 7}, u"Неотв.2", {1560, 1080, 1335, 375}, kLampGreen),
    lamp({"lbl_led", 8}, u"Авария", {1560, 1440, 1335, 375}, kLampRed),
    lamp({"lbl_led", 9}, u"Звук.откл.", {1560, 1800, 1335, 375}, kLampYellow),
    caption({"lbls_relay"}, u"Реле:", kClientArea, {240, 2400, 975, 255}, kPt9_75, Centre),
    lamp({"lbl_relay", 0}, u"Старт", {240, 2760, 1455, 375}, kLampGreen),
    lamp({"lbl_relay", 1}, u"Стоп", {240, 3120, 1455, 375}, kLampGreen),
    lamp({"lbl_relay", 2}, u"Сирена", {240, 3480, 1455, 375}, kLampGreen),

    value({"lbl_dbg"}, u"Label1", kClientArea, {1920, 2640, 1575, 255}, kDefaultFont, Left,
          u"Диагностическое слово EDS"),
    value({"lbl_intf"}, u"Label1", kClientArea, {1920, 3000, 1575, 255}, kDefaultFont, Left,
          u"Диагностическое слово INTF"),
    value({"lbl_adc_b_d"}, u"adc_b_d", kClientArea, {1920, 3360, 1575, 255}, kDefaultFont, Left,
          u"Диагностическое слово АЦП"),
    caption({"lblc_section"}, u"Секция:", kClientArea, {240, 3960, 1335, 375}, kPt12, Right),
    value({"lbl_section"}, u"-", kClientArea, {1680, 3960, 735, 255}, kPt12, Centre, u"Секция:"),
    caption({"lblc_priority"}, u"Приоритет:", kClientArea, {240, 4320, 1335, 375}, kPt12, Right),
    value({"lbl_priority"}, u"-", kClientArea, {1680, 4320, 735, 255}, kPt12, Centre,
          u"Приоритет:"),
    caption({"lblc_acc"}, u"Аккумулятор, В", kClientArea, {240, 4800, 2055, 375}, kPt12, Centre),
    value({"lbl_acc"}, u"-", kClientArea, {2400, 4800, 1095, 375}, kPt12, Centre,
          u"Аккумулятор, В"),
    caption({"lblc_sw_ver"}, u"Версия ПО:", kClientArea, {9600, 3480, 1695, 255}, kPt9_75, Right),
    value({"lbl_sw_ver"}, u"-", kClientArea, {11400, 3480, 1095, 255}, kPt9_75, Left,
          u"Версия ПО:"),
    caption({"lblc_pr_ver"}, u"Версия протокола:", kClientArea, {9240, 3840, 2055, 255}, kPt9_75,
            Right),
    value({"lbl_pr_ver"}, u"-", kClientArea, {11400, 3840, 1095, 255}, kPt9_75, Left,
          u"Версия протокола:"),
    caption({"lblc_tr_id"}, u"Код транзакции:", kClientArea, {9480, 4320, 1695, 255}, kPt9_75,
            Right),
    value({"lbl_tr_id"}, u"-", kClientArea, {11280, 4320, 1095, 255}, kPt9_75, Left,
          u"Код транзакции:"),
    caption({"lblc_service"}, u"До сервисного обслуживания осталось:", kClientArea,
            {120, 5280, 4215, 255}, kPt9_75, Right),
    value({"lbl_service"}, u"-", kClientArea, {4560, 5280, 1335, 255}, kPt9_75, Centre,
          u"До сервисного обслуживания осталось:"),
    caption({"lblc_motomin"}, u"Общая наработка:", kClientArea, {6600, 5280, 2055, 255}, kPt9_75,
            Right),
    value({"lbl_motomin"}, u"-", kClientArea, {8880, 5280, 1335, 255}, kPt9_75, Centre,
          u"Общая наработка:"),
    {{"Line4"},
     Kind::Line,
     {},
     kClientArea,
     {240, 5640, 11760, 0},
     kDefaultFont,
     Left,
     false,
     0,
     {}},
    caption({"lblc_slad"}, u"Адрес устройства", kClientArea, {360, 5760, 2055, 255}, kPt9_75,
            Right),
    {{"cmb_slad"},
     Kind::ComboBox,
     {},
     kClientArea,
     {2640, 5760, 855, 315},
     kDefaultFont,
     Left,
     false,
     0,
     u"Адрес устройства"},
    {{"lbl_sys_mes"},
     Kind::Label,
     {},
     kClientArea,
     {3720, 5760, 7080, 315},
     kDefaultFont,
     Left,
     true,
     0,
     u"Состояние связи"},

    // Commands along the right edge.
    button({"cmd_mode", 0}, u"СТАРТ", {12840, 120, 1215, 495}),
    button({"cmd_mode", 1}, u"СТОП", {12840, 600, 1215, 495}),
    button({"cmd_mode", 2}, u"КВИТ", {12840, 1080, 1215, 495}),
    caption({"lbl_btn", 2}, u"Автозапуск", kClientArea, {12720, 1680, 1455, 375}, kPt12, Left),
    button({"cmd_mode", 10}, u"0", {12600, 2040, 375, 375}, u"Автозапуск"),
    button({"cmd_mode", 11}, u"1", {13080, 2040, 375, 375}, u"Автозапуск"),
    button({"cmd_mode", 5}, u"1/0", {13560, 2040, 615, 375}, u"Автозапуск"),
    caption({"lbl_btn", 0}, u"Нагрузка", kClientArea, {12840, 2520, 1215, 375}, kPt12, Left),
    button({"cmd_mode", 6}, u"0", {12600, 2880, 375, 375}, u"Нагрузка"),
    button({"cmd_mode", 7}, u"1", {13080, 2880, 375, 375}, u"Нагрузка"),
    button({"cmd_mode", 3}, u"1/0", {13560, 2880, 615, 375}, u"Нагрузка"),
    caption({"lbl_btn", 1}, u"Секция", kClientArea, {12960, 3360, 1215, 375}, kPt12, Left),
    button({"cmd_mode", 8}, u"0", {12600, 3720, 375, 375}, u"Секция"),
    button({"cmd_mode", 9}, u"1", {13080, 3720, 375, 375}, u"Секция"),
    button({"cmd_mode", 4}, u"1/0", {13560, 3720, 615, 375}, u"Секция"),
    {{"txt_prior_sec"},
     Kind::TextBox,
     u"0",
     kClientArea,
     {12840, 4440, 1215, 375},
     kPt12,
     Left,
     false,
     0,
     u"Номер для команд Приоритет, Секция, Соседняя Секция"},
    button({"cmd_mode_pr", 0}, u"Приоритет", {12600, 4800, 1575, 375}),
    button({"cmd_mode_pr", 1}, u"Секция", {12600, 5160, 1575, 375}),
    button({"cmd_mode_pr", 2}, u"Соседняя Секция", {12600, 5520, 1575, 615}),
};

inline constexpr ControlRef kTabOrder[] = {
    {"cmd_mode", 0},  {"cmd_mode", 1},   {"cmd_mode", 2},    {"cmb_slad"},       {"cmd_mode", 3},
    {"cmd_mode", 4},  {"txt_prior_sec"}, {"cmd_mode_pr", 0}, {"cmd_mode_pr", 1}, {"cmd_mode_pr", 2},
    {"cmd_mode", 6},  {"cmd_mode", 7},   {"cmd_mode", 8},    {"cmd_mode", 9},    {"cmd_mode", 10},
    {"cmd_mode", 11}, {"cmd_mode", 5},
};

inline constexpr ControlRef kInitialFocus{"cmd_mode", 0};

// The label that shows each field of the status block, in the order of the field table.
struct FieldLabel {
    status_block::Field field;
    ControlRef label;
};

inline constexpr std::array<FieldLabel, status_block::kFieldCount> kFieldLabels = [] {
    using enum status_block::Field;
    constexpr std::string_view kGrid = "lbl_faults";
    return std::array<FieldLabel, status_block::kFieldCount>{{
        {GenUA, {"lbl_phAU"}},
        {GenUB, {"lbl_phBU"}},
        {GenUC, {"lbl_phCU"}},
        {GenIA, {"lbl_phAI"}},
        {GenIB, {"lbl_phBI"}},
        {GenIC, {"lbl_phCI"}},
        {GenF, {"lbl_fr"}},
        {SectionU, {"lbl_secAU"}},
        {SectionF, {"lbl_secfr"}},
        {BusU, {"lbl_netAU"}},
        {BusF, {"lbl_netfr"}},
        {ActivePower, {"lbl_ap"}},
        {FullPower, {"lbl_fp"}},
        {ReactivePower, {"lbl_rp"}},
        {Battery, {"lbl_acc"}},
        {ServiceIn, {"lbl_service"}},
        {Running, {"lbl_motomin"}},
        {ProtocolVersion, {"lbl_pr_ver"}},
        {SoftwareVersion, {"lbl_sw_ver"}},
        {Section, {"lbl_section"}},
        {Priority, {"lbl_priority"}},
        {DiagEds, {"lbl_dbg"}},
        {DiagIntf, {"lbl_intf"}},
        {DiagAdc, {"lbl_adc_b_d"}},
        // The grid's labels run down each column; the cascade column's from the bottom up.
        {AlarmNow, {kGrid, 0}},
        {AlarmSaved, {kGrid, 1}},
        {AlarmLast, {kGrid, 2}},
        {FaultNow, {kGrid, 3}},
        {FaultSaved, {kGrid, 4}},
        {FaultLast, {kGrid, 5}},
        {InternalFaultNow, {kGrid, 6}},
        {InternalFaultSaved, {kGrid, 7}},
        {InternalFaultLast, {kGrid, 8}},
        {CascadeLast, {kGrid, 9}},
        {CascadeSaved, {kGrid, 10}},
        {CascadeNow, {kGrid, 11}},
    }};
}();

static_assert([] {
    for (std::size_t i = 0; i < status_block::kFieldCount; ++i)
        if (kFieldLabels[i].field != status_block::kFields[i].id) return false;
    return true;
}());

constexpr ControlRef labelOf(status_block::Field field) {
    return kFieldLabels[static_cast<std::size_t>(field)].label;
}

// The lamp arrays, element i lit by bit i, in the order of the lamp rows.
inline constexpr std::string_view kLampLabels[] = {"lbl_led", "lbl_relay"};
static_assert(std::size(kLampLabels) == status_block::kLampRowCount);

constexpr const ControlEntry* find(ControlRef ref) {
    for (const auto& entry : kControls)
        if (entry.ref == ref) return &entry;
    return nullptr;
}

}  // namespace torvix::layout
