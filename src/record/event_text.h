#pragma once
// The texts of the record's `events` column, which the command line and the window both write.

#include <QString>
#include <QStringView>
#include <optional>

namespace torvix::record {

// Several events in one record are joined with this.
inline constexpr QStringView kEventSeparator = u" | ";

// "[12.3 s] what": seconds since the recording started, one decimal. `width` pads the number
// on the left, as stderr lines it up: "[  12.3 s] what" with width 6.
QString eventLine(double seconds, QStringView what, int width = 0);

// How the controller dealt with one sending of a command.
struct CommandOutcome {
    enum Kind { Executed, Refused, Busy, NoAnswer } kind;
    int exceptionCode = 0;  // for Refused; 5 (acknowledge) counts as executed
};

// "выполнено", "отказ: исключение 2 (недопустимый адрес данных)", "занят, повтор", "нет ответа".
QString outcomeWords(CommandOutcome outcome);
// "send load on: выполнено"; `cliWords` are the command's words on the command line.
QString commandEvent(QStringView cliWords, CommandOutcome outcome);
// "mark наброс 50 %"
QString markEvent(QStringView text);

// An event line without its "[12.3 s] " prefix.
QStringView eventWhat(QStringView line);
// The text of a mark's event line ("[3.0 s] mark наброс 50 %" gives "наброс 50 %"), or nothing
// for any other event.
std::optional<QString> markOf(QStringView line);

}  // namespace torvix::record
