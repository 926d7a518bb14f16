#include "record/command_outcome.h"

#include "link/protocol.h"
#include "link/request_table.h"

namespace torvix::record {
namespace {

bool isOperatorCommand(std::span<const std::uint8_t> frame) {
    const requests::Entry* entry = requests::entryOf(frame);
    return entry && entry->operatorCommand;
}

}  // namespace

std::optional<TickCommand> commandOf(const TickOutcome& outcome) {
    if (!isOperatorCommand(outcome.answered)) return std::nullopt;
    switch (outcome.verdict) {
        case Verdict::Answered:
            return TickCommand{outcome.answered, {CommandOutcome::Executed}};
        case Verdict::Exception:
            if (!outcome.retired)
                return TickCommand{outcome.answered, {CommandOutcome::Busy, outcome.exceptionCode}};
            // Acknowledge: accepted and being carried out.
            if (outcome.exceptionCode == protocol::exception_code::kAcknowledge)
                return TickCommand{outcome.answered, {CommandOutcome::Executed}};
            return TickCommand{outcome.answered, {CommandOutcome::Refused, outcome.exceptionCode}};
        case Verdict::CrcMismatch:
        case Verdict::NoAnswer:
            break;
    }
    return std::nullopt;
}

}  // namespace torvix::record
