#pragma once
// What the window's status line and port prompt say of a tick's verdict and of a port that
// will not open.

#include <QString>

#include "link/modbus.h"
#include "link/serial_port.h"

namespace torvix::status_text {

inline const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
inline const QString kCrcMismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
inline const QString kNoAnswer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");
inline const QString kBusy = QStringLiteral("Контроллер Torvix занят: запрос будет повторён");
inline const QString kQueueFull = QStringLiteral("Очередь команд переполнена: команда не принята");

// A busy controller (exception 6) is told apart; any other exception leaves the link up, its
// notice is refused().
QString statusLine(Verdict verdict, int exceptionCode);
// "Контроллер отклонил «СТАРТ»: исключение 2 (недопустимый адрес данных)"
QString refused(const QString& requestName, int exceptionCode);

// After "Порт COM3" in the window's prompt: " занят другим приложением" or " не доступен";
// the window tells only a port in use apart.
QString portFailure(const PortError& error);

}  // namespace torvix::status_text
