#pragma once
// The quantities the trends show, each a scaled field of the status block.

#include <cstddef>
#include <iterator>
#include <string_view>

#include "decode/register_map.h"

namespace torvix::trends {

struct Channel {
    std::string_view field;  // the register map's label of the value
    std::u16string_view name;
};

inline constexpr Channel kChannels[] = {
    {"lbl_phAU", u"U ген. A"}, {"lbl_phBU", u"U ген. B"},   {"lbl_phCU", u"U ген. C"},
    {"lbl_phAI", u"I ген. A"}, {"lbl_phBI", u"I ген. B"},   {"lbl_phCI", u"I ген. C"},
    {"lbl_fr", u"f ген."},     {"lbl_secAU", u"U секции"},  {"lbl_secfr", u"f секции"},
    {"lbl_netAU", u"U шин"},   {"lbl_netfr", u"f шин"},     {"lbl_ap", u"P активная"},
    {"lbl_fp", u"S полная"},   {"lbl_rp", u"Q реактивная"}, {"lbl_acc", u"U батареи"},
};
inline constexpr std::size_t kChannelCount = std::size(kChannels);

constexpr const status_block::ScaledField& fieldOf(const Channel& channel) {
    for (const auto& field : status_block::kScaledFields)
        if (field.label == channel.field) return field;
    throw "a channel names a field the register map does not have";
}

// Evaluated at compile time: a channel without its field does not build.
inline constexpr bool kEveryChannelHasAField = [] {
    for (const auto& channel : kChannels) (void)fieldOf(channel);
    return true;
}();

// The unit as the register map gives it ("В", "А", "Гц", "кВт"): channels of one unit share an
// axis.
constexpr std::u16string_view unitOf(const Channel& channel) {
    return fieldOf(channel).unit;
}

}  // namespace torvix::trends
