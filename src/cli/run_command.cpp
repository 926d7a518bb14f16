// run: a test sequence of commands, waits and checks, executed while every status reply is
// recorded as monitor records it.

#include <QEventLoop>
#include <QFile>

#include "cli/console.h"
#include "cli/line_choice.h"
#include "cli/poll_session.h"
#include "cli/recorder.h"
#include "cli/run_commands.h"
#include "cli/script.h"
#include "cli/script_run.h"
#include "cli/stop_signals.h"

namespace torvix::cli {

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
    LineSession line(std::get<LineChoice>(choice), run.address);
    PollSession& session = line.session;
    if (const auto failure = line.open()) {
        tell(failure->message);
        return int(failure->code);
    }
    session.setCadence(run);
    Recorder recorder(run, out, run.output.isEmpty() && isTerminal(stdout), session);
    // Signals are read on the event loop, which runs only once the sequence is there.
    ScriptRun* sequence = nullptr;
    const StopSignals stopSignals([&](int) {
        if (sequence) sequence->interrupt();
    });
    return playScript(run, parsed.steps, session, recorder, [&](ScriptRun& running) {
        sequence = &running;
        QEventLoop loop;
        running.setOnEnd([&] { loop.exit(); });
        if (!running.ended()) loop.exec();
        sequence = nullptr;
    });
}

}  // namespace torvix::cli
