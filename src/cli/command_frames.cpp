#include "cli/command_frames.h"

#include <algorithm>

#include "link/operator_requests.h"

namespace torvix::cli {

std::optional<std::vector<std::uint8_t>> requestOf(const OperatorCommand& command) {
    if (const auto* mode = std::get_if<ModeCommand>(&command)) {
        const auto request = commands::modeRequest(mode->index);
        if (request) return std::vector<std::uint8_t>(request->begin(), request->end());
    } else {
        const auto& number = std::get<NumberCommand>(command);
        const auto request = commands::numberRequest(number.kindIndex, number.number);
        if (request) return std::vector<std::uint8_t>(request->begin(), request->end());
    }
    return std::nullopt;
}

bool carries(std::span<const std::uint8_t> frame, const std::vector<std::uint8_t>& pdu) {
    return frame.size() == pdu.size() + 3 && std::equal(pdu.begin(), pdu.end(), frame.begin() + 1);
}

}  // namespace torvix::cli
