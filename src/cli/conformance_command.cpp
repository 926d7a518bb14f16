// conformance and raw: the protocol test, and one frame of the user's own, through the safety
// gate of the protocol test.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>
#include <functional>

#include "cli/console.h"
#include "cli/junit_report.h"
#include "cli/line_choice.h"
#include "cli/run_commands.h"
#include "cli/stop_signals.h"
#include "conformance/suite.h"
#include "link/frame_trace.h"
#include "link/line_port.h"
#include "protocol/protocol.h"

namespace torvix::cli {
namespace {

using namespace conformance;

int exitWith(ExitCode code) {
    return static_cast<int>(code);
}

int fail(const Failure& failure) {
    tell(failure.message);
    return exitWith(failure.code);
}

// The port of the command line, open, with its arrivals handed to the runner.
struct OpenLine {
    LinePort port;
    QtClock clock;
    LineChoice line;
};

// The line of --port and --settings, else of тп.ini, opened; otherwise the failure to tell.
std::optional<Failure> openChosenLine(const Invocation& run, const QString& iniPath,
                                      OpenLine& open) {
    auto choice = chooseLine(run, iniPath);
    if (auto* failure = std::get_if<Failure>(&choice)) return std::move(*failure);
    open.line = std::get<LineChoice>(std::move(choice));
    open.port.setPortOverrides(open.line.overrides);
    return openLine(open.port, open.line);
}

std::vector<JunitCase> junitCases(const SuiteReport& report) {
    std::vector<JunitCase> cases;
    for (const CheckReport& check : report.checks) {
        CheckResult result;
        result.seconds = check.seconds;
        result.message = check.observed;
        switch (check.result) {
            case Result::Pass:
            case Result::Warn:
                result.state = CheckResult::Passed;
                break;
            case Result::Fail:
                result.state = CheckResult::Failed;
                break;
            case Result::Skip:
                result.state = CheckResult::NotRun;
                break;
        }
        cases.push_back({QString::fromLatin1(check.info->id), result});
    }
    return cases;
}

// The reply of raw in words, for functions 3, 4, 6, 16 and exceptions; empty otherwise.
QString decoded(const Bytes& request, const Bytes& reply) {
    using namespace protocol;
    if (reply.size() < 5 || !hasValidCrc(reply)) return {};
    const auto word = [](const Bytes& b, std::size_t at) { return b[at] << 8 | b[at + 1]; };
    const int function = reply[1];
    if (function & kExceptionFlag)
        return QStringLiteral("адрес %1, функция %2: %3")
            .arg(reply[0])
            .arg(function & ~kExceptionFlag)
            .arg(exceptionText(reply[2]));
    if ((function == kReadHoldingRegisters || function == kReadInputRegisters) &&
        reply.size() == std::size_t(5 + reply[2]) && request.size() >= 4) {
        const int first = word(request, 2);
        QStringList values;
        for (int n = 0; n < reply[2] / 2; ++n) {
            const int value = word(reply, 3 + 2 * std::size_t(n));
            values << QStringLiteral("%1=%2 (0x%3)")
                          .arg(first + n)
                          .arg(value)
                          .arg(value, 4, 16, QLatin1Char('0'));
        }
        return QStringLiteral("адрес %1, функция %2: %3")
            .arg(reply[0])
            .arg(function)
            .arg(values.join(u' '));
    }
    if (function == kWriteSingleRegister && reply.size() == 8)
        return QStringLiteral("адрес %1, функция 6: регистр %2 = %3")
            .arg(reply[0])
            .arg(word(reply, 2))
            .arg(word(reply, 4));
    if (function == kWriteMultipleRegisters && reply.size() == 8)
        return QStringLiteral("адрес %1, функция 16: с регистра %2 записано %3")
            .arg(reply[0])
            .arg(word(reply, 2))
            .arg(word(reply, 4));
    return {};
}

// The page needs QCustomPlot and so Qt Widgets: torvix-report beside this program draws it from
// the report's JSON and the turnarounds.
QString writeHtmlReport(const SuiteReport& report, const QString& path) {
    QTemporaryFile data;
    if (!data.open()) return QStringLiteral("временный файл не создаётся");
    QJsonObject json = report.toJson();
    QJsonArray turnarounds;
    for (double ms : report.turnaroundsMs) turnarounds.append(ms);
    json.insert(QStringLiteral("turnarounds_ms"), turnarounds);
    data.write(QJsonDocument(json).toJson(QJsonDocument::Compact));
    data.flush();
    const QString program =
        QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1("torvix-report"));
    QProcess process;
    // Qt's own notes of an offscreen start are no news to the user; only a failure's are.
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, {QStringLiteral("conformance"), data.fileName(), path});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("%1 не отработал").arg(program);
    if (process.exitCode() == 0) return {};
    return QStringLiteral("%1 не записан: %2")
        .arg(path, QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
}

}  // namespace

int runConformance(const Invocation& run, const QString& iniPath) {
    OpenLine open;
    if (const auto failure = openChosenLine(run, iniPath, open)) return fail(*failure);
    const LineChoice& line = open.line;

    SuiteOptions options;
    for (const QString& id : run.only) options.only.insert(id);
    for (const QString& id : run.skip) options.skip.insert(id);
    options.seed = run.seed.value_or(QRandomGenerator::system()->generate64() % 1000000000);
    options.fuzzSeconds = run.fuzzSeconds;
    options.allFunctions = run.allFunctions;
    options.whileRunning = run.whileRunning;
    if (run.fuzzSeconds) tell(QStringLiteral("--seed %1").arg(options.seed));

    Runner runner(open.port, open.clock, line.settings,
                  run.replyTimeoutSeconds.value_or(0.1) * 1000,
                  // The checks' frames are within both; only the fuzzer's may need the wider.
                  run.allFunctions ? Policy::AllFunctions : Policy::Probe);
    QObject::connect(&open.port, &LinePort::bytesArrived, [&runner] { runner.bytesArrived(); });
    Suite suite(runner, static_cast<std::uint8_t>(run.address), options);
    if (isTerminal(stderr))
        suite.onCheckStarted = [](const CheckInfo& info) {
            tell(QStringLiteral("%1 ...").arg(QString::fromLatin1(info.id)));
        };
    QEventLoop loop;
    SuiteReport report;
    suite.start([&](const SuiteReport& done) {
        report = done;
        loop.exit(0);
    });
    // Ctrl+C: what the checks found so far, as at the end.
    const StopSignals stop([&](int) {
        report = suite.interrupted();
        loop.exit(0);
    });
    loop.exec();
    (void)open.port.setPortOpen(false);

    if (report.outcome == SuiteReport::Outcome::NoAnswer) {
        tell(QStringLiteral("нет ответа на чтение состояния (%1, адрес %2)")
                 .arg(line.name())
                 .arg(run.address));
        return exitWith(ExitCode::NoAnswer);
    }
    if (report.outcome == SuiteReport::Outcome::SetRunning) {
        tell(QStringLiteral(
            "агрегат работает (частота генератора выше 0 или горит ДГУ): --fuzz не запущен, "
            "отправлено только чтение состояния; --while-running, если это сделано сознательно"));
        return exitWith(ExitCode::Usage);
    }
    put(stdout,
        run.json ? QString::fromUtf8(QJsonDocument(report.toJson()).toJson(QJsonDocument::Indented))
                 : report.toText());
    bool written = true;
    if (!run.junit.isEmpty() &&
        !writeJunit(run.junit, QStringLiteral("conformance"), junitCases(report))) {
        tell(QStringLiteral("%1: не записан").arg(run.junit));
        written = false;
    }
    if (!run.report.isEmpty()) {
        if (const QString why = writeHtmlReport(report, run.report); !why.isEmpty()) {
            tell(why);
            written = false;
        }
    }
    if (report.outcome == SuiteReport::Outcome::Interrupted) {
        tell(QStringLiteral("прервано (Ctrl+C)"));
        return exitWith(ExitCode::Interrupted);
    }
    if (report.outcome == SuiteReport::Outcome::ControllerLost) {
        for (const CheckReport& check : report.checks)
            if (check.result == Result::Fail && check.info == &kChecks.back()) tell(check.observed);
        return exitWith(ExitCode::NoAnswer);
    }
    if (report.count(Result::Fail) > 0) return exitWith(ExitCode::ExpectFailed);
    return exitWith(written ? ExitCode::Ok : ExitCode::Usage);
}

int runRaw(const Invocation& run, const QString& iniPath) {
    Bytes frame = run.rawFrame;
    if (!run.noCrc) protocol::appendCrc(frame);
    const Policy policy = run.allowCommands ? Policy::RawWithCommands : Policy::Raw;
    if (const auto why = refusal(frame, policy)) {
        tell(QStringLiteral("raw: не отправлено: %1").arg(*why));
        return exitWith(ExitCode::Usage);
    }
    OpenLine open;
    if (const auto failure = openChosenLine(run, iniPath, open)) return fail(*failure);
    const LineChoice& line = open.line;

    Runner runner(open.port, open.clock, line.settings,
                  run.replyTimeoutSeconds.value_or(0.1) * 1000, policy);
    QObject::connect(&open.port, &LinePort::bytesArrived, [&runner] { runner.bytesArrived(); });
    Probe probe;
    probe.parts = {frame};
    probe.replyBytes = protocol::normalReplyBytes(frame).value_or(protocol::kMaxFrameBytes);
    probe.wholeWindow = true;

    QEventLoop loop;
    QTimer pause;
    pause.setSingleShot(true);
    int sent = 0;
    bool anyValid = false;
    std::vector<double> replyMs;
    std::function<void()> send;
    send = [&] {
        const std::size_t logStart = runner.log().size();
        const double startMs = runner.nowMs();
        ++sent;
        runner.run(probe, [&, logStart, startMs](const Exchange& exchange) {
            QString text;
            for (std::size_t i = logStart; i < runner.log().size(); ++i) {
                const FrameRecord& f = runner.log()[i];
                text += f.tx ? QStringLiteral("tx %1  %2\n")
                                   .arg(f.tMs - exchange.requestEndMs, 9, 'f', 3)
                                   .arg(hexBytes(f.bytes))
                             : QStringLiteral("rx %1  %2\n")
                                   .arg(f.tMs - exchange.requestEndMs, 9, 'f', 3)
                                   .arg(hexBytes(f.bytes));
            }
            const Bytes& reply = exchange.reply;
            if (reply.empty()) {
                text += QStringLiteral("нет ответа\n");
            } else {
                const bool valid = protocol::hasValidCrc(reply);
                anyValid = anyValid || valid;
                text += valid ? QStringLiteral("КС верна\n") : QStringLiteral("КС неверна\n");
                if (const QString words = decoded(frame, reply); !words.isEmpty())
                    text += words + u'\n';
                replyMs.push_back(*exchange.lastByteMs - exchange.requestEndMs);
            }
            put(stdout, text);
            if (sent >= run.repeat) {
                loop.exit(0);
                return;
            }
            const double waitMs = run.intervalSeconds * 1000 - (runner.nowMs() - startMs);
            QObject::disconnect(&pause, nullptr, nullptr, nullptr);
            QObject::connect(&pause, &QTimer::timeout, [&] { send(); });
            pause.start(std::max(0, int(waitMs)));
        });
    };
    send();
    loop.exec();
    (void)open.port.setPortOpen(false);
    if (run.repeat > 1 && !replyMs.empty()) {
        const auto stats = responseStats(replyMs);
        put(stdout, QStringLiteral("%1 из %2 отвечены; ответ целиком после конца запроса, мс: "
                                   "мин %3, медиана %4, макс %5\n")
                        .arg(replyMs.size())
                        .arg(run.repeat)
                        .arg(stats->min, 0, 'f', 1)
                        .arg(stats->median, 0, 'f', 1)
                        .arg(stats->max, 0, 'f', 1));
    }
    return exitWith(anyValid ? ExitCode::Ok : ExitCode::NoAnswer);
}

}  // namespace torvix::cli
