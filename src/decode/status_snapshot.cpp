#include "decode/status_snapshot.h"

namespace torvix {

std::optional<StatusSnapshot> StatusSnapshot::fromReply(std::span<const std::uint8_t> reply) {
    if (reply.size() != protocol::kStatusReplyBytes || reply[1] != protocol::kReadInputRegisters ||
        reply[2] != 2 * protocol::kStatusRegisterCount)
        return std::nullopt;
    Registers registers{};
    for (std::size_t n = 0; n < registers.size(); ++n)
        registers[n] = static_cast<std::uint16_t>(reply[3 + 2 * n] << 8 | reply[4 + 2 * n]);
    return StatusSnapshot(registers);
}

std::int64_t StatusSnapshot::raw(const status_block::ScaledField& field) const {
    using status_block::ReadAs;
    const std::uint16_t high = reg(field.reg);
    // Two-register values come high word first.
    const auto pair = [&] { return std::uint32_t{high} << 16 | reg(field.reg + 1); };
    switch (field.readAs) {
        case ReadAs::U16:
            return high;
        case ReadAs::S16:
            return static_cast<std::int16_t>(high);
        case ReadAs::U32:
            return pair();
        case ReadAs::S32:
            return static_cast<std::int32_t>(pair());
        case ReadAs::HighByte:
            return high >> 8;
        case ReadAs::LowByte:
            return high & 0xFF;
    }
    return 0;
}

StatusSnapshot::Version StatusSnapshot::version(const status_block::VersionField& field) const {
    return {reg(field.reg) >> 8, reg(field.reg) & 0xFF};
}

std::uint32_t StatusSnapshot::word(const status_block::HexField& field) const {
    if (field.width == 8) return std::uint32_t{reg(field.reg)} << 16 | reg(field.reg + 1);
    return reg(field.reg);
}

bool StatusSnapshot::lamp(const status_block::LampRow& row, int bit) const {
    return (reg(row.reg) >> bit) & 1u;
}

}  // namespace torvix
