#include "cli/analyze_command.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <csignal>
#include <memory>
#include <optional>

#include "analysis/acceptance.h"
#include "analysis/analysis_text.h"
#include "analysis/transient_analysis.h"
#include "cli/console.h"
#include "cli/exit_code.h"

namespace torvix::cli {
namespace {

const char* const kAnalyzeHelp =
    "Reads a recording of `monitor` or `run` (CSV, a spreadsheet's CSV with ';' and decimal\n"
    "commas, or JSON lines) and finds the load steps: each answered `send load on|off|toggle`,\n"
    "or, when the record has none, each change of active power by more than 10 % of the rated\n"
    "power (without --rated-power, of the largest power in the record). For each step it\n"
    "gives the ISO 8528-5 figures: frequency and voltage deviation (% of rated) and recovery\n"
    "time (s) into the band of the step's class, the steady frequency band and voltage\n"
    "deviation over the 10 s before the step, and the best class of G3, G2, G1 whose limits\n"
    "(ISO 8528-5:2013 Table 4) all hold, or none. The test's class is its worst step's.\n"
    "A step's window ends at the next step, at a stopped or stopping set (an answered\n"
    "`send stop`, or f or U below half the rated value) or at the record's end; f_ss and U_ss\n"
    "are the means of its last 2 s. The steady state before a step starts no earlier than the\n"
    "previous step's recovery. A limit that a window or a steady state too short cannot show\n"
    "is not judged (\"н/о\" in the table, \"not_judged\" in JSON), and a note says why.\n"
    "--format json prints {\"rated\", \"steps\", \"class\"}; a figure that cannot be computed is\n"
    "null. Times are seconds from the first record.\n"
    "\n"
    "--limits FILE judges each step against a contract's limits beside the ISO class too:\n"
    "  {\"name\": \"Договор 17/2026\", \"increase\": {\"frequency_deviation_pct\": 7,\n"
    "   \"frequency_recovery_s\": 3, \"voltage_deviation_pct\": 15, \"voltage_recovery_s\": 2},\n"
    "   \"decrease\": {...the same keys...}, \"steady_frequency_band_pct\": 0.5,\n"
    "   \"steady_voltage_deviation_pct\": 1}\n"
    "every key but name optional, deviations as magnitudes in %. JSON then has \"contract\":\n"
    "\"pass\"|\"fail\" in each step and {\"name\", \"result\"} at the top.\n"
    "--report and --pdf write the acceptance protocol with the identification given by\n"
    "--title, --set, --customer, --site, --engineer and --note.\n"
    "\n"
    "Exit codes:\n"
    "  0  steps found\n"
    "  2  usage error, a file that cannot be read or does not parse (with the line), or a\n"
    "     limits file that is refused (with the key)\n"
    "  4  no load step in the record\n";

std::optional<double> positive(const QCommandLineParser& parser, const QCommandLineOption& option,
                               QString& error) {
    if (!parser.isSet(option)) return std::nullopt;
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0) {
        error = QStringLiteral("--%1: \"%2\" не положительное число")
                    .arg(option.names().constFirst(), parser.value(option));
        return std::nullopt;
    }
    return value;
}

int fail(const QString& message) {
    tell(message);
    return static_cast<int>(ExitCode::Usage);
}

bool wantsPictures(int argc, char* argv[]) {
    for (int i = 2; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        for (const char* name : {"--report", "--plot", "--pdf", "-report", "-plot", "-pdf"})
            if (arg == name || arg.startsWith(QByteArray(name) + '=')) return true;
    }
    return false;
}

volatile std::sig_atomic_t stopSignal = 0;

void noteStopSignal(int number) {
    stopSignal = number;
}

// The whole run, same arguments, to torvix-report beside this program; its exit code is ours.
int handOverToReportProgram(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath();
    const QString program =
        QStandardPaths::findExecutable(QString::fromLatin1(kReportProgram), {folder});
    if (program.isEmpty())
        return fail(
            QStringLiteral("analyze: для --report, --pdf и --plot нужна программа %1, её нет в %2")
                .arg(QString::fromLatin1(kReportProgram), QDir::toNativeSeparators(folder)));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(program, QCoreApplication::arguments().mid(1));
    if (!process.waitForStarted(-1))
        return fail(QStringLiteral("%1: %2").arg(program, process.errorString()));
    // Ctrl+C reaches both programs: this one waits for the report program to end, then ends
    // as an interrupted command does (128 + the signal), without calling that a crash.
    std::signal(SIGINT, noteStopSignal);
    std::signal(SIGTERM, noteStopSignal);
    process.waitForFinished(-1);
    if (stopSignal != 0) return 128 + stopSignal;
    if (process.exitStatus() == QProcess::CrashExit)
        return fail(QStringLiteral("%1 завершилась аварийно").arg(program));
    return process.exitCode();
}

}  // namespace

int analyzeMain(int argc, char* argv[], const Pictures* pictures) {
    std::unique_ptr<QCoreApplication> app;
    if (wantsPictures(argc, argv)) {
        if (!pictures) return handOverToReportProgram(argc, argv);
            // QCustomPlot draws on widgets: a QApplication (made by the caller, which links the
            // widgets) on the offscreen platform when there is no display.
#if !defined(_WIN32)
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        app.reset(pictures->makeApplication(argc, argv));
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("torvix-cli"));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Load steps of a recording and their ISO 8528-5 figures and class."));
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    const QCommandLineOption format("format", "table (default) or json.", "format", "table");
    const QCommandLineOption ratedPower("rated-power", "Rated active power of the set, kW.", "kW");
    const QCommandLineOption ratedFrequency("rated-frequency", "Rated frequency (default 50).",
                                            "Hz");
    const QCommandLineOption ratedVoltage("rated-voltage", "Rated phase voltage (default 230).",
                                          "V");
    const QCommandLineOption report("report", "Write the HTML report (self-contained) to FILE.",
                                    "file");
    const QCommandLineOption plot("plot", "Write the whole test's plot as PNG to FILE.", "file");
    const QCommandLineOption pdf("pdf", "Write the acceptance protocol as PDF (A4) to FILE.",
                                 "file");
    const QCommandLineOption limits("limits", "Judge the steps against a contract's limits (JSON).",
                                    "file");
    const QCommandLineOption title("title", "Title of the protocol.", "text");
    const QCommandLineOption set("set", "The generator set: type and serial number.", "text");
    const QCommandLineOption customer("customer", "The customer.", "text");
    const QCommandLineOption site("site", "Where the test ran.", "text");
    const QCommandLineOption engineer("engineer", "Who ran the test.", "text");
    const QCommandLineOption note("note", "A note for the protocol.", "text");
    parser.addOptions({help, format, ratedPower, ratedFrequency, ratedVoltage, report, pdf, plot,
                       limits, title, set, customer, site, engineer, note});
    parser.addPositionalArgument("analyze", "", "analyze");
    parser.addPositionalArgument("RECORD", "A CSV or JSON lines recording.");
    if (!parser.parse(QCoreApplication::arguments())) return fail(parser.errorText());
    if (parser.isSet(help)) {
        put(stdout, parser.helpText() + u'\n' + QString::fromUtf8(kAnalyzeHelp));
        return static_cast<int>(ExitCode::Ok);
    }
    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 1)
        return fail(QStringLiteral("analyze: нужен один файл записи (torvix-cli analyze --help)"));
    const QString formatName = parser.value(format);
    if (formatName != u"table" && formatName != u"json")
        return fail(QStringLiteral("--format: \"%1\" (допустимо: table, json)").arg(formatName));

    QString error;
    analysis::RatedValues rated;
    rated.powerKw = positive(parser, ratedPower, error);
    if (const auto f = positive(parser, ratedFrequency, error)) rated.frequencyHz = *f;
    if (const auto u = positive(parser, ratedVoltage, error)) rated.voltageV = *u;
    if (!error.isEmpty()) return fail(error);

    const QString path = positional.front();
    analysis::ReadResult read = analysis::readRecordingFile(path);
    if (const auto* bad = std::get_if<analysis::ReadError>(&read))
        return fail(
            bad->line > 0
                ? QStringLiteral("%1, строка %2: %3").arg(path).arg(bad->line).arg(bad->message)
                : bad->message);
    std::optional<analysis::ContractLimits> contract;
    if (parser.isSet(limits)) {
        auto parsed = analysis::readContractLimitsFile(parser.value(limits));
        if (const auto* refused = std::get_if<QString>(&parsed))
            return fail(QStringLiteral("--limits: ") + *refused);
        contract = std::get<analysis::ContractLimits>(std::move(parsed));
    }
    const analysis::Identification identification{
        .title = parser.value(title).trimmed(),
        .set = parser.value(set).trimmed(),
        .customer = parser.value(customer).trimmed(),
        .site = parser.value(site).trimmed(),
        .engineer = parser.value(engineer).trimmed(),
        .note = parser.value(note).trimmed(),
    };

    const analysis::Recording& recording = std::get<analysis::Recording>(read);
    analysis::Analysis result = analysis::analyze(recording, rated);
    if (contract) analysis::judgeContract(result, *contract);

    if (formatName == u"json") {
        put(stdout, QString::fromUtf8(analysis::jsonReport(result)));
        for (const QString& line : result.notes) tell(line);
    } else {
        put(stdout, analysis::tableReport(result));
    }
    // Only a spelling the scan above does not know reaches here without pictures.
    if ((parser.isSet(report) || parser.isSet(pdf) || parser.isSet(plot)) && !pictures)
        return fail(QStringLiteral(
                        "analyze: --report, --pdf и --plot рисует %1; укажите их как --report ФАЙЛ")
                        .arg(QString::fromLatin1(kReportProgram)));
    for (const auto& [option, writer] :
         {std::pair{&report, pictures ? pictures->writeReport : nullptr},
          std::pair{&pdf, pictures ? pictures->writePdf : nullptr},
          std::pair{&plot, pictures ? pictures->writePlot : nullptr}}) {
        if (!parser.isSet(*option)) continue;
        const QString failed = writer(result, recording, identification, parser.value(*option));
        if (!failed.isEmpty()) return fail(failed);
    }
    return static_cast<int>(result.steps.empty() ? ExitCode::NoAnswer : ExitCode::Ok);
}

}  // namespace torvix::cli
