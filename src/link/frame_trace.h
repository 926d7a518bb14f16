#pragma once
// One line per frame on the line, as the CLI's --trace and the window's traffic tab show it:
// monotonic time, direction, bytes, verdict or request name.

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

#include "link/modbus.h"

namespace torvix {

// "07 04 01 2C"
QString hexBytes(std::span<const std::uint8_t> bytes);

// `ms` since the start of the program, from a monotonic clock.
QString traceSent(double ms, std::span<const std::uint8_t> frame);
QString traceReceived(double ms, std::span<const std::uint8_t> reply, Verdict verdict,
                      int exceptionCode, std::optional<double> replyMs);

}  // namespace torvix
