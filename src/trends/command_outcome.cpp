#include "trends/command_outcome.h"

#include "link/protocol.h"

namespace torvix::trends {
namespace {

bool isOperatorCommand(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4) return false;
    const int reg = frame[2] << 8 | frame[3];
    return (frame[1] == protocol::kWriteSingleRegister && reg == protocol::kCommandRegister) ||
           (frame[1] == protocol::kWriteMultipleRegisters && reg == protocol::kNumberRegister);
}

}  // namespace

std::optional<CommandOutcome> commandOutcome(const TickOutcome& outcome) {
    if (!isOperatorCommand(outcome.answered)) return std::nullopt;
    switch (outcome.verdict) {
        case Verdict::Answered:
            return CommandOutcome{CommandOutcome::Kind::Answered, outcome.answered};
        case Verdict::Exception:
            if (!outcome.retired)
                return CommandOutcome{CommandOutcome::Kind::Busy, outcome.answered,
                                      outcome.exceptionCode};
            // Acknowledge: accepted and being carried out.
            if (outcome.exceptionCode == protocol::exception_code::kAcknowledge)
                return CommandOutcome{CommandOutcome::Kind::Answered, outcome.answered};
            return CommandOutcome{CommandOutcome::Kind::Refused, outcome.answered,
                                  outcome.exceptionCode};
        case Verdict::CrcMismatch:
        case Verdict::NoAnswer:
            break;
    }
    return std::nullopt;
}

}  // namespace torvix::trends
