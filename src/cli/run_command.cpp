// run: a test sequence of commands, waits and checks, executed while every status reply is
// recorded as monitor records it.

#include <QEventLoop>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QXmlStreamWriter>

#include "cli/console.h"
#include "cli/line_choice.h"
#include "cli/poll_session.h"
#include "cli/recorder.h"
#include "cli/run_commands.h"
#include "cli/script.h"
#include "cli/stop_signals.h"
#include "protocol/request_table.h"
#include "record/command_outcome.h"
#include "record/event_text.h"

namespace torvix::cli {
namespace {

using record::CommandOutcome;
using namespace script;

// After the last step, how long the events still waiting wait for a record to carry them.
constexpr int kLastRecordWaitMs = 1000;

// One `until` or `expect` as the JUnit report gives it.
struct CheckResult {
    enum State { NotRun, Passed, Failed, Interrupted } state = NotRun;
    QString message;
    double seconds = 0;
};

QString secondsText(double seconds) {
    return QString::number(seconds, 'f', 1);
}

// The steps the JUnit report has a test case for.
bool isCheck(const Step& step) {
    return std::holds_alternative<Until>(step.action) ||
           std::holds_alternative<Expect>(step.action);
}

// An until's events leave its time limit off: "until gen_f_hz >= 49.5".
QString untilText(const Step& step) {
    return step.text.section(QStringLiteral(" within "), 0, 0);
}

class ScriptRun {
public:
    ScriptRun(const Invocation& run, const std::vector<Step>& steps, Recorder& recorder,
              PollSession& session, QEventLoop& loop)
        : run_(run),
          steps_(steps),
          recorder_(recorder),
          session_(session),
          loop_(loop),
          checks_(steps.size()) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { onTimeout(); });
    }

    void start() { begin(); }

    void onTick(const TickOutcome& outcome, Recorder::Taken taken) {
        if (taken == Recorder::Taken::WriteFailed) {
            tell(QStringLiteral("запись не удалась, сценарий остановлен"));
            stopNow(ExitCode::Interrupted);
            return;
        }
        if (ending_) {
            if (taken == Recorder::Taken::Record) loop_.exit(int(code_));
            return;
        }
        if (index_ >= steps_.size()) return;
        const Step& step = steps_[index_];
        if (const auto* send = std::get_if<Send>(&step.action)) {
            onSendTick(*send, outcome);
        } else if (taken == Recorder::Taken::Record) {
            if (const auto* until = std::get_if<Until>(&step.action)) {
                if (until->condition.holdsFor(*recorder_.latest()).value_or(false)) {
                    pass(QStringLiteral("%1: выполнено за %2 с")
                             .arg(untilText(step), secondsText(stepSeconds())));
                }
            } else if (const auto* expect = std::get_if<Expect>(&step.action)) {
                check(expect->condition);
            }
        }
    }

    // Ctrl+C: nothing more goes out; the step under way and the rest did not run.
    void interrupt() {
        // All steps are over and the last events only wait for a record: the result stands.
        if (ending_) {
            stopNow(code_);
            return;
        }
        if (index_ < steps_.size() && isCheck(steps_[index_]))
            checks_[index_] = {CheckResult::Interrupted, QStringLiteral("прервано (Ctrl+C)"),
                               stepSeconds()};
        recorder_.addEvent(QStringLiteral("прервано (Ctrl+C)"));
        stopNow(ExitCode::Interrupted);
    }

    ExitCode code() const { return code_; }
    std::size_t stepsDone() const { return done_; }
    const std::vector<CheckResult>& checks() const { return checks_; }

private:
    double stepSeconds() const { return double(stepClock_.nsecsElapsed()) / 1e9; }

    void begin() {
        if (index_ >= steps_.size()) {
            end(expectFailed_ ? ExitCode::ExpectFailed : ExitCode::Ok);
            return;
        }
        const Step& step = steps_[index_];
        stepClock_.start();
        if (const auto* send = std::get_if<Send>(&step.action)) {
            const auto pdu = requests::pdu(send->request);
            if (!pdu || !session_.modbus().enqueue(pdu->bytes())) {
                tell(QStringLiteral("строка %1: запрос не принят в очередь").arg(step.line));
                end(ExitCode::Usage);
                return;
            }
            timer_.start(int(run_.timeoutSeconds * 1000));
        } else if (const auto* wait = std::get_if<Wait>(&step.action)) {
            recorder_.addEvent(step.text);
            timer_.start(int(wait->ms));
        } else if (const auto* until = std::get_if<Until>(&step.action)) {
            timer_.start(int(until->withinMs));
        } else if (const auto* mark = std::get_if<Mark>(&step.action)) {
            recorder_.addEvent(record::markEvent(mark->text));
            next();
        } else if (const auto* expect = std::get_if<Expect>(&step.action)) {
            // Before the first record there is nothing to check: the check waits for it.
            if (recorder_.latest())
                check(expect->condition);
            else
                timer_.start(int(run_.timeoutSeconds * 1000));
        }
    }

    void next() {
        timer_.stop();
        ++done_;
        ++index_;
        begin();
    }

    void onSendTick(const Send& send, const TickOutcome& outcome) {
        if (outcome.answeredRequest != send.request) return;
        // Judged as the window's markers and recording judge a click.
        const auto command = record::commandOf(outcome);
        if (!command) return;
        recorder_.addEvent(record::commandEvent(send.words, command->outcome));
        switch (command->outcome.kind) {
            case CommandOutcome::Executed:
                next();
                break;
            case CommandOutcome::Refused:
                end(ExitCode::ExceptionReply);
                break;
            case CommandOutcome::Busy:
            case CommandOutcome::NoAnswer:
                break;
        }
    }

    void check(const Condition& condition) {
        const Step& step = steps_[index_];
        const record::StatusRecord& latest = *recorder_.latest();
        if (condition.holdsFor(latest).value_or(false)) {
            pass(step.text + QStringLiteral(": выполнено"));
            return;
        }
        const QString why = QStringLiteral("не выполнено (%1)").arg(condition.shownIn(latest));
        checks_[index_] = {CheckResult::Failed, why, stepSeconds()};
        recorder_.addEvent(step.text + QStringLiteral(": ") + why);
        expectFailed_ = true;
        next();
    }

    void pass(const QString& event) {
        checks_[index_] = {CheckResult::Passed, {}, stepSeconds()};
        recorder_.addEvent(event);
        next();
    }

    void onTimeout() {
        if (ending_) {
            loop_.exit(int(code_));
            return;
        }
        const Step& step = steps_[index_];
        if (const auto* send = std::get_if<Send>(&step.action)) {
            recorder_.addEvent(record::commandEvent(send->words, {CommandOutcome::NoAnswer}));
            end(ExitCode::NoAnswer);
        } else if (std::holds_alternative<Wait>(step.action)) {
            next();
        } else if (const auto* until = std::get_if<Until>(&step.action)) {
            const record::StatusRecord* latest = recorder_.latest();
            const QString why = QStringLiteral("не выполнено за %1 с (%2)")
                                    .arg(secondsText(double(until->withinMs) / 1000),
                                         latest ? until->condition.shownIn(*latest)
                                                : QStringLiteral("нет записей"));
            checks_[index_] = {CheckResult::Failed, why, stepSeconds()};
            recorder_.addEvent(untilText(step) + QStringLiteral(": ") + why);
            end(ExitCode::NoAnswer);
        } else if (std::holds_alternative<Expect>(step.action)) {
            const QString why = QStringLiteral("не выполнено (нет записей)");
            checks_[index_] = {CheckResult::Failed, why, stepSeconds()};
            recorder_.addEvent(step.text + QStringLiteral(": ") + why);
            end(ExitCode::NoAnswer);
        }
    }

    // The sequence is over; the events still waiting go into the next record, if one comes.
    void end(ExitCode code) {
        code_ = code;
        ending_ = true;
        if (!recorder_.hasPendingEvents()) {
            loop_.exit(int(code_));
            return;
        }
        timer_.start(kLastRecordWaitMs);
    }

    void stopNow(ExitCode code) {
        code_ = code;
        ending_ = true;
        timer_.stop();
        loop_.exit(int(code_));
    }

    const Invocation& run_;
    const std::vector<Step>& steps_;
    Recorder& recorder_;
    PollSession& session_;
    QEventLoop& loop_;
    std::vector<CheckResult> checks_;
    QTimer timer_;
    QElapsedTimer stepClock_;
    std::size_t index_ = 0;
    std::size_t done_ = 0;
    bool expectFailed_ = false;
    bool ending_ = false;
    ExitCode code_ = ExitCode::Ok;
};

bool writeJunit(const QString& path, const QString& scriptPath, const std::vector<Step>& steps,
                const std::vector<CheckResult>& checks) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QString suite = QFileInfo(scriptPath).fileName();
    int tests = 0, failures = 0, skipped = 0;
    double total = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!isCheck(steps[i])) continue;
        ++tests;
        failures += checks[i].state == CheckResult::Failed;
        skipped +=
            checks[i].state == CheckResult::NotRun || checks[i].state == CheckResult::Interrupted;
        total += checks[i].seconds;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suite);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(total, 'f', 3));
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const CheckResult& check = checks[i];
        if (!isCheck(steps[i])) continue;
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suite);
        xml.writeAttribute(QStringLiteral("name"),
                           QStringLiteral("%1: %2").arg(steps[i].line).arg(steps[i].text));
        xml.writeAttribute(QStringLiteral("time"), QString::number(check.seconds, 'f', 3));
        if (check.state == CheckResult::Failed) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), check.message);
            xml.writeEndElement();
        } else if (check.state != CheckResult::Passed) {
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), check.state == CheckResult::Interrupted
                                                              ? check.message
                                                              : QStringLiteral("не выполнялось"));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && file.commit();
}

}  // namespace

int runScript(const Invocation& run, const QString& iniPath) {
    QFile scriptFile(run.script);
    if (!scriptFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
        tell(QStringLiteral("%1: %2").arg(run.script, scriptFile.errorString()));
        return int(ExitCode::Usage);
    }
    const script::Parsed parsed = script::parse(QString::fromUtf8(scriptFile.readAll()));
    for (const script::Error& error : parsed.errors)
        tell(QStringLiteral("%1:%2: %3").arg(run.script).arg(error.line).arg(error.message));
    if (!parsed.errors.empty()) return int(ExitCode::Usage);
    if (parsed.steps.empty()) {
        tell(QStringLiteral("%1: в сценарии нет шагов").arg(run.script));
        return int(ExitCode::Usage);
    }

    const auto choice = chooseLine(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&choice)) {
        tell(failure->message);
        return int(failure->code);
    }
    QFile out;
    if (const auto message = openOutput(run, out)) {
        tell(*message);
        return int(ExitCode::Usage);
    }
    PollSession session(std::get<LineChoice>(choice), run.address);
    if (const auto failure = session.open()) {
        tell(failure->message);
        return int(failure->code);
    }
    session.setCadence(run);
    Recorder recorder(run, out, run.output.isEmpty() && isTerminal(stdout), session);
    QEventLoop loop;
    ScriptRun sequence(run, parsed.steps, recorder, session, loop);
    const StopSignals stopSignals([&](int) { sequence.interrupt(); });
    session.start([&](const TickOutcome& outcome, std::optional<double> replyMs) {
        sequence.onTick(outcome, recorder.take(outcome, replyMs));
    });
    sequence.start();
    const int code = loop.exec();
    session.stop();
    recorder.finish();

    int checks = 0, failed = 0;
    for (std::size_t i = 0; i < parsed.steps.size(); ++i) {
        const auto state = sequence.checks()[i].state;
        checks += state == CheckResult::Passed || state == CheckResult::Failed;
        failed += state == CheckResult::Failed;
    }
    put(stderr, QStringLiteral("Шагов выполнено: %1 из %2; проверок: %3, не выполнено: %4\n")
                    .arg(sequence.stepsDone())
                    .arg(parsed.steps.size())
                    .arg(checks)
                    .arg(failed));
    if (!run.junit.isEmpty() &&
        !writeJunit(run.junit, run.script, parsed.steps, sequence.checks())) {
        tell(QStringLiteral("%1: отчёт JUnit не записан").arg(run.junit));
        if (code == int(ExitCode::Ok)) return int(ExitCode::Usage);
    }
    return code;
}

}  // namespace torvix::cli
