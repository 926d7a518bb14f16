#pragma once
// The serial ports the operating system lists, beyond the fixed numbers 1..16: a USB adapter
// on Windows is often COM17 or above.

#include <QStringList>

namespace torvix::scan {

// "COM17" ... on Windows, device paths elsewhere; in the system's order.
QStringList systemSerialPorts();

}  // namespace torvix::scan
