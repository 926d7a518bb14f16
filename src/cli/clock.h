#pragma once
// The command line's sessions keep their clock's names; the clock itself lives in the link.

#include "link/clock.h"

namespace torvix::cli {

using torvix::Clock;
using torvix::QtClock;
using torvix::Timer;

}  // namespace torvix::cli
