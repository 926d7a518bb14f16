#pragma once
// The controller's status block read through its fields: the values a tick's status reply
// carries, decoded once by the master.

#include <cstdint>
#include <optional>
#include <span>

#include "decode/status_fields.h"
#include "protocol/status_registers.h"

namespace torvix {

class StatusSnapshot {
public:
    using Registers = protocol::StatusRegisters::Registers;

    StatusSnapshot() = default;
    StatusSnapshot(const protocol::StatusRegisters& registers) : registers_(registers) {}
    explicit StatusSnapshot(const Registers& registers) : registers_(registers) {}

    static std::optional<StatusSnapshot> fromReply(std::span<const std::uint8_t> reply) {
        const auto registers = protocol::StatusRegisters::fromReply(reply);
        if (!registers) return std::nullopt;
        return StatusSnapshot(*registers);
    }

    // Register 300 + n.
    std::uint16_t reg(int n) const { return registers_.reg(n); }
    const Registers& registers() const { return registers_.registers(); }

    // The field's integer as the controller sends it, before scaling; a word's bits, a
    // version's register.
    std::int64_t raw(status_block::Field field) const;
    // In the field's unit: raw * scale.
    double value(status_block::Field field) const {
        return static_cast<double>(raw(field)) * status_block::info(field).scale;
    }

    struct Version {
        int major;
        int minor;
    };
    Version version(status_block::Field field) const;
    bool lamp(const status_block::LampRow& row, int bit) const {
        return (reg(row.reg) >> bit) & 1u;
    }

    friend bool operator==(const StatusSnapshot&, const StatusSnapshot&) = default;

private:
    protocol::StatusRegisters registers_;
};

}  // namespace torvix
