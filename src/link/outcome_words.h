#pragma once
// What the user is told of a poll's verdict and of a port that will not open, in one place:
// the window's status line and prompts, the CLI's messages and the trace.

#include <QString>

#include "link/modbus.h"
#include "link/serial_port.h"

namespace torvix::outcome_words {

// The window's status line.
inline const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
inline const QString kCrcMismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
inline const QString kNoAnswer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");
inline const QString kBusy = QStringLiteral("Контроллер Torvix занят: запрос будет повторён");

// "исключение 2 (недопустимый адрес данных)"
QString exception(int code);

// The status line for a verdict: a busy controller (exception 6) is told apart; any other
// exception leaves the link up, its notice is refused().
QString statusLine(Verdict verdict, int exceptionCode);
// "Контроллер отклонил «СТАРТ»: исключение 2 (недопустимый адрес данных)"
QString refused(const QString& requestName, int exceptionCode);

// The trace: "answered", "CRC mismatch", "no answer", "exception 2 (недопустимый адрес данных)".
QString trace(Verdict verdict, int exceptionCode);

// The CLI, for what came instead of a valid answer: "нет ответа", "ответ с неверной КС" or the
// exception; empty for an answer.
QString trouble(Verdict verdict, int exceptionCode);

// After "Порт COM3" in the window's prompt: " занят другим приложением" or " не доступен".
QString portFailure(const PortError& error);
// The CLI's reason, finer than the window's: "нет прав доступа (группа dialout)", ...
QString portFailureReason(const PortError& error);
// The ports listing's state: free, busy, denied, missing or error.
QString portState(const PortStatus& status);

}  // namespace torvix::outcome_words
