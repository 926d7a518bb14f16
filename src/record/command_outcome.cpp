#include "record/command_outcome.h"

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::record {
std::optional<TickCommand> commandOf(const TickOutcome& outcome) {
    const auto& request = outcome.answeredRequest;
    if (!request || !requests::entry(request->kind).operatorCommand) return std::nullopt;
    switch (outcome.verdict) {
        case Verdict::Answered:
            return TickCommand{*request, {CommandOutcome::Executed}};
        case Verdict::Exception:
            if (!outcome.retired)
                return TickCommand{*request, {CommandOutcome::Busy, outcome.exceptionCode}};
            // Acknowledge: accepted and being carried out.
            if (outcome.exceptionCode == protocol::exception_code::kAcknowledge)
                return TickCommand{*request, {CommandOutcome::Executed}};
            return TickCommand{*request, {CommandOutcome::Refused, outcome.exceptionCode}};
        case Verdict::CrcMismatch:
        case Verdict::NoAnswer:
            break;
    }
    return std::nullopt;
}

}  // namespace torvix::record
