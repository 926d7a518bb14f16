// read, send and ports: one exchange (repeated until answered) or one look at the ports.

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include "cli/cli_words.h"
#include "cli/console.h"
#include "cli/line_choice.h"
#include "cli/poll_session.h"
#include "cli/ports_listing.h"
#include "cli/run_commands.h"
#include "protocol/protocol.h"
#include "protocol/request_table.h"
#include "record/record_writers.h"
#include "settings/config_file.h"

namespace torvix::cli {
namespace {

using namespace torvix::record;

constexpr int kReadDeadlineMs = 1000;

int exitWith(ExitCode code) {
    return static_cast<int>(code);
}

int fail(const Failure& failure) {
    tell(failure.message);
    return exitWith(failure.code);
}

// What the ticks so far have seen instead of a valid answer, for the message at the deadline.
struct LastTrouble {
    std::optional<int> exception;
    QString text = trouble(Verdict::NoAnswer, 0);

    void note(const TickOutcome& outcome) {
        exception.reset();
        if (outcome.verdict == Verdict::Exception) exception = outcome.exceptionCode;
        if (outcome.verdict != Verdict::Answered)
            text = trouble(outcome.verdict, outcome.exceptionCode);
    }
    ExitCode code() const { return exception ? ExitCode::ExceptionReply : ExitCode::NoAnswer; }
};

}  // namespace

int runRead(const Invocation& run, const QString& iniPath) {
    const auto choice = chooseLine(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&choice)) return fail(*failure);
    LineSession line(std::get<LineChoice>(choice), run.address);
    PollSession& session = line.session;
    if (const auto failure = line.open()) return fail(*failure);

    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) return exitWith(ExitCode::Usage);
    const auto writer = makeRecordWriter(run.format.value_or(Format::Table), out, false);

    QEventLoop loop;
    LastTrouble trouble;
    session.start([&](const TickOutcome& outcome, std::optional<double>) {
        if (outcome.answered.empty()) return;
        if (outcome.verdict == Verdict::Answered) {
            if (outcome.status) {
                const bool written =
                    writer->write(RecordClock().now(), statusRecord(*outcome.status));
                loop.exit(exitWith(written ? ExitCode::Ok : ExitCode::Usage));
            }
            return;
        }
        trouble.note(outcome);
        // Busy is asked again at the next tick; any other refusal is final.
        if (outcome.verdict == Verdict::Exception && outcome.retired) {
            tell(QStringLiteral("чтение состояния: %1").arg(trouble.text));
            loop.exit(exitWith(ExitCode::ExceptionReply));
        }
    });
    QTimer::singleShot(kReadDeadlineMs, &loop, [&] {
        tell(QStringLiteral("нет верного ответа за 1 с: %1").arg(trouble.text));
        loop.exit(exitWith(trouble.code()));
    });
    const int code = loop.exec();
    session.stop();
    return code;
}

int runSend(const Invocation& run, const QString& iniPath) {
    const auto request = requests::pdu(run.operatorCommand);
    if (!request) return fail({ExitCode::Usage, QStringLiteral("send: команда не построена")});
    const auto choice = chooseLine(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&choice)) return fail(*failure);
    LineSession line(std::get<LineChoice>(choice), run.address);
    PollSession& session = line.session;
    if (const auto failure = line.open()) return fail(*failure);
    if (!session.modbus().enqueue(*request))
        return fail({ExitCode::Usage, QStringLiteral("send: запрос не принят в очередь")});

    QEventLoop loop;
    LastTrouble trouble;
    const QString name = requests::name(run.operatorCommand);
    session.start([&](const TickOutcome& outcome, std::optional<double>) {
        if (outcome.answeredRequest != run.operatorCommand) return;
        if (outcome.verdict == Verdict::Answered) {
            tell(QStringLiteral("%1: выполнено").arg(name));
            loop.exit(exitWith(ExitCode::Ok));
            return;
        }
        trouble.note(outcome);
        if (outcome.verdict != Verdict::Exception || !outcome.retired) return;
        // The window counts exception 5 (accepted, being carried out) as executed.
        if (outcome.exceptionCode == protocol::exception_code::kAcknowledge) {
            tell(QStringLiteral("%1: %2, команда принята").arg(name, trouble.text));
            loop.exit(exitWith(ExitCode::Ok));
            return;
        }
        tell(QStringLiteral("%1: %2").arg(name, trouble.text));
        loop.exit(exitWith(ExitCode::ExceptionReply));
    });
    QTimer::singleShot(static_cast<int>(run.timeoutSeconds * 1000), &loop, [&] {
        tell(QStringLiteral("%1: нет верного ответа за %2 с: %3")
                 .arg(name)
                 .arg(run.timeoutSeconds)
                 .arg(trouble.text));
        loop.exit(exitWith(trouble.code()));
    });
    const int code = loop.exec();
    session.stop();
    return code;
}

int runPorts(const QString& iniPath) {
    put(stdout, portsListing(ConfigFile(iniPath).readPortOverrides()));
    return exitWith(ExitCode::Ok);
}

}  // namespace torvix::cli
