// parseCommandLine: help, version, each command's options and every usage error, with the exit
// code and the text the program prints. The messages are the ones --help and the README give.

#include "cli/command_line.h"

#include <gtest/gtest.h>

#include "cli/exit_code.h"
#include "support/qt_printers.h"
#include "torvix_version.h"

namespace torvix::cli {
namespace {

Parsed parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("torvix-cli"));
    return parseCommandLine(arguments);
}

Invocation invocation(const QStringList& arguments) {
    const Parsed parsed = parse(arguments);
    EXPECT_TRUE(parsed.invocation) << parsed.text.toStdString();
    return parsed.invocation.value_or(Invocation{});
}

// The usage error's whole text on stderr, exit 2.
void expectUsage(const QStringList& arguments, const QString& message) {
    SCOPED_TRACE(arguments.join(u' ').toStdString());
    const Parsed parsed = parse(arguments);
    EXPECT_FALSE(parsed.invocation);
    EXPECT_TRUE(parsed.toStderr);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_EQ(parsed.text,
              QStringLiteral("torvix-cli: ") + message +
                  QStringLiteral("\nСправка: torvix-cli --help, torvix-cli COMMAND --help\n"));
}

TEST(CommandLineHelp, HelpAndVersionGoToStdoutWithExitZero) {
    for (const QStringList& arguments : {QStringList{"--help"}, QStringList{"-h"}}) {
        const Parsed help = parse(arguments);
        EXPECT_FALSE(help.invocation);
        EXPECT_FALSE(help.toStderr);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.text.startsWith(QStringLiteral("torvix-cli: reads, records and commands")))
            << help.text.toStdString();
        for (const char* word : {"read", "monitor", "send COMMAND", "ports", "run SCRIPT",
                                 "analyze RECORD", "cut RECORD", "conformance", "raw BYTES", "scan",
                                 "--port", "--settings", "--address"})
            EXPECT_TRUE(help.text.contains(QLatin1String(word))) << word;
        EXPECT_TRUE(help.text.contains(
            QStringLiteral("  5  run: an expect did not hold; conformance: a check failed\n")));
        EXPECT_TRUE(help.text.endsWith(
            QStringLiteral("  130  run, conformance, scan: stopped before the end by Ctrl+C; run: "
                           "or a failed write of\n     the records\n")));
    }
    for (const QStringList& arguments :
         {QStringList{"--version"}, QStringList{"read", "--version"}}) {
        const Parsed version = parse(arguments);
        EXPECT_FALSE(version.invocation);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_FALSE(version.toStderr);
        EXPECT_EQ(version.text, QStringLiteral("torvix-cli " TORVIX_VERSION "\n"));
    }
}

TEST(CommandLineHelp, EachCommandsHelpNamesItsOwnOptionsOnly) {
    const Parsed monitor = parse({"monitor", "--help"});
    EXPECT_EQ(monitor.exitCode, 0);
    EXPECT_FALSE(monitor.toStderr);
    for (const char* option : {"--format", "--output", "--count", "--duration", "--trace", "--fast",
                               "--reply-timeout", "Exit codes:"})
        EXPECT_TRUE(monitor.text.contains(QLatin1String(option))) << option;
    EXPECT_FALSE(monitor.text.contains(QStringLiteral("--junit")));

    const Parsed run = parse({"run", "--help"});
    for (const char* text : {"run SCRIPT", "--junit", "--timeout", "until KEY >= 49.5 within 30s",
                             "expect KEY between 220 and 240"})
        EXPECT_TRUE(run.text.contains(QLatin1String(text))) << text;
    EXPECT_FALSE(run.text.contains(QStringLiteral("--count")));

    const Parsed send = parse({"send", "-help"});  // single-dash words are long options
    EXPECT_EQ(send.exitCode, 0);
    EXPECT_TRUE(send.text.contains(QStringLiteral("priority N  |  section-number N")));
    EXPECT_FALSE(send.text.contains(QStringLiteral("--format")));
}

TEST(CommandLineUsage, CommandsThatDoNotExistOrAreMissing) {
    expectUsage(
        {}, QStringLiteral("не указана команда (read, monitor, send, ports, run, conformance, raw, "
                           "scan, analyze, cut)"));
    expectUsage({"frobnicate"}, QStringLiteral("неизвестная команда \"frobnicate\""));
    expectUsage({"READ"}, QStringLiteral("неизвестная команда \"READ\""));
    expectUsage({"read", "extra"}, QStringLiteral("read: лишние аргументы: extra"));
    expectUsage({"ports", "1", "2"}, QStringLiteral("ports: лишние аргументы: 1 2"));
    expectUsage({"run"}, QStringLiteral("run: нужен один файл сценария"));
    expectUsage({"run", "a.tvx", "b.tvx"}, QStringLiteral("run: нужен один файл сценария"));
    expectUsage({"send"}, QStringLiteral("send: не указана команда"));
    expectUsage({"send", "load", "sideways"},
                QStringLiteral("send: неизвестная команда \"load sideways\""));
    expectUsage({"send", "priority", "8"},
                QStringLiteral("send priority: число \"8\" вне диапазона 0..7"));
    expectUsage({"send", "priority", "x"},
                QStringLiteral("send priority: число \"x\" вне диапазона 0..7"));
}

TEST(CommandLineUsage, OptionsOfAnotherCommandOrUnknownAreRefused) {
    expectUsage({"read", "--trace"}, QStringLiteral("Unknown option 'trace'."));
    expectUsage({"read", "--count", "3"}, QStringLiteral("Unknown option 'count'."));
    expectUsage({"send", "start", "--format", "csv"}, QStringLiteral("Unknown option 'format'."));
    expectUsage({"monitor", "--junit", "x.xml"}, QStringLiteral("Unknown option 'junit'."));
    expectUsage({"ports", "--timeout", "1"}, QStringLiteral("Unknown option 'timeout'."));
    expectUsage({"--frobnicate"}, QStringLiteral("Unknown option 'frobnicate'."));
    expectUsage({"read", "--port"}, QStringLiteral("Missing value after '--port'."));
}

TEST(CommandLineUsage, ValuesOutOfRange) {
    expectUsage({"read", "--address", "0"},
                QStringLiteral("--address: \"0\" вне диапазона 1..247"));
    expectUsage({"read", "--address", "248"},
                QStringLiteral("--address: \"248\" вне диапазона 1..247"));
    expectUsage({"read", "--address", "x"},
                QStringLiteral("--address: \"x\" вне диапазона 1..247"));
    expectUsage({"read", "--port", " "}, QStringLiteral("--port: пустое значение"));
    expectUsage({"read", "--port", "COM0"},
                QStringLiteral("--port: \"COM0\" не номер порта 1..255 и не путь к устройству"));
    expectUsage({"read", "--port", "256"},
                QStringLiteral("--port: \"256\" не номер порта 1..255 и не путь к устройству"));
    expectUsage({"read", "--port", "ttyUSB0"},
                QStringLiteral("--port: \"ttyUSB0\" не номер порта 1..255 и не путь к устройству"));
    expectUsage({"send", "stop", "--timeout", "0"},
                QStringLiteral("--timeout: \"0\" не положительное число секунд"));
    expectUsage({"run", "s.tvx", "--timeout", "-1"},
                QStringLiteral("--timeout: \"-1\" не положительное число секунд"));
    expectUsage({"send", "stop", "--timeout", "inf"},
                QStringLiteral("--timeout: \"inf\" не положительное число секунд"));
    expectUsage({"read", "--format", "xml"},
                QStringLiteral("--format: \"xml\" (допустимо: table, csv, jsonl)"));
    expectUsage({"monitor", "--count", "0"},
                QStringLiteral("--count: \"0\" не целое число больше 0"));
    expectUsage({"monitor", "--count", "1.5"},
                QStringLiteral("--count: \"1.5\" не целое число больше 0"));
    expectUsage({"monitor", "--duration", "nan"},
                QStringLiteral("--duration: \"nan\" не положительное число секунд"));
    expectUsage({"monitor", "--fast", "--reply-timeout", "0"},
                QStringLiteral("--reply-timeout: \"0\" не положительное число секунд"));
}

TEST(CommandLineOptions, DefaultsWithoutOptions) {
    const Invocation read = invocation({"read"});
    EXPECT_EQ(read.command, Command::Read);
    EXPECT_TRUE(read.port.isEmpty());
    EXPECT_TRUE(read.settings.isEmpty());
    EXPECT_EQ(read.address, 7);
    EXPECT_FALSE(read.format);
    EXPECT_EQ(read.timeoutSeconds, 3);
    EXPECT_EQ(invocation({"ports"}).command, Command::Ports);
}

TEST(CommandLineOptions, EachCommandTakesItsOwn) {
    const Invocation read = invocation({"read", "--port", "COM5", "--settings", "9600,n,8,2",
                                        "--address", "247", "--format", "jsonl"});
    EXPECT_EQ(read.port, QStringLiteral("COM5"));
    EXPECT_EQ(read.settings, QStringLiteral("9600,n,8,2"));
    EXPECT_EQ(read.address, 247);
    EXPECT_EQ(read.format, Format::Jsonl);

    const Invocation monitor =
        invocation({"monitor", "--output", "r.csv", "--count", "10", "--duration", "2.5", "--trace",
                    "--fast", "--reply-timeout", "0.2", "--format", "csv"});
    EXPECT_EQ(monitor.command, Command::Monitor);
    EXPECT_EQ(monitor.output, QStringLiteral("r.csv"));
    EXPECT_EQ(monitor.count, 10);
    EXPECT_EQ(monitor.durationSeconds, 2.5);
    EXPECT_TRUE(monitor.trace);
    EXPECT_TRUE(monitor.fast);
    EXPECT_EQ(monitor.replyTimeoutSeconds, 0.2);
    EXPECT_EQ(monitor.format, Format::Csv);

    const Invocation send = invocation({"send", "neighbour", "3", "--timeout", "0.5"});
    EXPECT_EQ(send.command, Command::Send);
    EXPECT_EQ(send.operatorCommand, (requests::Request{requests::Kind::NeighbourSection, 3}));
    EXPECT_EQ(send.timeoutSeconds, 0.5);
    EXPECT_EQ(invocation({"send", "load", "on"}).operatorCommand,
              (requests::Request{requests::Kind::LoadOn}));

    const Invocation run = invocation({"run", "seq.tvx", "--junit", "j.xml", "--output", "o.csv",
                                       "--timeout", "10", "--format", "table", "--trace"});
    EXPECT_EQ(run.command, Command::Run);
    EXPECT_EQ(run.script, QStringLiteral("seq.tvx"));
    EXPECT_EQ(run.junit, QStringLiteral("j.xml"));
    EXPECT_EQ(run.output, QStringLiteral("o.csv"));
    EXPECT_EQ(run.timeoutSeconds, 10);
    EXPECT_EQ(run.format, Format::Table);
    EXPECT_TRUE(run.trace);
    EXPECT_FALSE(run.fast);
}

TEST(CommandLineOptions, PortsAsNumbersNamesPathsAndServers) {
    EXPECT_EQ(invocation({"read", "--port", " com12 "}).port, QStringLiteral("com12"));
    EXPECT_EQ(invocation({"read", "--port", "/dev/ttyUSB0"}).port, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(invocation({"read", "--port", "tcp://10.0.0.5:4001"}).port,
              QStringLiteral("tcp://10.0.0.5:4001"));
    EXPECT_EQ(invocation({"read", "--port", R"(\\.\COM3)"}).port, QStringLiteral(R"(\\.\COM3)"));
    // The settings are taken as typed; chooseLine parses them against тп.ini.
    EXPECT_EQ(invocation({"read", "--settings", "115200,x,8,1"}).settings,
              QStringLiteral("115200,x,8,1"));

    EXPECT_EQ(portNumberOf(QStringLiteral("5")), 5);
    EXPECT_EQ(portNumberOf(QStringLiteral("COM5")), 5);
    EXPECT_EQ(portNumberOf(QStringLiteral("cOm255")), 255);
    EXPECT_EQ(portNumberOf(QStringLiteral(" 1 ")), 1);
    for (const char* text : {"0", "COM0", "256", "COM", "COM 5", "5a", "-1", "1000", ""})
        EXPECT_FALSE(portNumberOf(QLatin1String(text))) << text;
}

TEST(CommandLineOptions, ConformanceAndRawTakeTheirOptionsAndRefuseWhatDoesNotParse) {
    const Invocation test =
        invocation({"conformance", "--only", "bad-crc, split-frame", "--fuzz", "2min", "--seed",
                    "17", "--format", "json", "--report", "r.html", "--all-functions"});
    EXPECT_EQ(test.command, Command::Conformance);
    EXPECT_EQ(test.only, (QStringList{"bad-crc", "split-frame"}));
    EXPECT_EQ(test.fuzzSeconds, 120);
    EXPECT_EQ(test.seed, 17u);
    EXPECT_TRUE(test.json);
    EXPECT_TRUE(test.allFunctions);
    EXPECT_FALSE(test.whileRunning);
    EXPECT_EQ(test.replyTimeoutSeconds, 0.1);
    expectUsage({"conformance", "--only", "bad-crc,nonsense"},
                QStringLiteral("--only: нет проверки \"nonsense\""));
    expectUsage({"conformance", "--format", "csv"},
                QStringLiteral("--format: \"csv\" (допустимо: text, json)"));
    expectUsage({"conformance", "--fuzz", "60"},
                QStringLiteral("--fuzz: нужна длительность вида 60s, 2min"));

    const Invocation raw = invocation({"raw", "07", "0x04", "1", "2c", "00", "01", "--repeat", "5",
                                       "--interval", "250ms", "--no-crc"});
    EXPECT_EQ(raw.rawFrame, (std::vector<std::uint8_t>{7, 4, 1, 0x2C, 0, 1}));
    EXPECT_EQ(raw.repeat, 5);
    EXPECT_EQ(raw.intervalSeconds, 0.25);
    EXPECT_TRUE(raw.noCrc);
    EXPECT_FALSE(raw.allowCommands);
    expectUsage({"raw"}, QStringLiteral("raw: нужны байты кадра"));
    expectUsage({"raw", "07", "104"},
                QStringLiteral("raw: \"104\" не байт в шестнадцатеричной записи"));
    // Every check of the table, and which may warn, is in the help.
    const Parsed help = parse({"conformance", "--help"});
    for (const char* id : {"status-read", "split-frame", "robustness", "0x21"})
        EXPECT_TRUE(help.text.contains(QLatin1String(id))) << id;
}

TEST(CommandLineScan, TheIssuesOptionsAndTheirMistakes) {
    const Parsed parsed =
        parse({"scan", "--ports", "1-16", "--settings-list", "115200,e,8,1;19200,e,8,1",
               "--addresses", "1-247", "--all", "--format", "json", "--reply-timeout", "0.1"});
    ASSERT_TRUE(parsed.invocation) << parsed.text.toStdString();
    const Invocation& run = *parsed.invocation;
    EXPECT_EQ(run.command, Command::Scan);
    EXPECT_EQ(run.scanPorts, QStringLiteral("1-16"));
    EXPECT_EQ(run.scanSettings, QStringLiteral("115200,e,8,1;19200,e,8,1"));
    EXPECT_TRUE(run.scanAll);
    EXPECT_TRUE(run.json);
    EXPECT_DOUBLE_EQ(run.replyTimeoutSeconds.value(), 0.1);

    for (const auto& bad : std::vector<QStringList>{{"scan", "--addresses", "0-10"},
                                                    {"scan", "--ports", "COMX"},
                                                    {"scan", "--settings-list", "115200,q,8,1"},
                                                    {"scan", "--format", "csv"},
                                                    {"scan", "--reply-timeout", "0"},
                                                    {"scan", "--port", "5"}}) {
        const Parsed refused = parse(bad);
        EXPECT_FALSE(refused.invocation) << bad.join(u' ').toStdString();
        EXPECT_EQ(refused.exitCode, 2) << bad.join(u' ').toStdString();
    }
}

}  // namespace
}  // namespace torvix::cli
