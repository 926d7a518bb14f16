#pragma once
// An operator command as the request that goes on the line, and which frames carry it.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "cli/command_line.h"

namespace torvix::cli {

// The request from its function code on; nothing when it cannot be built.
std::optional<std::vector<std::uint8_t>> requestOf(const OperatorCommand& command);

// The frame (address to CRC) carries `pdu`.
bool carries(std::span<const std::uint8_t> frame, const std::vector<std::uint8_t>& pdu);

}  // namespace torvix::cli
