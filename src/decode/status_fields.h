#pragma once
// The fields of the controller's status block (input registers 300..363): where each stands,
// how it is read and scaled, and what records and tables call it. Whoever shows a value asks
// here by the field's identity; the window's labels are mapped to fields in its own layout.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace torvix::status_block {

// In the table's order: the measurements, section, priority and versions in record order,
// then the diagnostic and fault words.
enum class Field : std::uint8_t {
    GenUA,
    GenUB,
    GenUC,
    GenIA,
    GenIB,
    GenIC,
    GenF,
    SectionU,
    SectionF,
    BusU,
    BusF,
    ActivePower,
    FullPower,
    ReactivePower,
    Battery,
    ServiceIn,
    Running,
    ProtocolVersion,
    SoftwareVersion,
    Section,
    Priority,
    DiagEds,
    DiagIntf,
    DiagAdc,
    AlarmNow,
    AlarmSaved,
    AlarmLast,
    FaultNow,
    FaultSaved,
    FaultLast,
    InternalFaultNow,
    InternalFaultSaved,
    InternalFaultLast,
    CascadeLast,
    CascadeSaved,
    CascadeNow,
};

enum class Reading : std::uint8_t {
    U16,
    S16,
    U32,  // two registers, high word first
    S32,
    HighByte,
    LowByte,
    Version,  // high byte major, low byte minor: "2.05"
    Word16,   // a bit-coded word, as four hexadecimal digits
    Word32,   // two registers, high word first, as eight hexadecimal digits
};

constexpr bool isWord(Reading reading) {
    return reading == Reading::Word16 || reading == Reading::Word32;
}
constexpr bool isNumber(Reading reading) {
    return reading != Reading::Version && !isWord(reading);
}

// The factors are products, not divisions by their reciprocal: the operator sees value * 0.1.
inline constexpr double kTenth = 1.0 / 10;
inline constexpr double kFifth = 2.0 / 10;
inline constexpr double kHundredth = 1.0 / 100;
inline constexpr double kMinutesToHours = 1.0 / 60;

struct FieldInfo {
    Field id;
    int reg;  // register number within the block, 0..63
    Reading reading;
    double scale;
    int decimals;
    std::u16string_view prefix;   // what the window writes before a word ("EDS ")
    std::u16string_view suffix;   // what the window writes after the number ("мч")
    std::u16string_view unit;     // what the number counts, for records, tables and trends
    std::string_view key;         // the record's name for it
    std::u16string_view caption;  // what a table calls it
};

namespace detail {
constexpr FieldInfo number(Field id, int reg, Reading reading, double scale, int decimals,
                           std::u16string_view unit, std::string_view key,
                           std::u16string_view caption, std::u16string_view suffix = {}) {
    return {id, reg, reading, scale, decimals, {}, suffix, unit, key, caption};
}
constexpr FieldInfo version(Field id, int reg, std::string_view key, std::u16string_view caption) {
    return {id, reg, Reading::Version, 1, 0, {}, {}, {}, key, caption};
}
constexpr FieldInfo word(Field id, int reg, Reading reading, std::string_view key,
                         std::u16string_view caption, std::u16string_view prefix = {}) {
    return {id, reg, reading, 1, 0, prefix, {}, {}, key, caption};
}
}  // namespace detail

inline constexpr std::array<FieldInfo, 36> kFields = [] {
    using enum Field;
    using enum Reading;
    using detail::number, detail::version, detail::word;
    return std::array<FieldInfo, 36>{{
        number(GenUA, 4, U16, kTenth, 1, u"В", "gen_u_a_v", u"Фаза A, U, В"),
        number(GenUB, 5, U16, kTenth, 1, u"В", "gen_u_b_v", u"Фаза B, U, В"),
        number(GenUC, 6, U16, kTenth, 1, u"В", "gen_u_c_v", u"Фаза C, U, В"),
        number(GenIA, 7, U16, kFifth, 1, u"А", "gen_i_a_a", u"Фаза A, I, А"),
        number(GenIB, 8, U16, kFifth, 1, u"А", "gen_i_b_a", u"Фаза B, I, А"),
        number(GenIC, 9, U16, kFifth, 1, u"А", "gen_i_c_a", u"Фаза C, I, А"),
        number(GenF, 18, U16, kHundredth, 2, u"Гц", "gen_f_hz", u"ЭА, Частота, Гц"),
        number(SectionU, 3, U16, kTenth, 1, u"В", "section_u_v", u"Секция, Напр., В"),
        number(SectionF, 17, U16, kHundredth, 2, u"Гц", "section_f_hz", u"Секция, Частота, Гц"),
        number(BusU, 2, U16, kTenth, 1, u"В", "bus_u_v", u"Общие шины, Напр., В"),
        number(BusF, 16, U16, kHundredth, 2, u"Гц", "bus_f_hz", u"Общие шины, Частота, Гц"),
        number(ActivePower, 10, S32, kTenth, 1, u"кВт", "active_power_kw", u"Pа, кВт"),
        number(FullPower, 12, U32, kTenth, 1, u"кВт", "full_power_kw", u"Pп, кВт"),
        number(ReactivePower, 14, U32, kTenth, 1, u"кВт", "reactive_power_kw", u"Pр, кВт"),
        number(Battery, 39, S16, kTenth, 1, u"В", "battery_v", u"Аккумулятор, В"),
        number(ServiceIn, 61, S16, kMinutesToHours, 0, u"ч", "service_in_h",
               u"До сервисного обслуживания осталось", u"мч"),
        number(Running, 62, U32, kMinutesToHours, 0, u"ч", "running_h", u"Общая наработка", u"мч"),
        version(ProtocolVersion, 0, "protocol_version", u"Версия протокола"),
        version(SoftwareVersion, 1, "software_version", u"Версия ПО"),
        number(Section, 56, HighByte, 1, 0, {}, "section", u"Секция"),
        number(Priority, 56, LowByte, 1, 0, {}, "priority", u"Приоритет"),
        word(DiagEds, 55, Word16, "diag_word_eds", u"Диагностическое слово EDS", u"EDS "),
        word(DiagIntf, 41, Word16, "diag_word_intf", u"Диагностическое слово INTF", u"INTF "),
        word(DiagAdc, 40, Word16, "diag_word_adc", u"Диагностическое слово АЦП"),
        word(AlarmNow, 42, Word16, "alarm_word_now", u"Авария, Текущая"),
        word(AlarmSaved, 43, Word16, "alarm_word_saved", u"Авария, Сохран."),
        word(AlarmLast, 44, Word16, "alarm_word_last", u"Авария, Последняя"),
        word(FaultNow, 45, Word16, "fault_word_now", u"Неисправность, Текущая"),
        word(FaultSaved, 46, Word16, "fault_word_saved", u"Неисправность, Сохран."),
        word(FaultLast, 47, Word16, "fault_word_last", u"Неисправность, Последняя"),
        word(InternalFaultNow, 48, Word16, "internal_fault_word_now", u"Внутр. неиспр., Текущая"),
        word(InternalFaultSaved, 49, Word16, "internal_fault_word_saved",
             u"Внутр. неиспр., Сохран."),
        word(InternalFaultLast, 50, Word16, "internal_fault_word_last",
             u"Внутр. неиспр., Последняя"),
        word(CascadeLast, 29, Word32, "cascade_word_last", u"Каскад, Последняя"),
        word(CascadeSaved, 35, Word32, "cascade_word_saved", u"Каскад, Сохран."),
        word(CascadeNow, 51, Word32, "cascade_word_now", u"Каскад, Текущая"),
    }};
}();
inline constexpr std::size_t kFieldCount = std::size(kFields);

static_assert([] {
    for (std::size_t i = 0; i < kFieldCount; ++i)
        if (static_cast<std::size_t>(kFields[i].id) != i) return false;
    return true;
}());

constexpr const FieldInfo& info(Field field) {
    return kFields[static_cast<std::size_t>(field)];
}

// The lamps: bit i of the row's register lights lamp i.
struct Lamp {
    std::string_view key;         // the record's name for it
    std::u16string_view caption;  // what the window writes on it
};

inline constexpr Lamp kIndicatorLamps[] = {{"lamp_genset", u"ДГУ"},
                                           {"lamp_section", u"Секц."},
                                           {"lamp_non_essential_1", u"Неотв.1"},
                                           {"lamp_autostart", u"Авт. зап."},
                                           {"lamp_local", u"Пост"},
                                           {"lamp_genset_on_bus", u"ДГУ на ш"},
                                           {"lamp_section_on", u"Секц.вкл"},
                                           {"lamp_non_essential_2", u"Неотв.2"},
                                           {"lamp_alarm", u"Авария"},
                                           {"lamp_sound_off", u"Звук.откл."}};
inline constexpr Lamp kRelayLamps[] = {
    {"relay_start", u"Старт"}, {"relay_stop", u"Стоп"}, {"relay_siren", u"Сирена"}};

enum class LampRowId : std::uint8_t { Indicators, Relays };

struct LampRow {
    LampRowId id;
    int reg;
    std::span<const Lamp> lamps;
    std::u16string_view caption;  // the row's heading
};

inline constexpr LampRow kLampRows[] = {
    {LampRowId::Indicators, 58, kIndicatorLamps, u"Индикаторы:"},
    {LampRowId::Relays, 60, kRelayLamps, u"Реле:"},
};
inline constexpr std::size_t kLampRowCount = std::size(kLampRows);

// The fault grid: columns alarm, fault, internal fault, cascade; rows current, saved, last.
// The cascade words are kept in the block last, saved, current, the other way round from the
// rest, and the window's grid counts its cascade labels from the bottom row up to match.
inline constexpr std::u16string_view kFaultRows[] = {u"Текущая", u"Сохран.", u"Последняя"};
inline constexpr std::u16string_view kFaultColumns[] = {u"Авария", u"Неисправность",
                                                        u"Внутр. неиспр.", u"Каскад"};

struct FaultCell {
    Field word;
    int row;
    int column;
};

inline constexpr FaultCell kFaultGrid[] = {
    {Field::AlarmNow, 0, 0},          {Field::AlarmSaved, 1, 0},
    {Field::AlarmLast, 2, 0},         {Field::FaultNow, 0, 1},
    {Field::FaultSaved, 1, 1},        {Field::FaultLast, 2, 1},
    {Field::InternalFaultNow, 0, 2},  {Field::InternalFaultSaved, 1, 2},
    {Field::InternalFaultLast, 2, 2}, {Field::CascadeLast, 2, 3},
    {Field::CascadeSaved, 1, 3},      {Field::CascadeNow, 0, 3},
};

// The grid's cell of a word; nothing for a field outside the grid.
constexpr const FaultCell* faultCellOf(Field field) {
    for (const FaultCell& cell : kFaultGrid)
        if (cell.word == field) return &cell;
    return nullptr;
}

}  // namespace torvix::status_block
