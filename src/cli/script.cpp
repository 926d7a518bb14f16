#include "cli/script.h"

#include <QRegularExpression>
#include <cmath>

#include "cli/command_words.h"

namespace torvix::cli::script {
namespace {

struct OpName {
    const char* text;
    Condition::Op op;
};
// Two-character operators first, so that "<=" is not read as "<".
constexpr OpName kOps[] = {
    {"<=", Condition::LessOrEqual}, {">=", Condition::GreaterOrEqual},
    {"==", Condition::Equal},       {"!=", Condition::NotEqual},
    {"<", Condition::Less},         {">", Condition::Greater},
};

std::optional<double> numberOf(const QString& text) {
    static const QRegularExpression kNumber(QStringLiteral(R"(^[+-]?\d+(\.\d+)?$)"));
    if (!kNumber.match(text).hasMatch()) return std::nullopt;
    return text.toDouble();
}

// The line without its comment; a # inside double quotes is text.
QString withoutComment(const QString& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'"') quoted = !quoted;
        if (line[i] == u'#' && !quoted) return line.left(i);
    }
    return line;
}

std::variant<Condition, QString> conditionOf(const QStringList& words) {
    if (words.isEmpty()) return QStringLiteral("нет условия");
    const QString& key = words[0];
    if (!record::isNumberKey(key))
        return QStringLiteral("\"%1\" не числовой ключ записи (gen_f_hz, gen_u_a_v ...)").arg(key);
    Condition condition{Condition::Between, key, 0, 0, words.join(u' ')};
    if (words.size() == 5 && words[1] == u"between" && words[3] == u"and") {
        const auto low = numberOf(words[2]);
        const auto high = numberOf(words[4]);
        if (!low || !high) return QStringLiteral("between: границы должны быть числами");
        if (*low > *high) return QStringLiteral("between: нижняя граница больше верхней");
        condition.a = *low;
        condition.b = *high;
        return condition;
    }
    if (words.size() == 3) {
        for (const OpName& op : kOps) {
            if (words[1] != QLatin1String(op.text)) continue;
            const auto number = numberOf(words[2]);
            if (!number) return QStringLiteral("\"%1\" не число").arg(words[2]);
            condition.op = op.op;
            condition.a = *number;
            return condition;
        }
    }
    return QStringLiteral("условие: КЛЮЧ < <= > >= == != ЧИСЛО или КЛЮЧ between A and B");
}

using Action = std::variant<Send, Wait, Until, Mark, Expect>;

std::variant<Action, QString> actionOf(const QString& step) {
    const QStringList words = step.split(u' ');
    const QString& verb = words[0];
    const QStringList rest = words.mid(1);
    if (verb == u"send") {
        auto command = parseCommandWords(rest);
        if (auto* message = std::get_if<QString>(&command)) return *message;
        const auto request = std::get<requests::Request>(command);
        return Action{Send{request, requests::words(request)}};
    }
    if (verb == u"wait") {
        const auto ms = rest.size() == 1 ? durationOf(rest[0]) : std::nullopt;
        if (!ms) return QStringLiteral("wait: нужна длительность вида 500ms, 5s, 2min");
        return Action{Wait{*ms}};
    }
    if (verb == u"until") {
        const qsizetype within = rest.lastIndexOf(QStringLiteral("within"));
        if (within < 0 || within != rest.size() - 2)
            return QStringLiteral("until: в конце нужно within ДЛИТЕЛЬНОСТЬ (within 30s)");
        const auto ms = durationOf(rest.last());
        if (!ms) return QStringLiteral("until: нужна длительность вида 500ms, 5s, 2min");
        auto condition = conditionOf(rest.first(within));
        if (auto* message = std::get_if<QString>(&condition)) return *message;
        return Action{Until{std::get<Condition>(condition), *ms}};
    }
    if (verb == u"expect") {
        auto condition = conditionOf(rest);
        if (auto* message = std::get_if<QString>(&condition)) return *message;
        return Action{Expect{std::get<Condition>(condition)}};
    }
    if (verb == u"mark") {
        QString text = step.mid(verb.size()).trimmed();
        if (text.startsWith(u'"')) {
            if (text.size() < 2 || !text.endsWith(u'"') || text.count(u'"') != 2)
                return QStringLiteral("mark: текст в кавычках должен быть закрыт");
            text = text.mid(1, text.size() - 2);
        }
        if (text.isEmpty()) return QStringLiteral("mark: нужен текст");
        return Action{Mark{text}};
    }
    return QStringLiteral("неизвестный шаг \"%1\" (send, wait, until, mark, expect)").arg(verb);
}

}  // namespace

std::optional<qint64> durationOf(const QString& text) {
    static const QRegularExpression kDuration(QStringLiteral(R"(^(\d+(?:\.\d+)?)(ms|s|min)$)"));
    const auto match = kDuration.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const double number = match.captured(1).toDouble();
    const double unitMs = match.captured(2) == u"ms" ? 1 : match.captured(2) == u"s" ? 1000 : 60000;
    return qint64(std::llround(number * unitMs));
}

bool Condition::holds(double value) const {
    switch (op) {
        case Less:
            return value < a;
        case LessOrEqual:
            return value <= a;
        case Greater:
            return value > a;
        case GreaterOrEqual:
            return value >= a;
        case Equal:
            return value == a;
        case NotEqual:
            return value != a;
        case Between:
            break;
    }
    return value >= a && value <= b;
}

std::optional<bool> Condition::holdsFor(const record::StatusRecord& record) const {
    const record::RecordValue* value = record::valueOf(record, key);
    if (!value) return std::nullopt;
    return holds(value->text.toDouble());
}

QString Condition::shownIn(const record::StatusRecord& record) const {
    const record::RecordValue* value = record::valueOf(record, key);
    return QStringLiteral("%1 = %2").arg(key, value ? value->text : QStringLiteral("?"));
}

Parsed parse(const QString& text) {
    Parsed parsed;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int line = int(i + 1);
        // Blanks collapsed, but not inside a mark's quotes.
        QString step = withoutComment(lines[i]).trimmed();
        if (step.isEmpty()) continue;
        if (!step.startsWith(QStringLiteral("mark"))) step = step.simplified();
        auto action = actionOf(step);
        if (auto* message = std::get_if<QString>(&action))
            parsed.errors.push_back({line, *message});
        else
            parsed.steps.push_back({line, step, std::get<Action>(action)});
    }
    return parsed;
}

}  // namespace torvix::cli::script
