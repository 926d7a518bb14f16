#pragma once
// What a tick tells about an operator's command: answered, refused for good, or busy.

#include <cstdint>
#include <optional>
#include <span>

#include "link/modbus.h"

namespace torvix::trends {

struct CommandOutcome {
    enum class Kind { Answered, Refused, Busy };
    Kind kind;
    std::span<const std::uint8_t> request;  // the command's frame, address to CRC
    int exceptionCode = 0;                  // for Refused and Busy
};

// Nothing when the tick judged no operator command (a status read, a counter write) or
// judged it undelivered (no answer, a bad CRC): then it simply goes out again.
std::optional<CommandOutcome> commandOutcome(const TickOutcome& outcome);

}  // namespace torvix::trends
