#pragma once
// The clock of the command line's sessions; it lives with the link, which the protocol test
// shares.

#include "link/clock.h"

namespace torvix::cli {
using torvix::Clock;
using torvix::QtClock;
using torvix::Timer;
}  // namespace torvix::cli
