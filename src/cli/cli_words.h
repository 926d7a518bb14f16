#pragma once
// What torvix-cli says of a reply that did not come and of a port that will not open.

#include <QString>

#include "link/modbus.h"
#include "link/serial_port.h"

namespace torvix::cli {

// What came instead of a valid answer: "нет ответа", "ответ с неверной КС" or the
// exception; empty for an answer.
QString trouble(Verdict verdict, int exceptionCode);

// Finer than the window's: "нет прав доступа (группа dialout)", "занят другим приложением" ...
QString portFailureReason(const PortError& error);
// The ports listing's state: free, busy, denied, missing or error.
QString portState(const PortStatus& status);

}  // namespace torvix::cli
