#include "cli/command_words.h"

#include <QRegularExpression>
#include <cmath>

namespace torvix::cli {
namespace {

using requests::Entry;
using requests::kHighestNumber;
using requests::kLowestNumber;

// The window reads a typed number leniently ("abc" reads 0); a script's typo must not send
// 0, so the text has to be a whole or decimal number, which is then rounded half to even as
// the window rounds what the operator types ("2.5" sends 2).
std::optional<int> commandNumber(const QString& text) {
    static const QRegularExpression kNumber(QStringLiteral(R"(^\s*[+-]?\d+(\.\d+)?\s*$)"));
    if (!kNumber.match(text).hasMatch()) return std::nullopt;
    const double number = std::nearbyint(text.trimmed().toDouble());
    if (number < kLowestNumber || number > kHighestNumber) return std::nullopt;
    return static_cast<int>(number);
}

QString cliName(const Entry& e) {
    return QString::fromLatin1(e.cliName.data(), static_cast<qsizetype>(e.cliName.size()));
}

}  // namespace

std::variant<requests::Request, QString> parseCommandWords(const QStringList& words) {
    if (words.isEmpty()) return QStringLiteral("send: не указана команда");
    for (const Entry& e : requests::kTable) {
        if (!e.operatorCommand || !e.takesArgument || words[0] != cliName(e)) continue;
        if (words.size() != 2)
            return QStringLiteral("send %1: нужно одно число от %2 до %3")
                .arg(words[0])
                .arg(kLowestNumber)
                .arg(kHighestNumber);
        const auto number = commandNumber(words[1]);
        if (!number)
            return QStringLiteral("send %1: число \"%2\" вне диапазона %3..%4")
                .arg(words[0], words[1])
                .arg(kLowestNumber)
                .arg(kHighestNumber);
        return requests::Request{e.kind, *number};
    }
    for (const Entry& e : requests::kTable)
        if (e.operatorCommand && !e.takesArgument && words == cliName(e).split(u' '))
            return requests::Request{e.kind};
    return QStringLiteral("send: неизвестная команда \"%1\"").arg(words.join(u' '));
}

}  // namespace torvix::cli
