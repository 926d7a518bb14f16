#pragma once
// The quantities the trends show, each a field of the status block, with its colour.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "decode/status_fields.h"

namespace torvix::trends {

using Rgb = std::uint32_t;  // 0xRRGGBB

struct Channel {
    status_block::Field field;
    std::u16string_view name;
    // Phases in the colours of Russian switchgear (A yellow, B green, C red), the rest apart.
    Rgb colour;
};

inline constexpr Channel kChannels[] = {
    {status_block::Field::GenUA, u"U ген. A", 0xC8A000},
    {status_block::Field::GenUB, u"U ген. B", 0x00913A},
    {status_block::Field::GenUC, u"U ген. C", 0xD02020},
    {status_block::Field::GenIA, u"I ген. A", 0xC8A000},
    {status_block::Field::GenIB, u"I ген. B", 0x00913A},
    {status_block::Field::GenIC, u"I ген. C", 0xD02020},
    {status_block::Field::GenF, u"f ген.", 0x202020},
    {status_block::Field::SectionU, u"U секции", 0x1F5FD0},
    {status_block::Field::SectionF, u"f секции", 0x1F5FD0},
    {status_block::Field::BusU, u"U шин", 0x8A2BE2},
    {status_block::Field::BusF, u"f шин", 0x8A2BE2},
    {status_block::Field::ActivePower, u"P активная", 0x202020},
    {status_block::Field::FullPower, u"S полная", 0xE07000},
    {status_block::Field::ReactivePower, u"Q реактивная", 0x008080},
    {status_block::Field::Battery, u"U батареи", 0x707070},
};
inline constexpr std::size_t kChannelCount = std::size(kChannels);

constexpr const status_block::FieldInfo& fieldOf(const Channel& channel) {
    return status_block::info(channel.field);
}

// The unit as the field table gives it ("В", "А", "Гц", "кВт"): channels of one unit share an
// axis.
constexpr std::u16string_view unitOf(const Channel& channel) {
    return fieldOf(channel).unit;
}

}  // namespace torvix::trends
