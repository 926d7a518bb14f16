#include "cli/command_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <array>
#include <cmath>

#include "cli/command_words.h"
#include "cli/exit_code.h"
#include "cli/script.h"
#include "conformance/checks.h"
#include "protocol/request_table.h"
#include "scan/scan_plan.h"
#include "torvix_version.h"

namespace torvix::cli {
namespace {

const char* const kSummary =
    "torvix-cli: reads, records and commands one Torvix controller over Modbus RTU.\n"
    "\n"
    "Commands:\n"
    "  read                 one status read, printed as a table\n"
    "  monitor              poll every 100 ms and print or record each status reply\n"
    "  send COMMAND         send one operator command, repeated until answered\n"
    "  ports                ports 1..16: the device each stands for, free, busy or missing\n"
    "  run SCRIPT           run a test sequence (commands, waits, checks) while recording\n"
    "  analyze RECORD       load steps of a recording: ISO 8528-5 figures, class, report\n"
    "  cut RECORD           the records between two times or marks, as recorded or for Excel\n"
    "  conformance          the protocol test: Modbus RTU conformance and robustness\n"
    "  raw BYTES            send one frame of your own and show every byte that comes back\n"
    "  scan                 find the controller: which port, line settings and address\n"
    "\n"
    "Without --port and --settings the port comes from \"COM\", \"COMSettings\" and \"Ports\" of\n"
    "тп.ini, which is only read (a missing file means COM1, 115200,e,8,1): beside the program,\n"
    "or in ~/.local/share/torvix for the programs of the Debian package.\n"
    "`torvix-cli COMMAND --help` describes a command.\n";

const char* const kSendHelp =
    "COMMAND is one of:\n"
    "  start | stop | ack\n"
    "  load on|off|toggle  |  section on|off|toggle  |  autostart on|off|toggle\n"
    "  priority N  |  section-number N  |  neighbour N      (N from 0 to 7)\n"
    "The frames are those of the window's buttons. The request is repeated every 100 ms\n"
    "until the controller answers it (exception 6, busy, is repeated too), at most --timeout.\n";

const char* const kMonitorHelp =
    "On a terminal the table refreshes in place. Piped, or with --output, one record is\n"
    "written per valid status reply (CSV with a header row, or JSON lines), flushed at once.\n"
    "Keys name what they measure (gen_u_a_v, gen_f_hz ...); the README lists them with units.\n"
    "Ctrl+C ends it with a summary on stderr: requests, valid replies, CRC mismatches, no\n"
    "answers, exceptions and the reply time (end of the request on the line to the reply's\n"
    "last byte). Exits 0 after at least one valid status reply, 4 when none came.\n"
    "--trace prints every frame on stderr: time in ms since the start, direction, bytes and\n"
    "the verdict. With --trace on a terminal the in-place table gives way to the trace.\n"
    "--fast sends the next request as soon as the last one's reply is complete, instead of\n"
    "one every 100 ms: as many status records as the line carries.\n";

const char* const kRunHelp =
    "SCRIPT is a text file, one step a line, # starts a comment:\n"
    "  send COMMAND                     any send command; waits until answered\n"
    "  wait 5s                          500ms, 5s, 2min\n"
    "  until KEY >= 49.5 within 30s     < <= > >= == != or `between A and B`\n"
    "  mark \"text\"                      an event in the record\n"
    "  expect KEY between 220 and 240   checks the latest record\n"
    "KEY is a record key with a number (gen_f_hz, gen_u_a_v, lamp_alarm ...). Records are\n"
    "written as by monitor, with each step, command outcome and mark in the `events` column\n"
    "and on stderr. A refused or unanswered send, or an until not met in time, ends the\n"
    "sequence; a failed expect is reported and the sequence goes on. A script that does not\n"
    "parse is reported line by line and nothing is sent (exit 2). Ctrl+C stops at once.\n"
    "--junit FILE writes a JUnit XML report, one test case per until and expect.\n";

const char* const kPortsHelp =
    "Prints one line per port number 1..16: the number, its state and the device it stands\n"
    "for (the fixed table, or section \"Ports\" of тп.ini). States: free, busy (held by\n"
    "another program), denied (no permission), missing (no such device), error.\n";

const char* const kConformanceHelp =
    "Reads the status block first (no answer at all: exit 4), then runs the checks below in\n"
    "this order; --only and --skip take ids separated by commas. Each waits for the wire time\n"
    "of request and reply at the line speed plus --reply-timeout (default 0.1 s).\n"
    "Safety: with a right CRC and the controller's address only reads (functions 1-4),\n"
    "function 8 sub-function 0, the counter 400 written alone and the reserved function 0x21\n"
    "are sent; never 401/402 (the commands) or any other register, never another function 8\n"
    "sub-function (4 puts a slave into listen-only mode), never a user-defined code (65-72,\n"
    "100-110). To address 0 only the status read. Every other frame of the fuzzer has a bad\n"
    "CRC; --all-functions lets it send every public function that reads or is not assigned,\n"
    "never a write. The reserved function is 0x21 (33): public, assigned to nothing and not\n"
    "kept for legacy devices, so a conformant slave refuses it with exception 1 and nothing\n"
    "acts on it (9, 10, 13, 14 programmed old Modicon PLCs, 125 replaces firmware).\n"
    "--fuzz DURATION (e.g. 60s) runs the robustness check after the others, seeded by --seed\n"
    "(printed; the same seed sends the same frames). It refuses a running set (generator\n"
    "frequency above 0 or lamp ДГУ lit) unless --while-running: exit 2, only reads sent.\n"
    "--format json prints one JSON object; --junit FILE one test case per check; --report\n"
    "FILE.html a self-contained page with every frame and the response time histogram.\n"
    "Exit: 0 every check passed (warn allowed), 5 a check failed, 4 no answer at all or the\n"
    "controller stopped answering the fuzzer, 1 port, 2 usage, 130 Ctrl+C (the table of the\n"
    "checks done so far is printed).\n";

const char* const kRawHelp =
    "BYTES are hexadecimal, one byte each: raw 07 04 01 2C 00 01. The CRC is appended unless\n"
    "--no-crc. Every byte that comes back within the wire time plus --reply-timeout (default\n"
    "0.1 s) is printed with its time in ms after the request's end, then the CRC verdict and,\n"
    "for functions 3, 4, 6, 16 and exceptions, the decoded reply. --repeat N sends it N times,\n"
    "--interval apart (default 100ms), and prints the reply times. A frame that writes the\n"
    "command registers 401 or 402 is refused unless --allow-commands: it would command the set.\n"
    "Exit: 0 a reply with a right CRC came (an exception reply too), 4 none did, 1 port, 2 usage\n"
    "or a refused frame.\n";

const char* const kScanHelp =
    "Probes ports x line settings x addresses with a read of one register (function 4,\n"
    "register 300) and knows a controller by a well-formed reply or an exception from that\n"
    "address; nothing is ever written and address 0 is never probed. The port and settings of\n"
    "тп.ini go first, address 7 first on each, then the other addresses, settings and ports.\n"
    "Defaults: ports 1..16 and every other serial port the system lists; the 20 settings\n"
    "115200, 57600, 38400, 19200, 9600 baud with e,8,1  n,8,1  o,8,1  n,8,2; addresses\n"
    "1-247. A device server (tcp://) is probed for addresses only. Each probe waits for the\n"
    "request and reply on the line plus --reply-timeout. Stops at the first controller found\n"
    "unless --all. Progress goes to stderr on a terminal; busy, missing and denied ports and\n"
    "ports with traffic but no reply are reported. Ctrl+C stops and prints what was found.\n"
    "--format json prints {\"found\": [...], \"busy\": [...], \"activity_without_reply\": [...],\n"
    "\"probes\": N, \"seconds\": S}.\n"
    "Exits 0 when a controller was found, 4 when none, 1 when no port could be opened, 130\n"
    "when stopped by Ctrl+C.\n";

struct CommandInfo {
    Command command;
    const char* name;
    const char* summary;
    const char* help;
};
constexpr std::array<CommandInfo, 8> kCommands{{
    {Command::Read, "read", "Reads the status block once and prints it (default: as a table).",
     "Exits 4 when no valid reply comes within 1 s, 3 on an exception reply.\n"},
    {Command::Monitor, "monitor", "Polls every 100 ms and prints or records each status reply.",
     kMonitorHelp},
    {Command::Send, "send", "Sends one operator command, as the window's button does.", kSendHelp},
    {Command::Ports, "ports", "Lists the ports 1..16.", kPortsHelp},
    {Command::Run, "run", "Runs a test sequence while recording every status reply.", kRunHelp},
    {Command::Conformance, "conformance",
     "Checks the controller's Modbus RTU conformance and robustness.", kConformanceHelp},
    {Command::Raw, "raw", "Sends one frame and prints every byte that comes back.", kRawHelp},
    {Command::Scan, "scan", "Finds the controller: port, line settings and slave address.",
     kScanHelp},
}};

// The checks of `conformance --help`: id, what is sent, whether it may warn.
QString conformanceChecks() {
    QString text = QStringLiteral("Checks (id, sends, may warn):\n");
    for (const auto& check : conformance::kChecks)
        text += QStringLiteral("  %1%2%3")
                    .arg(QString::fromLatin1(check.id).leftJustified(24))
                    .arg(QString::fromUtf8(check.sends).leftJustified(62))
                    .arg(check.mayWarn ? QStringLiteral("warn") : QString())
                    .trimmed()
                    .prepend(QStringLiteral("  ")) +
                u'\n';
    text += QStringLiteral(
        "illegal-function warns on exception 2 to a read (served, only not that register);\n"
        "split-frame warns when the halves are answered as one frame: the standard asks a\n"
        "slave to drop a frame with a gap of 1.5 characters, yet only recommends it at high\n"
        "speeds.\n");
    return text;
}

// The commands as the help's argument line and a missing command's message name them;
// `analyze` and `cut` are taken before the others are parsed (analyze may need torvix-report).
QString commandNames(const QString& lastSeparator) {
    QStringList names;
    for (const auto& command : kCommands) names << QString::fromLatin1(command.name);
    return names.join(QStringLiteral(", ")) + QStringLiteral(", analyze") + lastSeparator +
           QStringLiteral("cut");
}

struct Options {
    QCommandLineOption port{"port",
                            "Port number (5, COM5), device path, or a serial device server as "
                            "tcp://HOST:PORT (its own line settings apply, not --settings).",
                            "port"};
    QCommandLineOption settings{
        "settings", QStringLiteral("Line settings, e.g. %1.").arg(defaults::kLineSettings),
        "settings"};
    QCommandLineOption address{"address",
                               QStringLiteral("Slave address %1..%2 (default %3).")
                                   .arg(defaults::kLowestSlaveAddress)
                                   .arg(defaults::kHighestSlaveAddress)
                                   .arg(defaults::kSlaveAddress),
                               "n", QString::number(defaults::kSlaveAddress)};
    QCommandLineOption timeout{"timeout", "Seconds to wait for the answer (default 3).", "s", "3"};
    QCommandLineOption format{"format", "table, csv or jsonl.", "format"};
    QCommandLineOption output{"output", "Write the records to FILE.", "file"};
    QCommandLineOption count{"count", "Stop after N records.", "n"};
    QCommandLineOption duration{"duration", "Stop after S seconds.", "s"};
    QCommandLineOption trace{"trace", "Print every frame sent and received."};
    QCommandLineOption fast{"fast", "Next request as soon as the reply is complete."};
    QCommandLineOption replyTimeout{"reply-timeout",
                                    "With --fast: seconds to wait for a reply (default: its time "
                                    "on the line + 0.05).",
                                    "s"};
    QCommandLineOption junit{"junit", "Write a JUnit XML report to FILE.", "file"};
    QCommandLineOption report{"report", "Write a self-contained HTML report to FILE.", "file"};
    QCommandLineOption only{"only", "Run only these checks (ids, comma-separated).", "ids"};
    QCommandLineOption skip{"skip", "Leave out these checks (ids, comma-separated).", "ids"};
    QCommandLineOption fuzz{"fuzz", "Run the robustness check this long (60s, 2min).", "duration"};
    QCommandLineOption seed{"seed", "Seed of the fuzzer (default: from the clock, printed).", "n"};
    QCommandLineOption allFunctions{"all-functions",
                                    "Fuzz every public function that reads or is not assigned."};
    QCommandLineOption whileRunning{"while-running", "Fuzz even while the set is running."};
    QCommandLineOption noCrc{"no-crc", "raw: send the bytes as typed, without a CRC."};
    QCommandLineOption allowCommands{"allow-commands",
                                     "raw: let the frame write the command registers 401/402."};
    QCommandLineOption repeat{"repeat", "raw: send the frame N times.", "n", "1"};
    QCommandLineOption interval{"interval", "raw: between repeats (default 100ms).", "duration",
                                "100ms"};
    QCommandLineOption ports{
        "ports", "Ports to scan: 1-16, 5,7,23, COM17, device paths, tcp://HOST:PORT.", "list"};
    QCommandLineOption settingsList{"settings-list",
                                    "Line settings to try, e.g. 115200,e,8,1;19200,e,8,1.", "list"};
    QCommandLineOption addresses{"addresses", "Addresses to probe (default 1-247).", "range"};
    QCommandLineOption all{"all",
                           "Go on after the first controller: every address, port, setting."};
    QCommandLineOption scanFormat{"format", "text or json.", "format"};
    QCommandLineOption scanReplyTimeout{
        "reply-timeout", "Seconds a probe waits beyond its time on the line (default 0.05).", "s"};
    QCommandLineOption help{QStringList{"h", "help"}, "Show this help."};
    QCommandLineOption version{"version", "Show the version."};

    QList<QCommandLineOption> global() const { return {port, settings, address, help, version}; }
    QList<QCommandLineOption> of(Command command) const {
        QList<QCommandLineOption> list = global();
        if (command == Command::Read) list << format;
        if (command == Command::Monitor)
            list << format << output << count << duration << trace << fast << replyTimeout;
        if (command == Command::Send) list << timeout;
        if (command == Command::Run)
            list << format << output << trace << fast << replyTimeout << timeout << junit;
        if (command == Command::Conformance)
            list << format << replyTimeout << junit << report << only << skip << fuzz << seed
                 << allFunctions << whileRunning;
        if (command == Command::Raw)
            list << replyTimeout << noCrc << allowCommands << repeat << interval;
        if (command == Command::Scan) {
            // The port and settings come from --ports and --settings-list.
            list = {help,      version, ports,      settingsList,
                    addresses, all,     scanFormat, scanReplyTimeout};
        }
        return list;
    }
};

Parsed usageError(const QString& message) {
    return {
        std::nullopt,
        QStringLiteral("torvix-cli: %1\nСправка: torvix-cli --help, torvix-cli COMMAND --help\n")
            .arg(message),
        true, static_cast<int>(ExitCode::Usage)};
}

Parsed printed(const QString& text) {
    return {std::nullopt, text, false, static_cast<int>(ExitCode::Ok)};
}

QString helpText(QCommandLineParser& parser, const char* body) {
    return parser.helpText() + u'\n' + QString::fromUtf8(body) + u'\n' +
           QString::fromUtf8(kExitCodeHelp);
}

std::optional<double> positiveSeconds(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0) return std::nullopt;
    return value;
}

// --reply-timeout when given; a usage error when it is not a positive number of seconds.
std::optional<Parsed> readReplyTimeout(const QCommandLineParser& parser,
                                       const QCommandLineOption& option, Invocation& run) {
    if (!parser.isSet(option)) return std::nullopt;
    run.replyTimeoutSeconds = positiveSeconds(parser.value(option));
    if (run.replyTimeoutSeconds) return std::nullopt;
    return usageError(QStringLiteral("--reply-timeout: \"%1\" не положительное число секунд")
                          .arg(parser.value(option)));
}

// --format text|json of the commands that print one result.
std::optional<Parsed> readTextOrJson(const QCommandLineParser& parser,
                                     const QCommandLineOption& option, Invocation& run) {
    if (!parser.isSet(option)) return std::nullopt;
    const QString format = parser.value(option);
    if (format != u"text" && format != u"json")
        return usageError(QStringLiteral("--format: \"%1\" (допустимо: text, json)").arg(format));
    run.json = format == u"json";
    return std::nullopt;
}

// The options of conformance and raw; a usage error when one does not parse.
std::optional<Parsed> parseProbeOptions(const QCommandLineParser& parser, const Options& options,
                                        Invocation& run) {
    constexpr double kDefaultReplyTimeoutSeconds = 0.1;
    run.replyTimeoutSeconds = kDefaultReplyTimeoutSeconds;
    if (auto failure = readReplyTimeout(parser, options.replyTimeout, run)) return failure;
    if (run.command == Command::Raw) {
        run.noCrc = parser.isSet(options.noCrc);
        run.allowCommands = parser.isSet(options.allowCommands);
        bool ok = false;
        run.repeat = parser.value(options.repeat).toInt(&ok);
        if (!ok || run.repeat < 1)
            return usageError(QStringLiteral("--repeat: \"%1\" не целое число больше 0")
                                  .arg(parser.value(options.repeat)));
        const auto interval = script::durationOf(parser.value(options.interval));
        if (!interval)
            return usageError(QStringLiteral("--interval: нужна длительность вида 500ms, 5s"));
        run.intervalSeconds = double(*interval) / 1000;
        return std::nullopt;
    }
    if (auto failure = readTextOrJson(parser, options.format, run)) return failure;
    run.junit = parser.value(options.junit);
    run.report = parser.value(options.report);
    for (auto [option, list] : {std::pair{&options.only, &run.only}, {&options.skip, &run.skip}}) {
        if (!parser.isSet(*option)) continue;
        *list = parser.value(*option).split(u',', Qt::SkipEmptyParts);
        for (const QString& id : *list)
            if (!conformance::findCheck(id.trimmed()))
                return usageError(
                    QStringLiteral("--%1: нет проверки \"%2\"").arg(option->names().first(), id));
        for (QString& id : *list) id = id.trimmed();
    }
    if (parser.isSet(options.fuzz)) {
        const auto ms = script::durationOf(parser.value(options.fuzz));
        if (!ms || *ms <= 0)
            return usageError(QStringLiteral("--fuzz: нужна длительность вида 60s, 2min"));
        run.fuzzSeconds = double(*ms) / 1000;
    }
    if (parser.isSet(options.seed)) {
        bool ok = false;
        run.seed = parser.value(options.seed).toULongLong(&ok);
        if (!ok)
            return usageError(QStringLiteral("--seed: \"%1\" не целое число 0 или больше")
                                  .arg(parser.value(options.seed)));
    }
    run.allFunctions = parser.isSet(options.allFunctions);
    run.whileRunning = parser.isSet(options.whileRunning);
    return std::nullopt;
}

Parsed parseScan(const QCommandLineParser& parser, const Options& options, Invocation& run) {
    run.scanPorts = parser.value(options.ports);
    if (parser.isSet(options.ports)) {
        const auto ports = scan::parsePortList(run.scanPorts, {});
        if (const auto* error = std::get_if<QString>(&ports))
            return usageError(QStringLiteral("--ports: ") + *error);
    }
    run.scanSettings = parser.value(options.settingsList);
    if (parser.isSet(options.settingsList)) {
        const auto settings = scan::parseSettingsList(run.scanSettings);
        if (const auto* error = std::get_if<QString>(&settings))
            return usageError(QStringLiteral("--settings-list: ") + *error);
    }
    run.scanAddresses = parser.value(options.addresses);
    if (parser.isSet(options.addresses)) {
        const auto range = scan::parseAddressRange(run.scanAddresses);
        if (const auto* error = std::get_if<QString>(&range))
            return usageError(QStringLiteral("--addresses: ") + *error);
    }
    run.scanAll = parser.isSet(options.all);
    if (auto failure = readTextOrJson(parser, options.scanFormat, run)) return *failure;
    if (auto failure = readReplyTimeout(parser, options.scanReplyTimeout, run)) return *failure;
    return {run, {}, false, 0};
}

}  // namespace

std::optional<int> portNumberOf(const QString& text) {
    static const QRegularExpression kPort(QStringLiteral(R"(^(?:[Cc][Oo][Mm])?(\d{1,3})$)"));
    const auto match = kPort.match(text.trimmed());
    if (!match.hasMatch()) return std::nullopt;
    const int number = match.captured(1).toInt();
    if (number < 1 || number > 255) return std::nullopt;
    return number;
}

Parsed parseCommandLine(const QStringList& arguments) {
    Options options;
    // First pass with every option known, only to find the command.
    QCommandLineParser any;
    any.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    any.addOptions(options.global());
    for (const auto& option :
         {options.timeout,  options.format,        options.output,       options.count,
          options.duration, options.trace,         options.fast,         options.replyTimeout,
          options.junit,    options.report,        options.only,         options.skip,
          options.fuzz,     options.seed,          options.allFunctions, options.whileRunning,
          options.noCrc,    options.allowCommands, options.repeat,       options.interval,
          options.ports,    options.settingsList,  options.addresses,    options.all})
        any.addOption(option);
    any.addPositionalArgument("command", commandNames(QStringLiteral(" or ")));
    if (!any.parse(arguments)) return usageError(any.errorText());

    const QStringList positional = any.positionalArguments();
    if (positional.isEmpty()) {
        if (any.isSet(options.version))
            return printed(QStringLiteral("torvix-cli %1\n").arg(TORVIX_VERSION));
        if (any.isSet(options.help)) {
            QCommandLineParser global;
            global.addOptions(options.global());
            global.addPositionalArgument("command", commandNames(QStringLiteral(" or ")));
            return printed(QString::fromUtf8(kSummary) + u'\n' + global.helpText() + u'\n' +
                           QString::fromUtf8(kExitCodeHelp));
        }
        return usageError(
            QStringLiteral("не указана команда (%1)").arg(commandNames(QStringLiteral(", "))));
    }
    const CommandInfo* info = nullptr;
    for (const auto& candidate : kCommands)
        if (positional[0] == QLatin1String(candidate.name)) info = &candidate;
    if (!info) return usageError(QStringLiteral("неизвестная команда \"%1\"").arg(positional[0]));

    // Second pass with only the options that belong to the command.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromUtf8(info->summary));
    parser.addOptions(options.of(info->command));
    parser.addPositionalArgument(info->name, "",
                                 info->command == Command::Send ? QStringLiteral("send COMMAND [N]")
                                 : info->command == Command::Run ? QStringLiteral("run SCRIPT")
                                 : info->command == Command::Raw ? QStringLiteral("raw BYTES")
                                                                 : QString::fromLatin1(info->name));
    if (!parser.parse(arguments)) return usageError(parser.errorText());
    if (parser.isSet(options.help))
        return printed(helpText(parser, info->help) + (info->command == Command::Conformance
                                                           ? u'\n' + conformanceChecks()
                                                           : QString()));
    if (parser.isSet(options.version))
        return printed(QStringLiteral("torvix-cli %1\n").arg(TORVIX_VERSION));

    Invocation run;
    run.command = info->command;
    const QStringList rest = parser.positionalArguments().mid(1);
    if (info->command == Command::Send) {
        auto command = parseCommandWords(rest);
        if (auto* message = std::get_if<QString>(&command)) return usageError(*message);
        run.operatorCommand = std::get<requests::Request>(command);
    } else if (info->command == Command::Run) {
        if (rest.size() != 1) return usageError(QStringLiteral("run: нужен один файл сценария"));
        run.script = rest[0];
    } else if (info->command == Command::Raw) {
        if (rest.isEmpty()) return usageError(QStringLiteral("raw: нужны байты кадра"));
        static const QRegularExpression kByte(QStringLiteral("^(?:0[xX])?[0-9A-Fa-f]{1,2}$"));
        for (const QString& token : rest) {
            if (!kByte.match(token).hasMatch())
                return usageError(
                    QStringLiteral("raw: \"%1\" не байт в шестнадцатеричной записи").arg(token));
            run.rawFrame.push_back(static_cast<std::uint8_t>(token.toUInt(nullptr, 16)));
        }
    } else if (!rest.isEmpty()) {
        return usageError(
            QStringLiteral("%1: лишние аргументы: %2").arg(info->name, rest.join(u' ')));
    }

    if (info->command == Command::Scan) return parseScan(parser, options, run);

    if (parser.isSet(options.port)) {
        run.port = parser.value(options.port).trimmed();
        if (run.port.isEmpty()) return usageError(QStringLiteral("--port: пустое значение"));
        if (!run.port.contains(u'/') && !run.port.contains(u'\\') && !portNumberOf(run.port))
            return usageError(
                QStringLiteral("--port: \"%1\" не номер порта 1..255 и не путь к устройству")
                    .arg(run.port));
    }
    if (parser.isSet(options.settings)) run.settings = parser.value(options.settings);

    bool ok = false;
    run.address = parser.value(options.address).toInt(&ok);
    if (!ok || run.address < defaults::kLowestSlaveAddress ||
        run.address > defaults::kHighestSlaveAddress)
        return usageError(QStringLiteral("--address: \"%1\" вне диапазона %2..%3")
                              .arg(parser.value(options.address))
                              .arg(defaults::kLowestSlaveAddress)
                              .arg(defaults::kHighestSlaveAddress));

    if (info->command == Command::Send || info->command == Command::Run) {
        const auto timeout = positiveSeconds(parser.value(options.timeout));
        if (!timeout)
            return usageError(QStringLiteral("--timeout: \"%1\" не положительное число секунд")
                                  .arg(parser.value(options.timeout)));
        run.timeoutSeconds = *timeout;
    }
    if (info->command == Command::Conformance || info->command == Command::Raw) {
        if (auto failure = parseProbeOptions(parser, options, run)) return *failure;
        return {run, {}, false, 0};
    }
    const bool hasFormat = info->command == Command::Read || info->command == Command::Monitor ||
                           info->command == Command::Run;
    if (hasFormat && parser.isSet(options.format)) {
        const QString format = parser.value(options.format);
        if (format == u"table")
            run.format = Format::Table;
        else if (format == u"csv")
            run.format = Format::Csv;
        else if (format == u"jsonl")
            run.format = Format::Jsonl;
        else
            return usageError(
                QStringLiteral("--format: \"%1\" (допустимо: table, csv, jsonl)").arg(format));
    }
    if (info->command == Command::Monitor || info->command == Command::Run) {
        run.output = parser.value(options.output);
        run.trace = parser.isSet(options.trace);
        run.fast = parser.isSet(options.fast);
        if (auto failure = readReplyTimeout(parser, options.replyTimeout, run)) return *failure;
        if (info->command == Command::Run) run.junit = parser.value(options.junit);
    }
    if (info->command == Command::Monitor) {
        if (parser.isSet(options.count)) {
            const long long count = parser.value(options.count).toLongLong(&ok);
            if (!ok || count < 1)
                return usageError(QStringLiteral("--count: \"%1\" не целое число больше 0")
                                      .arg(parser.value(options.count)));
            run.count = count;
        }
        if (parser.isSet(options.duration)) {
            run.durationSeconds = positiveSeconds(parser.value(options.duration));
            if (!run.durationSeconds)
                return usageError(QStringLiteral("--duration: \"%1\" не положительное число секунд")
                                      .arg(parser.value(options.duration)));
        }
    }
    return {run, {}, false, 0};
}

}  // namespace torvix::cli
