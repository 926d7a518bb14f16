// script::parse: every step kind as `run` takes it, and every error with its line.

#include "cli/script.h"

#include <gtest/gtest.h>

#include "support/qt_printers.h"

namespace torvix::cli::script {
namespace {

using requests::Kind;
using requests::Request;

Step onlyStep(const QString& text) {
    const Parsed parsed = parse(text);
    EXPECT_TRUE(parsed.errors.empty())
        << (parsed.errors.empty() ? "" : parsed.errors[0].message.toStdString());
    EXPECT_EQ(parsed.steps.size(), 1u) << text.toStdString();
    return parsed.steps.empty() ? Step{0, {}, Mark{}} : parsed.steps[0];
}

TEST(ScriptParse, SendTakesEveryCommandOfSend) {
    const Step start = onlyStep(QStringLiteral("send start"));
    EXPECT_EQ(start.line, 1);
    EXPECT_EQ(start.text, QStringLiteral("send start"));
    EXPECT_EQ(std::get<Send>(start.action).request, (Request{Kind::Start}));
    EXPECT_EQ(std::get<Send>(start.action).words, QStringLiteral("start"));

    const Step load = onlyStep(QStringLiteral("   send   load    on   # the load"));
    EXPECT_EQ(load.text, QStringLiteral("send load on"));
    EXPECT_EQ(std::get<Send>(load.action).request, (Request{Kind::LoadOn}));
    EXPECT_EQ(std::get<Send>(load.action).words, QStringLiteral("load on"));

    const Step priority = onlyStep(QStringLiteral("send priority 5"));
    EXPECT_EQ(std::get<Send>(priority.action).request, (Request{Kind::Priority, 5}));
    EXPECT_EQ(std::get<Send>(priority.action).words, QStringLiteral("priority 5"));
}

TEST(ScriptParse, WaitsInMillisecondsSecondsAndMinutes) {
    EXPECT_EQ(std::get<Wait>(onlyStep(QStringLiteral("wait 500ms")).action).ms, 500);
    EXPECT_EQ(std::get<Wait>(onlyStep(QStringLiteral("wait 5s")).action).ms, 5000);
    EXPECT_EQ(std::get<Wait>(onlyStep(QStringLiteral("wait 1.5s")).action).ms, 1500);
    EXPECT_EQ(std::get<Wait>(onlyStep(QStringLiteral("wait 2min")).action).ms, 120000);
    EXPECT_EQ(std::get<Wait>(onlyStep(QStringLiteral("wait 0.0015s")).action).ms, 2);
}

TEST(ScriptParse, UntilAndExpectTakeEveryOperatorAndBetween) {
    const Step until = onlyStep(QStringLiteral("until gen_f_hz >= 49.5 within 30s"));
    const auto& u = std::get<Until>(until.action);
    EXPECT_EQ(u.withinMs, 30000);
    EXPECT_EQ(u.condition.op, Condition::GreaterOrEqual);
    EXPECT_EQ(u.condition.key, QStringLiteral("gen_f_hz"));
    EXPECT_EQ(u.condition.a, 49.5);
    EXPECT_EQ(u.condition.text, QStringLiteral("gen_f_hz >= 49.5"));
    EXPECT_EQ(until.text, QStringLiteral("until gen_f_hz >= 49.5 within 30s"));

    const std::pair<const char*, Condition::Op> ops[] = {
        {"<", Condition::Less},    {"<=", Condition::LessOrEqual},
        {">", Condition::Greater}, {">=", Condition::GreaterOrEqual},
        {"==", Condition::Equal},  {"!=", Condition::NotEqual},
    };
    for (const auto& [text, op] : ops) {
        const Step step = onlyStep(QStringLiteral("expect gen_u_a_v %1 -2.5").arg(text));
        EXPECT_EQ(std::get<Expect>(step.action).condition.op, op) << text;
        EXPECT_EQ(std::get<Expect>(step.action).condition.a, -2.5) << text;
    }
    const Step between = onlyStep(QStringLiteral("expect gen_u_a_v between 220 and 240"));
    const Condition& c = std::get<Expect>(between.action).condition;
    EXPECT_EQ(c.op, Condition::Between);
    EXPECT_EQ(c.a, 220);
    EXPECT_EQ(c.b, 240);
    EXPECT_TRUE(c.holds(220));
    EXPECT_TRUE(c.holds(240));
    EXPECT_FALSE(c.holds(240.01));
    EXPECT_FALSE(c.holds(219.9));
}

TEST(ScriptParse, MarksKeepTheirBlanksAndHashesInQuotes) {
    EXPECT_EQ(std::get<Mark>(onlyStep(QStringLiteral("mark \"наброс,  50 % # 1\"")).action).text,
              QStringLiteral("наброс,  50 % # 1"));
    EXPECT_EQ(std::get<Mark>(onlyStep(QStringLiteral("mark load  step # comment")).action).text,
              QStringLiteral("load  step"));
}

TEST(ScriptParse, StepsKeepTheirLinesPastCommentsAndBlanks) {
    const Parsed parsed = parse(QStringLiteral(
        "# header\n\nsend start\n   \nwait 1s\r\nuntil gen_f_hz > 40 within 5s\nmark m\n"
        "expect lamp_alarm == 0\n"));
    ASSERT_TRUE(parsed.errors.empty());
    ASSERT_EQ(parsed.steps.size(), 5u);
    const int lines[] = {3, 5, 6, 7, 8};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(parsed.steps[i].line, lines[i]);
    EXPECT_TRUE(std::holds_alternative<Send>(parsed.steps[0].action));
    EXPECT_TRUE(std::holds_alternative<Wait>(parsed.steps[1].action));
    EXPECT_TRUE(std::holds_alternative<Until>(parsed.steps[2].action));
    EXPECT_TRUE(std::holds_alternative<Mark>(parsed.steps[3].action));
    EXPECT_TRUE(std::holds_alternative<Expect>(parsed.steps[4].action));
    EXPECT_TRUE(parse(QString()).steps.empty());
    EXPECT_TRUE(parse(QStringLiteral("# nothing\n")).errors.empty());
}

TEST(ScriptParse, EveryErrorWithItsLineAndNothingElseRuns) {
    const std::pair<const char*, const char16_t*> cases[] = {
        {"send strat", u"send: неизвестная команда \"strat\""},
        {"send", u"send: не указана команда"},
        {"send priority 9", u"send priority: число \"9\" вне диапазона 0..7"},
        {"wait 5", u"wait: нужна длительность вида 500ms, 5s, 2min"},
        {"wait", u"wait: нужна длительность вида 500ms, 5s, 2min"},
        {"wait 5 s", u"wait: нужна длительность вида 500ms, 5s, 2min"},
        {"wait -1s", u"wait: нужна длительность вида 500ms, 5s, 2min"},
        {"until gen_f_hz >= 49.5", u"until: в конце нужно within ДЛИТЕЛЬНОСТЬ (within 30s)"},
        {"until gen_f_hz >= 49.5 within", u"until: в конце нужно within ДЛИТЕЛЬНОСТЬ (within 30s)"},
        {"until gen_f_hz >= 49.5 within 3h", u"until: нужна длительность вида 500ms, 5s, 2min"},
        {"until within 5s", u"нет условия"},
        {"expect", u"нет условия"},
        {"expect no_such_key > 1",
         u"\"no_such_key\" не числовой ключ записи (gen_f_hz, gen_u_a_v ...)"},
        {"expect gen_f_hz > x", u"\"x\" не число"},
        {"expect gen_f_hz > 1e3", u"\"1e3\" не число"},
        {"expect gen_f_hz = 50", u"условие: КЛЮЧ < <= > >= == != ЧИСЛО или КЛЮЧ between A and B"},
        {"expect gen_f_hz > 1 2", u"условие: КЛЮЧ < <= > >= == != ЧИСЛО или КЛЮЧ between A and B"},
        {"expect gen_f_hz between 1 and x", u"between: границы должны быть числами"},
        {"expect gen_f_hz between 5 and 1", u"between: нижняя граница больше верхней"},
        {"mark \"open", u"mark: текст в кавычках должен быть закрыт"},
        {"mark \"a\" \"b\"", u"mark: текст в кавычках должен быть закрыт"},
        {"mark", u"mark: нужен текст"},
        {"mark \"\"", u"mark: нужен текст"},
        {"frobnicate 1", u"неизвестный шаг \"frobnicate\" (send, wait, until, mark, expect)"},
        {"Send start", u"неизвестный шаг \"Send\" (send, wait, until, mark, expect)"},
    };
    QString text = QStringLiteral("send start\n");
    for (const auto& [line, message] : cases) text += QLatin1String(line) + u'\n';
    const Parsed parsed = parse(text);
    EXPECT_EQ(parsed.steps.size(), 1u);
    ASSERT_EQ(parsed.errors.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(parsed.errors[i].line, int(i) + 2) << cases[i].first;
        EXPECT_EQ(parsed.errors[i].message, QString::fromUtf16(cases[i].second)) << cases[i].first;
    }
}

}  // namespace
}  // namespace torvix::cli::script
