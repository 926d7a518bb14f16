#pragma once
// A test sequence for `run`: one step a line, parsed whole before anything is sent.

#include <QString>
#include <QStringList>
#include <variant>
#include <vector>

#include "protocol/request_table.h"
#include "record/status_record.h"

namespace torvix::cli::script {

// A condition on a number of the latest record: `gen_f_hz >= 49.5`, `x between 1 and 2`.
struct Condition {
    enum Op { Less, LessOrEqual, Greater, GreaterOrEqual, Equal, NotEqual, Between } op;
    QString key;
    double a = 0;
    double b = 0;  // the upper bound of Between
    QString text;  // as the events show it: "gen_f_hz >= 49.5"

    bool holds(double value) const;
    // Nothing when the record lacks the key.
    std::optional<bool> holdsFor(const record::StatusRecord& record) const;
    // "gen_f_hz = 48.2", what the record held, for a failure's report.
    QString shownIn(const record::StatusRecord& record) const;
};

struct Send {
    requests::Request request;
    QString words;  // as `send` takes them: "load on", "priority 5"
};
struct Wait {
    qint64 ms;
};
struct Until {
    Condition condition;
    qint64 withinMs;
};
struct Mark {
    QString text;
};
struct Expect {
    Condition condition;
};

struct Step {
    int line;      // 1-based, in the script file
    QString text;  // the step as written, blanks collapsed and the comment left off
    std::variant<Send, Wait, Until, Mark, Expect> action;
};

struct Error {
    int line;
    QString message;
};

struct Parsed {
    std::vector<Step> steps;
    std::vector<Error> errors;  // every line that does not parse; nothing runs when any does
};

Parsed parse(const QString& text);

// "500ms", "5s", "1.5s", "2min" in milliseconds: the durations of scripts and of --fuzz.
std::optional<qint64> durationOf(const QString& text);

}  // namespace torvix::cli::script
