#include "decode/status_snapshot.h"

namespace torvix {

std::int64_t StatusSnapshot::raw(status_block::Field field) const {
    using status_block::Reading;
    const status_block::FieldInfo& info = status_block::info(field);
    const std::uint16_t high = reg(info.reg);
    // Two-register values come high word first.
    const auto pair = [&] { return std::uint32_t{high} << 16 | reg(info.reg + 1); };
    switch (info.reading) {
        case Reading::U16:
        case Reading::Version:
        case Reading::Word16:
            return high;
        case Reading::S16:
            return static_cast<std::int16_t>(high);
        case Reading::U32:
        case Reading::Word32:
            return pair();
        case Reading::S32:
            return static_cast<std::int32_t>(pair());
        case Reading::HighByte:
            return high >> 8;
        case Reading::LowByte:
            return high & 0xFF;
    }
    return 0;
}

StatusSnapshot::Version StatusSnapshot::version(status_block::Field field) const {
    const std::uint16_t value = reg(status_block::info(field).reg);
    return {value >> 8, value & 0xFF};
}

}  // namespace torvix
