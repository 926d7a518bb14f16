#include "record/event_text.h"

#include "protocol/protocol.h"

namespace torvix::record {

QString eventLine(double seconds, QStringView what, int width) {
    return QStringLiteral("[%1 s] %2").arg(seconds, width, 'f', 1).arg(what);
}

QString outcomeWords(CommandOutcome outcome) {
    switch (outcome.kind) {
        case CommandOutcome::Executed:
            return QStringLiteral("выполнено");
        case CommandOutcome::Refused:
            return QStringLiteral("отказ: ") + protocol::exceptionText(outcome.exceptionCode);
        case CommandOutcome::Busy:
            return QStringLiteral("занят, повтор");
        case CommandOutcome::NoAnswer:
            break;
    }
    return QStringLiteral("нет ответа");
}

QString commandEvent(QStringView cliWords, CommandOutcome outcome) {
    return QStringLiteral("send %1: %2").arg(cliWords, outcomeWords(outcome));
}

QString markEvent(QStringView text) {
    return QStringLiteral("mark %1").arg(text);
}

QStringView eventWhat(QStringView line) {
    if (!line.startsWith(u'[')) return line;
    const qsizetype end = line.indexOf(QStringLiteral(" s] "));
    return end < 0 ? line : line.mid(end + 4);
}

std::optional<QString> markOf(QStringView line) {
    const QStringView what = eventWhat(line);
    if (!what.startsWith(u"mark ")) return std::nullopt;
    return what.mid(5).toString();
}

}  // namespace torvix::record
