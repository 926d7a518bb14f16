#pragma once
// What a tick tells about an operator's command: executed, refused for good, or busy.

#include <cstdint>
#include <optional>
#include <span>

#include "link/modbus.h"
#include "record/event_text.h"

namespace torvix::record {

struct TickCommand {
    requests::Request request;
    CommandOutcome outcome;
};

// Nothing when the tick judged no operator command (a status read, a counter write) or
// judged it undelivered (no answer, a bad CRC): then it simply goes out again.
std::optional<TickCommand> commandOf(const TickOutcome& outcome);

}  // namespace torvix::record
