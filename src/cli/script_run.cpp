#include "cli/script_run.h"

#include "cli/console.h"
#include "protocol/request_table.h"
#include "record/command_outcome.h"
#include "record/event_text.h"

namespace torvix::cli {
namespace {

using record::CommandOutcome;
using namespace script;

// After the last step, how long the events still waiting wait for a record to carry them.
constexpr int kLastRecordWaitMs = 1000;

QString secondsText(double seconds) {
    return QString::number(seconds, 'f', 1);
}

// An until's events leave its time limit off: "until gen_f_hz >= 49.5".
QString untilText(const Step& step) {
    return step.text.section(QStringLiteral(" within "), 0, 0);
}

}  // namespace

ScriptRun::ScriptRun(const Invocation& run, const std::vector<Step>& steps, Recorder& recorder,
                     PollSession& session)
    : run_(run),
      steps_(steps),
      recorder_(recorder),
      session_(session),
      checks_(steps.size()),
      timer_(session.clock().timer([this] { onTimeout(); })) {}

void ScriptRun::start() {
    begin();
}

void ScriptRun::onTick(const TickOutcome& outcome, Recorder::Taken taken) {
    if (taken == Recorder::Taken::WriteFailed) {
        tell(QStringLiteral("запись не удалась, сценарий остановлен"));
        stopNow(ExitCode::Interrupted);
        return;
    }
    if (ending_) {
        if (taken == Recorder::Taken::Record) finish();
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

void ScriptRun::interrupt() {
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

double ScriptRun::stepSeconds() const {
    return double(session_.clock().nowNs() - stepStartNs_) / 1e9;
}

void ScriptRun::begin() {
    if (index_ >= steps_.size()) {
        end(expectFailed_ ? ExitCode::ExpectFailed : ExitCode::Ok);
        return;
    }
    const Step& step = steps_[index_];
    stepStartNs_ = session_.clock().nowNs();
    if (const auto* send = std::get_if<Send>(&step.action)) {
        const auto pdu = requests::pdu(send->request);
        if (!pdu || !session_.modbus().enqueue(pdu->bytes())) {
            tell(QStringLiteral("строка %1: запрос не принят в очередь").arg(step.line));
            end(ExitCode::Usage);
            return;
        }
        timer_->start(int(run_.timeoutSeconds * 1000));
    } else if (const auto* wait = std::get_if<Wait>(&step.action)) {
        recorder_.addEvent(step.text);
        timer_->start(int(wait->ms));
    } else if (const auto* until = std::get_if<Until>(&step.action)) {
        timer_->start(int(until->withinMs));
    } else if (const auto* mark = std::get_if<Mark>(&step.action)) {
        recorder_.addEvent(record::markEvent(mark->text));
        next();
    } else if (const auto* expect = std::get_if<Expect>(&step.action)) {
        // Before the first record there is nothing to check: the check waits for it.
        if (recorder_.latest())
            check(expect->condition);
        else
            timer_->start(int(run_.timeoutSeconds * 1000));
    }
}

void ScriptRun::next() {
    timer_->stop();
    ++done_;
    ++index_;
    begin();
}

void ScriptRun::onSendTick(const Send& send, const TickOutcome& outcome) {
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

void ScriptRun::check(const Condition& condition) {
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

void ScriptRun::pass(const QString& event) {
    checks_[index_] = {CheckResult::Passed, {}, stepSeconds()};
    recorder_.addEvent(event);
    next();
}

void ScriptRun::onTimeout() {
    if (ending_) {
        finish();
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
        const QString why =
            QStringLiteral("не выполнено за %1 с (%2)")
                .arg(secondsText(double(until->withinMs) / 1000),
                     latest ? until->condition.shownIn(*latest) : QStringLiteral("нет записей"));
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
void ScriptRun::end(ExitCode code) {
    code_ = code;
    ending_ = true;
    if (!recorder_.hasPendingEvents()) {
        finish();
        return;
    }
    timer_->start(kLastRecordWaitMs);
}

void ScriptRun::stopNow(ExitCode code) {
    code_ = code;
    ending_ = true;
    timer_->stop();
    finish();
}

void ScriptRun::finish() {
    if (ended_) return;
    ended_ = true;
    timer_->stop();
    if (onEnd_) onEnd_();
}

int playScript(const Invocation& run, const std::vector<Step>& steps, PollSession& session,
               Recorder& recorder, const std::function<void(ScriptRun&)>& waitForEnd) {
    ScriptRun sequence(run, steps, recorder, session);
    session.start([&](const TickOutcome& outcome, std::optional<double> replyMs) {
        sequence.onTick(outcome, recorder.take(outcome, replyMs));
    });
    sequence.start();
    waitForEnd(sequence);
    session.stop();
    recorder.finish();

    int checks = 0, failed = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto state = sequence.checks()[i].state;
        checks += state == CheckResult::Passed || state == CheckResult::Failed;
        failed += state == CheckResult::Failed;
    }
    put(stderr, QStringLiteral("Шагов выполнено: %1 из %2; проверок: %3, не выполнено: %4\n")
                    .arg(sequence.stepsDone())
                    .arg(steps.size())
                    .arg(checks)
                    .arg(failed));
    const int code = int(sequence.code());
    if (!run.junit.isEmpty() && !writeJunit(run.junit, run.script, steps, sequence.checks())) {
        tell(QStringLiteral("%1: отчёт JUnit не записан").arg(run.junit));
        if (code == int(ExitCode::Ok)) return int(ExitCode::Usage);
    }
    return code;
}

}  // namespace torvix::cli
