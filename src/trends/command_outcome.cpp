#include "trends/command_outcome.h"

#include <algorithm>

#include "link/operator_requests.h"
#include "link/protocol.h"

namespace torvix::trends {
namespace {

using record::CommandOutcome;

int wordAt(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame[at] << 8 | frame[at + 1];
}

bool isOperatorCommand(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4) return false;
    const int reg = wordAt(frame, 2);
    return (frame[1] == protocol::kWriteSingleRegister && reg == protocol::kCommandRegister) ||
           (frame[1] == protocol::kWriteMultipleRegisters && reg == protocol::kNumberRegister);
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

QString cliWords(std::span<const std::uint8_t> request) {
    // In the order of commands::kModeCodes, cmd_mode(0..11), and kNumberKinds.
    static const char* const kModeWords[] = {
        "start",         "stop",        "ack",         "load toggle",
        "section toggle", "autostart toggle", "load off", "load on",
        "section off",   "section on",  "autostart off", "autostart on"};
    static const char* const kNumberWords[] = {"priority", "section-number", "neighbour"};
    if (request.size() >= 6 && request[1] == protocol::kWriteSingleRegister) {
        const auto code = std::find(commands::kModeCodes.begin(), commands::kModeCodes.end(),
                                    wordAt(request, 4));
        if (code != commands::kModeCodes.end())
            return QString::fromLatin1(kModeWords[code - commands::kModeCodes.begin()]);
    }
    if (request.size() >= 11 && request[1] == protocol::kWriteMultipleRegisters) {
        for (std::size_t i = 0; i < commands::kNumberKinds.size(); ++i)
            if (commands::kNumberKinds[i].code == wordAt(request, 9))
                return QStringLiteral("%1 %2").arg(QLatin1String(kNumberWords[i])).arg(request[8]);
    }
    return commands::requestName(request);
}

}  // namespace torvix::trends
