#pragma once
// Timing the simulator derives from the line settings it serves.

#include <chrono>

#include "protocol/line_settings.h"

namespace torvix::sim {

using torvix::LineSettings;

// The RTU silent interval that ends a frame: 3.5 character times, at least 2 ms since a
// pseudo-terminal and the desktop scheduler blur finer gaps.
std::chrono::milliseconds silentInterval(const LineSettings& settings);

// What the simulator serves when no --settings is given.
LineSettings defaultLineSettings();

}  // namespace torvix::sim
