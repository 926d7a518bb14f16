#pragma once
// The SerialPort on a real device for the platform being built; programs name only this.

#if defined(Q_OS_WIN) || defined(_WIN32)
#include "link/win_serial_port.h"
namespace torvix {
using PlatformSerialPort = WinSerialPort;
}
#else
#include "link/qt_serial_port.h"
namespace torvix {
using PlatformSerialPort = QtSerialPort;
}
#endif
