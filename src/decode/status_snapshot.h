#pragma once
// The controller's status block, decoded once from a reply, read through the register map.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "decode/register_map.h"
#include "link/protocol.h"

namespace torvix {

class StatusSnapshot {
public:
    using Registers = std::array<std::uint16_t, protocol::kStatusRegisterCount>;

    StatusSnapshot() = default;
    explicit StatusSnapshot(const Registers& registers) : registers_(registers) {}

    // Only a whole block (function 4, byte count 128, 133 bytes) is a snapshot: anything
    // shorter would show bytes of earlier replies as live values. The CRC is the caller's.
    static std::optional<StatusSnapshot> fromReply(std::span<const std::uint8_t> reply);

    // Register 300 + n.
    std::uint16_t reg(int n) const { return registers_[static_cast<std::size_t>(n)]; }
    const Registers& registers() const { return registers_; }

    // The field's integer as the controller sends it, before scaling.
    std::int64_t raw(const status_block::ScaledField& field) const;
    // In the field's unit: raw * scale.
    double value(const status_block::ScaledField& field) const {
        return static_cast<double>(raw(field)) * field.scale;
    }

    struct Version {
        int major;
        int minor;
    };
    Version version(const status_block::VersionField& field) const;
    std::uint32_t word(const status_block::HexField& field) const;
    bool lamp(const status_block::LampRow& row, int bit) const;

    friend bool operator==(const StatusSnapshot&, const StatusSnapshot&) = default;

private:
    Registers registers_{};
};

}  // namespace torvix
