// torvix-cli run as a user runs it: a process against torvix-sim and against a controller made
// of pymodbus, over pseudo-terminals. Expected values come from the registers by the test's own
// arithmetic (status_block_texts.h), never from the program's decoder. Only what needs a
// process is here: signals, exit codes through the real binary, ports, pseudo-terminals and
// TCP, pymodbus; the parser, the scripts, the runner's outcomes and the JUnit writer are unit
// tests in cli_tests.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <map>
#include <optional>
#include <thread>

#include "../e2e/status_block_texts.h"
#include "support/peer_process.h"

namespace torvix::cli_e2e {
namespace {

using e2e::Registers;
using Record = std::map<QString, QString>;

// Generous, for a loaded two-core machine and the sanitizer build; a passing run waits far less.
constexpr int kStartMs = 15000;
constexpr int kRunMs = 20000;

QProcessEnvironment russianEnvironment() {
    // The records must keep their decimal point under a locale whose separator is a comma.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    return environment;
}

using testing::Finished;

Finished runToEnd(const QStringList& arguments, const QString& program = TORVIX_CLI_BINARY) {
    return testing::runToEnd(program, arguments, russianEnvironment(), kRunMs);
}

bool waitFor(const std::function<bool()>& done, int ms = kStartMs) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

using testing::Peer;

// The record's key for each of the window's controls, as the README names them.
const std::map<QString, QString> kKeyOfControl = {
    {"lbl_phAU", "gen_u_a_v"},
    {"lbl_phBU", "gen_u_b_v"},
    {"lbl_phCU", "gen_u_c_v"},
    {"lbl_phAI", "gen_i_a_a"},
    {"lbl_phBI", "gen_i_b_a"},
    {"lbl_phCI", "gen_i_c_a"},
    {"lbl_fr", "gen_f_hz"},
    {"lbl_secAU", "section_u_v"},
    {"lbl_secfr", "section_f_hz"},
    {"lbl_netAU", "bus_u_v"},
    {"lbl_netfr", "bus_f_hz"},
    {"lbl_ap", "active_power_kw"},
    {"lbl_fp", "full_power_kw"},
    {"lbl_rp", "reactive_power_kw"},
    {"lbl_acc", "battery_v"},
    {"lbl_service", "service_in_h"},
    {"lbl_motomin", "running_h"},
    {"lbl_pr_ver", "protocol_version"},
    {"lbl_sw_ver", "software_version"},
    {"lbl_section", "section"},
    {"lbl_priority", "priority"},
    {"lbl_led_0", "lamp_genset"},
    {"lbl_led_1", "lamp_section"},
    {"lbl_led_2", "lamp_non_essential_1"},
    {"lbl_led_3", "lamp_autostart"},
    {"lbl_led_4", "lamp_local"},
    {"lbl_led_5", "lamp_genset_on_bus"},
    {"lbl_led_6", "lamp_section_on"},
    {"lbl_led_7", "lamp_non_essential_2"},
    {"lbl_led_8", "lamp_alarm"},
    {"lbl_led_9", "lamp_sound_off"},
    {"lbl_relay_0", "relay_start"},
    {"lbl_relay_1", "relay_stop"},
    {"lbl_relay_2", "relay_siren"},
    {"lbl_faults_0", "alarm_word_now"},
    {"lbl_faults_1", "alarm_word_saved"},
    {"lbl_faults_2", "alarm_word_last"},
    {"lbl_faults_3", "fault_word_now"},
    {"lbl_faults_4", "fault_word_saved"},
    {"lbl_faults_5", "fault_word_last"},
    {"lbl_faults_6", "internal_fault_word_now"},
    {"lbl_faults_7", "internal_fault_word_saved"},
    {"lbl_faults_8", "internal_fault_word_last"},
    {"lbl_faults_9", "cascade_word_last"},
    {"lbl_faults_10", "cascade_word_saved"},
    {"lbl_faults_11", "cascade_word_now"},
    {"lbl_dbg", "diag_word_eds"},
    {"lbl_intf", "diag_word_intf"},
    {"lbl_adc_b_d", "diag_word_adc"},
};

QString keyOf(const QString& control) {
    const auto found = kKeyOfControl.find(control);
    return found == kKeyOfControl.end() ? QStringLiteral("?") + control : found->second;
}

// What a record holds for the window's caption of the same value: the number with a point and
// without the trailing space and unit, the word without its prefix, the version without spaces.
Record expectedRecord(const Registers& r) {
    Record record;
    for (const auto& caption : e2e::expectedCaptions(r)) {
        QString text = caption.text;
        text.remove(QStringLiteral("мч"))
            .remove(QStringLiteral("EDS "))
            .remove(QStringLiteral("INTF "));
        text.replace(u',', u'.').remove(u' ');
        record[keyOf(caption.index < 0 ? caption.name
                                       : caption.name + u'_' + QString::number(caption.index))] =
            text;
    }
    for (const auto& lamp : e2e::expectedLamps(r))
        record[keyOf(lamp.name + u'_' + QString::number(lamp.index))] =
            lamp.lit ? QStringLiteral("1") : QStringLiteral("0");
    return record;
}

std::vector<Record> parseCsv(const QString& text) {
    QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    std::vector<Record> records;
    if (lines.isEmpty()) return records;
    const QStringList header = lines.takeFirst().split(u',');
    for (const QString& line : lines) {
        const QStringList fields = line.split(u',');
        if (fields.size() != header.size()) return {};
        Record record;
        for (int i = 0; i < header.size(); ++i) record[header[i]] = fields[i];
        records.push_back(record);
    }
    return records;
}

// Every key of `expected` with its value, and no other key than "time".
QStringList differences(const Record& shown, const Record& expected) {
    QStringList found;
    for (const auto& [key, text] : expected) {
        const auto it = shown.find(key);
        if (it == shown.end())
            found << key + QStringLiteral(" missing");
        else if (it->second != text)
            found << QStringLiteral("%1: %2 shown, %3 expected").arg(key, it->second, text);
    }
    for (const auto& [key, text] : shown)
        if (key != u"time" && key != u"events" && !expected.count(key))
            found << key + QStringLiteral(" unexpected");
    return found;
}

std::optional<Registers> registersOf(const QJsonArray& values) {
    if (values.size() != 64) return std::nullopt;
    Registers registers{};
    for (int n = 0; n < 64; ++n) registers[n] = static_cast<std::uint16_t>(values[n].toInt());
    return registers;
}

int summaryCount(const QString& err, const QString& label) {
    const QRegularExpression pattern(label + QStringLiteral(": (\\d+)"));
    const auto match = pattern.match(err);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

class CliEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString line() const { return path(QStringLiteral("line")); }
    QString stateFile() const { return path(QStringLiteral("state.json")); }

    // The line of the running peer with the usual settings (parity is dropped on a pty).
    QStringList onLine(QStringList arguments) const {
        return arguments << QStringLiteral("--port") << line() << QStringLiteral("--settings")
                         << QStringLiteral("115200,e,8,1");
    }

    void startSim(QStringList options) {
        peer_.reset();  // its link goes with it
        ASSERT_TRUE(waitFor([&] { return !QFileInfo::exists(line()); }));
        options << QStringLiteral("--quiet") << QStringLiteral("--link") << line()
                << QStringLiteral("--state-file") << stateFile();
        peer_.emplace(QStringLiteral(TORVIX_SIM_BINARY), options, path(QStringLiteral("sim.log")));
        ASSERT_TRUE(peer_->firstLine(kStartMs).startsWith(QStringLiteral("/dev/")));
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(line()); }));
    }

    // On a pty, or with `tcpListen` ("127.0.0.1:0") as a device server; its first line.
    QString runController(const Registers& registers, const QString& tcpListen = {}) {
        QStringList values;
        for (auto value : registers) values << QString::number(value);
        QStringList arguments{QStringLiteral(TORVIX_PYMODBUS_CONTROLLER), QStringLiteral("--state"),
                              stateFile(), QStringLiteral("--registers"), values.join(u',')};
        arguments << (tcpListen.isEmpty() ? QStringLiteral("--link") : QStringLiteral("--tcp"))
                  << (tcpListen.isEmpty() ? line() : tcpListen);
        peer_.emplace(QStringLiteral(TORVIX_PYTHON), arguments,
                      path(QStringLiteral("controller.log")));
        return peer_->firstLine(kStartMs);
    }
    void startController(const Registers& registers) {
        ASSERT_EQ(runController(registers), QStringLiteral("ready"));
    }

    // The simulator as a device server listening on `listen`; the address it prints.
    QString startSimOverTcp(QStringList options, const QString& listen) {
        peer_.reset();
        options << QStringLiteral("--quiet") << QStringLiteral("--tcp-listen") << listen
                << QStringLiteral("--state-file") << stateFile();
        peer_.emplace(QStringLiteral(TORVIX_SIM_BINARY), options, path(QStringLiteral("sim.log")));
        return peer_->firstLine(kStartMs);
    }
    void stopPeer() { peer_.reset(); }

    QJsonObject state() const {
        QFile file(stateFile());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }
    int simFault(const char* key) const {
        return state()["faults"].toObject()[QLatin1String(key)].toInt();
    }
    int simHolding(int address) const {
        return state()["holding_registers"].toObject()[QString::number(address)].toInt();
    }
    int lastSimCommand() const {
        const QJsonArray commands = state()["commands"].toArray();
        return commands.isEmpty() ? -1 : commands.last().toInt();
    }

private:
    QTemporaryDir dir_;
    std::optional<Peer> peer_;
};

TEST_F(CliEndToEnd, RecordsCarryEveryValueOfTheSimulatorWithADecimalPoint) {
    // The governor's and regulator's answer to the load step dies away within a poll or two,
    // so the values the test compares stand still.
    ASSERT_NO_FATAL_FAILURE(
        startSim({"--no-noise", "--running", "--load", "87.3", "--frequency-recovery", "0.05",
                  "--voltage-recovery", "0.05"}));
    // Load on, so that currents and powers carry fractions.
    ASSERT_EQ(runToEnd(onLine({"send", "load", "on"})).code, 0);

    // The simulator's registers can move on between the poll and the look at its state, so
    // both are read anew until they agree.
    QStringList last{QStringLiteral("no run")};
    const QDateTime before = QDateTime::currentDateTime();
    for (int attempt = 0; attempt < 5 && !last.isEmpty(); ++attempt) {
        const Finished run = runToEnd(onLine({"monitor", "--format", "csv", "--count", "2"}));
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        const std::vector<Record> records = parseCsv(run.out);
        ASSERT_EQ(records.size(), 2u) << run.out.toStdString();
        const auto registers = registersOf(state()["input_registers"].toArray());
        ASSERT_TRUE(registers);
        ASSERT_NE((*registers)[7], 0) << "no current: the load did not come on";
        last = differences(records.back(), expectedRecord(*registers));

        const QDateTime time = QDateTime::fromString(records.back().at("time"), Qt::ISODateWithMs);
        EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                        .match(records.back().at("time"))
                        .hasMatch())
            << records.back().at("time").toStdString();
        EXPECT_TRUE(time >= before.addSecs(-1) && time <= QDateTime::currentDateTime());
    }
    EXPECT_TRUE(last.isEmpty()) << last.join(u'\n').toStdString();

    // JSON lines: numbers as numbers, words and versions as strings, the same values.
    const Finished run = runToEnd(onLine({"monitor", "--format", "jsonl", "--count", "1"}));
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    const QJsonObject object = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const auto registers = registersOf(state()["input_registers"].toArray());
    ASSERT_TRUE(registers);
    for (const auto& [key, text] : expectedRecord(*registers)) {
        const QJsonValue value = object[key];
        const bool word = key.contains(u"_word") || key.endsWith(u"_version");
        EXPECT_EQ(value.isString(), word) << key.toStdString();
        if (!word) {
            EXPECT_EQ(value.toDouble(), text.toDouble()) << key.toStdString();
        }
    }
}

TEST_F(CliEndToEnd, EveryCommandLandsInTheSimulatorAsTheWindowsButtonWould) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    struct Case {
        QStringList words;
        int code;         // written to 402
        int number = -1;  // written to 401 with it
    };
    const std::vector<Case> cases = {
        {{"start"}, 0x1231},
        {{"stop"}, 0x4562},
        {{"ack"}, 0x7893},
        {{"load", "toggle"}, 0xABC4},
        {{"section", "toggle"}, 0xABCC},
        {{"autostart", "toggle"}, 0xAB10},
        {{"load", "off"}, 0x0BC4},
        {{"load", "on"}, 0x5BC4},
        {{"section", "off"}, 0x0BCC},
        {{"section", "on"}, 0x5BCC},
        {{"autostart", "off"}, 0x0B10},
        {{"autostart", "on"}, 0x5B10},
        {{"priority", "5"}, 0xEE55, 0x5505},
        {{"section-number", "2.5"}, 0xEEAA, 0xAA02},  // the window's rounding: half to even
        {{"neighbour", "7"}, 0xEEBB, 0xAA07},
    };
    for (const Case& c : cases) {
        const Finished run = runToEnd(onLine(QStringList{"send"} << c.words));
        EXPECT_EQ(run.code, 0) << c.words.join(u' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(waitFor([&] {
            return lastSimCommand() == c.code && (c.number < 0 || simHolding(401) == c.number);
        })) << c.words.join(u' ').toStdString()
            << ": last command " << lastSimCommand() << ", 401 " << simHolding(401);
    }
    EXPECT_EQ(state()["priority"].toInt(), 5);
    EXPECT_EQ(state()["section_number"].toInt(), 2);
    EXPECT_EQ(state()["neighbour_section"].toInt(), 7);
}

TEST_F(CliEndToEnd, FaultsShowInTheTraceAndAddUpInTheSummary) {
    ASSERT_NO_FATAL_FAILURE(startSim(
        {"--no-noise", "--drop-every", "4", "--exception-every", "5", "--bad-crc-every", "3"}));
    const Finished run =
        runToEnd(onLine({"monitor", "--format", "csv", "--count", "8", "--trace"}));
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(parseCsv(run.out).size(), 8u);

    // The status read as the simulator's own description spells it, CRC included.
    EXPECT_TRUE(run.err.contains(QStringLiteral(" TX 07 04 01 2C 00 40 31 A9")))
        << run.err.toStdString();
    const auto traced = [&](const QString& verdict) {
        return static_cast<int>(run.err.count(QRegularExpression(" RX .*  " + verdict)));
    };
    const int requests = summaryCount(run.err, QStringLiteral("Запросов"));
    const int valid = summaryCount(run.err, QStringLiteral("верных ответов"));
    const int crc = summaryCount(run.err, QStringLiteral("несовпадений КС"));
    const int silent = summaryCount(run.err, QStringLiteral("без ответа"));
    const int exceptions = summaryCount(run.err, QStringLiteral("исключений"));
    EXPECT_EQ(requests, valid + crc + silent + exceptions) << run.err.toStdString();
    EXPECT_EQ(traced(QStringLiteral("answered")), valid);
    EXPECT_EQ(traced(QStringLiteral("CRC mismatch")), crc);
    EXPECT_EQ(traced(QStringLiteral("no answer")), silent);
    EXPECT_EQ(traced(QStringLiteral("exception 6 \\(устройство занято\\)")), exceptions);
    EXPECT_GE(crc, 1);
    EXPECT_GE(silent, 1);
    EXPECT_GE(exceptions, 1);
    // The simulator may have acted on the request still in flight when the run ended.
    EXPECT_TRUE(simFault("bad_crc") == crc || simFault("bad_crc") == crc + 1) << crc;
    EXPECT_TRUE(simFault("dropped") == silent || simFault("dropped") == silent + 1) << silent;
    EXPECT_TRUE(simFault("exception") == exceptions || simFault("exception") == exceptions + 1);

    const QRegularExpression times(
        QStringLiteral(R"(мин ([\d.]+), медиана ([\d.]+), макс ([\d.]+) \((\d+) ответов\))"));
    const auto match = times.match(run.err);
    ASSERT_TRUE(match.hasMatch()) << run.err.toStdString();
    const double low = match.captured(1).toDouble(), median = match.captured(2).toDouble(),
                 high = match.captured(3).toDouble();
    EXPECT_TRUE(0 <= low && low <= median && median <= high && high < 100)
        << match.captured(0).toStdString();
    EXPECT_EQ(match.captured(4).toInt(), valid);
}

TEST_F(CliEndToEnd, ExitCodesTellUsageMissingPortExceptionAndSilence) {
    const auto expectExit = [](const Finished& run, int code, const QString& message) {
        EXPECT_EQ(run.code, code) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    };
    // Each usage error and its message: cli_tests (CommandLineUsage, ExitCodes).
    expectExit(runToEnd({"frobnicate"}), 2, QStringLiteral("неизвестная команда"));
    expectExit(runToEnd({"read", "--port", line(), "--settings", "115200,x,8,1"}), 2,
               QStringLiteral("не разобраны"));
    expectExit(runToEnd(onLine({"read"})), 1, QStringLiteral("нет такого устройства"));
    expectExit(runToEnd({"read", "--port", "COM200", "--settings", "115200,e,8,1"}), 1,
               QStringLiteral("COM200"));

    ASSERT_NO_FATAL_FAILURE(startSim({"--exception-every", "1"}));
    expectExit(runToEnd(onLine({"send", "stop", "--timeout", "0.5"})), 3,
               QStringLiteral("исключение 6 (устройство занято)"));
    expectExit(runToEnd(onLine({"read"})), 3, QStringLiteral("устройство занято"));

    ASSERT_NO_FATAL_FAILURE(startSim({"--drop-every", "1"}));
    QElapsedTimer took;
    took.start();
    expectExit(runToEnd(onLine({"read"})), 4, QStringLiteral("нет верного ответа за 1 с"));
    EXPECT_GE(took.elapsed(), 1000);
    expectExit(runToEnd(onLine({"send", "start", "--timeout", "0.5"})), 4,
               QStringLiteral("СТАРТ: нет верного ответа"));
}

TEST_F(CliEndToEnd, CtrlCEndsMonitorWithASummaryWhileItsPortIsBusyForOthers) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    QProcess monitor;
    monitor.setProcessEnvironment(russianEnvironment());
    monitor.start(QStringLiteral(TORVIX_CLI_BINARY), onLine({"monitor", "--format", "jsonl"}));
    ASSERT_TRUE(monitor.waitForStarted(kStartMs));
    QByteArray out;
    ASSERT_TRUE(waitFor([&] {
        monitor.waitForReadyRead(20);
        out += monitor.readAllStandardOutput();
        return out.count('\n') >= 2;
    })) << monitor.readAllStandardError().toStdString();
    // Flushed per record: each line that arrived is a whole record.
    for (const QByteArray& record : out.split('\n')) {
        if (record.isEmpty()) continue;
        EXPECT_TRUE(QJsonDocument::fromJson(record).isObject()) << record.toStdString();
    }

    const Finished other = runToEnd(onLine({"read"}));
    EXPECT_EQ(other.code, 1);
    EXPECT_TRUE(other.err.contains(QStringLiteral("занят другим приложением")))
        << other.err.toStdString();

    ::kill(static_cast<pid_t>(monitor.processId()), SIGINT);
    ASSERT_TRUE(monitor.waitForFinished(kStartMs));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0);
    const QString err = QString::fromUtf8(monitor.readAllStandardError());
    EXPECT_GE(summaryCount(err, QStringLiteral("верных ответов")), 2) << err.toStdString();
}

TEST_F(CliEndToEnd, TpIniBesideTheProgramChoosesThePortAndStaysAsItWas) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    // A copy of the program in a folder of its own, as the demo keeps one.
    const QString program = path(QStringLiteral("app/torvix-cli"));
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("app"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TORVIX_CLI_BINARY), program));
    const QString ini = path(QStringLiteral("app/тп.ini"));
    const QByteArray contents = QStringLiteral(
                                    "[PC config]\r\nCOM=3\r\nCOMSettings=115200,e,8,1\r\n"
                                    "[Ports]\r\nCOM3=%1\r\nCOM4=%2\r\n")
                                    .arg(line(), path(QStringLiteral("gone")))
                                    .toUtf8();
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    const Finished read = runToEnd({"read", "--format", "jsonl"}, program);
    EXPECT_EQ(read.code, 0) << read.err.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(read.out.toUtf8()).object().contains("gen_u_a_v"));

    const Finished ports = runToEnd({"ports"}, program);
    EXPECT_EQ(ports.code, 0);
    EXPECT_EQ(ports.err.toStdString(), "");
    const QStringList lines = ports.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 16) << ports.out.toStdString();
    EXPECT_EQ(lines[2].simplified(), QStringLiteral("COM3 free ") + line());
    EXPECT_EQ(lines[3].simplified(), QStringLiteral("COM4 missing ") + path("gone"));

    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), contents);
    EXPECT_EQ(QDir(path(QStringLiteral("app"))).entryList(QDir::Files).size(), 2);
    file.close();

    // Settings that do not parse are a usage error that names the file.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[PC config]\r\nCOM=3\r\nCOMSettings=fast\r\n");
    file.close();
    const Finished bad = runToEnd({"read"}, program);
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains(ini)) << bad.err.toStdString();
}

// Registers that tell a misplaced byte, a wrong sign or width, or a wrong rounding apart.
Registers distinctiveRegisters() {
    Registers r{};
    for (int n = 0; n < 64; ++n) r[n] = static_cast<std::uint16_t>(0x5A00 + n);  // not shown
    r[0] = 0x0209, r[1] = 0x030E;
    r[2] = 2305, r[3] = 2298, r[4] = 2310, r[5] = 2315, r[6] = 2291;
    r[7] = 1087, r[8] = 5, r[9] = 1093;
    r[10] = 0xFFFF, r[11] = 0xFF9C;
    r[12] = 0x8000, r[13] = 0x0000;
    r[14] = 0x0001, r[15] = 0x0002;
    r[16] = 4998, r[17] = 5001, r[18] = 5000;
    r[29] = 0x0000, r[30] = 0x00FF;
    r[35] = 0x1234, r[36] = 0x5678;
    r[39] = 0xFF38, r[40] = 0x000F, r[41] = 0x1A2B;
    const std::uint16_t faults[9] = {0x0000, 0x1234, 0xABCD, 0x0001, 0x8000,
                                     0x00F0, 0xFFFF, 0x0A0B, 0x7FFF};
    for (int i = 0; i < 9; ++i) r[42 + i] = faults[i];
    r[51] = 0x8000, r[52] = 0x0001;
    r[55] = 0x00A5, r[56] = 0x0203;
    r[58] = 0xFD55;  // lamps 0, 2, 4, 6, 8; bits 10 to 15 are not lamps
    r[60] = 0xFFFD;  // Старт and Сирена; bits 3 to 15 are not relays
    r[61] = 0xFFC4;  // -60 minutes
    r[62] = 0xFFFF, r[63] = 0xFFFF;
    r[57] = 90;  // not shown
    return r;
}

TEST_F(CliEndToEnd, AnIndependentModbusStackServesExactValuesAndTakesTheCommands) {
    const Registers registers = distinctiveRegisters();
    ASSERT_NO_FATAL_FAILURE(startController(registers));

    const Finished read = runToEnd(onLine({"read", "--format", "csv"}));
    ASSERT_EQ(read.code, 0) << read.err.toStdString();
    const std::vector<Record> records = parseCsv(read.out);
    ASSERT_EQ(records.size(), 1u) << read.out.toStdString();
    EXPECT_EQ(differences(records[0], expectedRecord(registers)).join(u'\n').toStdString(), "");
    EXPECT_EQ(records[0].at("active_power_kw"), QStringLiteral("-10"));
    EXPECT_EQ(records[0].at("full_power_kw"), QStringLiteral("214748364.8"));
    EXPECT_EQ(records[0].at("gen_i_b_a"), QStringLiteral("1"));
    EXPECT_EQ(records[0].at("service_in_h"), QStringLiteral("-1"));
    EXPECT_EQ(records[0].at("running_h"), QStringLiteral("71582788"));
    EXPECT_EQ(records[0].at("cascade_word_now"), QStringLiteral("80000001"));
    EXPECT_EQ(records[0].at("protocol_version"), QStringLiteral("2.09"));

    // The table on a pipe: the window's captions, units and lamps as text.
    const Finished table = runToEnd(onLine({"read"}));
    ASSERT_EQ(table.code, 0) << table.err.toStdString();
    EXPECT_TRUE(table.out.contains(QRegularExpression(QStringLiteral("Pп, кВт +214748364.8\n"))))
        << table.out.toStdString();
    EXPECT_TRUE(table.out.contains(QRegularExpression(QStringLiteral("наработка +71582788 мч\n"))));
    EXPECT_TRUE(table.out.contains(QStringLiteral("● ДГУ  ○ Секц.  ● Неотв.1")));

    // 401 and 402; 400 takes the counter write of the tick that ended a read.
    const auto holding = [&] {
        std::vector<int> values;
        for (const auto& value : state()["holding"].toArray()) values.push_back(value.toInt());
        return values.size() == 3 ? std::vector<int>(values.begin() + 1, values.end()) : values;
    };
    ASSERT_EQ(runToEnd(onLine({"send", "start"})).code, 0);
    EXPECT_TRUE(waitFor([&] { return holding() == std::vector<int>{0, 0x1231}; }));
    ASSERT_EQ(runToEnd(onLine({"send", "priority", "5"})).code, 0);
    EXPECT_TRUE(waitFor([&] { return holding() == std::vector<int>{0x5505, 0xEE55}; }));
    EXPECT_EQ(state()["rejected_frames"].toInt(), 0);
}

// ---- run: test sequences ----

// RFC 4180: quoted fields, doubled quotes, commas and line breaks inside quotes.
std::vector<Record> parseQuotedCsv(const QString& text) {
    std::vector<QStringList> rows(1);
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            rows.back() << field;
            field.clear();
        } else if (c == u'\n') {
            rows.back() << field;
            field.clear();
            rows.emplace_back();
        } else {
            field += c;
        }
    }
    std::vector<Record> records;
    if (rows.size() < 2) return records;
    const QStringList header = rows[0];
    for (std::size_t r = 1; r < rows.size(); ++r) {
        if (rows[r].isEmpty()) continue;
        if (rows[r].size() != header.size()) return {};
        Record record;
        for (int i = 0; i < header.size(); ++i) record[header[i]] = rows[r][i];
        records.push_back(record);
    }
    return records;
}

// Every event of the records, in order.
QStringList eventsOf(const std::vector<Record>& records) {
    QStringList events;
    for (const Record& record : records)
        if (!record.at("events").isEmpty())
            events << record.at("events").split(QStringLiteral(" | "));
    return events;
}

struct TestCase {
    QString name;
    QString outcome;  // passed, failure, skipped
};

std::vector<TestCase> junitCases(const QString& file) {
    QFile xmlFile(file);
    if (!xmlFile.open(QIODevice::ReadOnly)) return {};
    QXmlStreamReader xml(&xmlFile);
    std::vector<TestCase> cases;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"testcase")
            cases.push_back({xml.attributes().value(QStringLiteral("name")).toString(),
                             QStringLiteral("passed")});
        else if ((xml.name() == u"failure" || xml.name() == u"skipped") && !cases.empty())
            cases.back().outcome = xml.name().toString();
    }
    return xml.hasError() ? std::vector<TestCase>{} : cases;
}

class RunEndToEnd : public CliEndToEnd {
protected:
    QString script(const char* text) {
        const QString file = path(QStringLiteral("test.tvx"));
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
        return file;
    }
    QStringList commandCodes() const {
        QStringList codes;
        for (const auto& code : state()["commands"].toArray())
            codes << QString::number(code.toInt(), 16).toUpper();
        return codes;
    }
};

// Conditions hold whether the simulated set steps its values or dips them after a load step.
constexpr char kLoadSequence[] = R"(# commissioning: start, frequency, load on and off
send start
until gen_f_hz between 49 and 51 within 30s   # nominal 50 Hz
mark "наброс, 50 %"
send load on
until active_power_kw > 50 within 10s
wait 300ms
expect gen_u_a_v between 200 and 250
send load off
until active_power_kw < 1 within 10s
until gen_f_hz between 49.5 and 50.5 within 30s   # the governor's overshoot dies away
)";

TEST_F(RunEndToEnd, ASequenceStartsTheSetPutsTheLoadOnAndOffAndRecordsEachStep) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--time-scale", "60"}));
    const QString csv = path(QStringLiteral("run.csv"));
    const QString junit = path(QStringLiteral("junit.xml"));
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "--fast" : "100 ms tick");
        QStringList arguments =
            onLine({"run", script(kLoadSequence), "--output", csv, "--junit", junit});
        if (fast) arguments << QStringLiteral("--fast");
        const Finished run = runToEnd(arguments);
        ASSERT_EQ(run.code, 0) << run.err.toStdString();

        // The set got the three commands in the script's order.
        const QStringList codes = commandCodes();
        ASSERT_GE(codes.size(), 3);
        EXPECT_EQ(codes.mid(codes.size() - 3), (QStringList{"1231", "5BC4", "BC4"}));

        QFile file(csv);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::vector<Record> records = parseQuotedCsv(QString::fromUtf8(file.readAll()));
        ASSERT_GE(records.size(), 3u);
        const QStringList events = eventsOf(records);
        QStringList what;
        const QRegularExpression stamp(QStringLiteral(R"(^\[(\d+\.\d) s\] (.*)$)"));
        double previous = 0;
        for (const QString& event : events) {
            const auto match = stamp.match(event);
            ASSERT_TRUE(match.hasMatch()) << event.toStdString();
            EXPECT_GE(match.captured(1).toDouble(), previous) << event.toStdString();
            previous = match.captured(1).toDouble();
            what << match.captured(2);
        }
        const QRegularExpression doneIn(QStringLiteral(R"(: выполнено за \d+\.\d с$)"));
        ASSERT_EQ(what.size(), 10) << events.join(u'\n').toStdString();
        EXPECT_EQ(what[0], QStringLiteral("send start: выполнено"));
        EXPECT_TRUE(
            what[1].startsWith(QStringLiteral("until gen_f_hz between 49 and 51: выполнено за ")));
        EXPECT_EQ(what[2], QStringLiteral("mark наброс, 50 %"));
        EXPECT_EQ(what[3], QStringLiteral("send load on: выполнено"));
        EXPECT_TRUE(what[4].contains(doneIn) &&
                    what[4].startsWith(QStringLiteral("until active_power_kw > 50")));
        EXPECT_EQ(what[5], QStringLiteral("wait 300ms"));
        EXPECT_EQ(what[6], QStringLiteral("expect gen_u_a_v between 200 and 250: выполнено"));
        EXPECT_EQ(what[7], QStringLiteral("send load off: выполнено"));
        EXPECT_TRUE(what[8].contains(doneIn));
        EXPECT_TRUE(what[9].startsWith(
            QStringLiteral("until gen_f_hz between 49.5 and 50.5: выполнено за ")));

        // A record after the load came on shows it; the one that carries `until ... > 50`
        // is the first that held it.
        for (const Record& record : records)
            if (record.at("events").contains(QStringLiteral("until active_power_kw > 50"))) {
                EXPECT_GT(record.at("active_power_kw").toDouble(), 50);
            }

        // stderr lines up the seconds for the eye.
        EXPECT_TRUE(run.err.contains(QRegularExpression(
            QStringLiteral(R"((^|\n)\[ +\d+\.\d s\] send load on: выполнено\n)"))))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(
            QStringLiteral("Шагов выполнено: 10 из 10; проверок: 5, не выполнено: 0")))
            << run.err.toStdString();

        const auto cases = junitCases(junit);
        ASSERT_EQ(cases.size(), 5u);
        EXPECT_EQ(cases[0].name, QStringLiteral("3: until gen_f_hz between 49 and 51 within 30s"));
        for (const auto& testCase : cases) EXPECT_EQ(testCase.outcome, QStringLiteral("passed"));
    }
}

TEST_F(RunEndToEnd, CtrlCStopsAtOnceWithTheRecordWholeAndTheSummary) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    const QString csv = path(QStringLiteral("c.csv"));
    const QString junit = path(QStringLiteral("c.xml"));
    QProcess run;
    run.setProcessEnvironment(russianEnvironment());
    run.start(QStringLiteral(TORVIX_CLI_BINARY),
              onLine({"run", script("send start\nwait 2min\nexpect gen_f_hz > 1\n"), "--output",
                      csv, "--junit", junit}));
    ASSERT_TRUE(run.waitForStarted(kStartMs));
    QByteArray err;
    ASSERT_TRUE(waitFor([&] {
        run.waitForReadyRead(20);
        err += run.readAllStandardError();
        if (!err.contains("wait 2min\n")) return false;
        QFile written(csv);
        return written.open(QIODevice::ReadOnly) && written.readAll().contains("wait 2min");
    })) << err.toStdString();
    ::kill(static_cast<pid_t>(run.processId()), SIGINT);
    ASSERT_TRUE(run.waitForFinished(kStartMs));
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 130);
    err += run.readAllStandardError();
    EXPECT_TRUE(err.contains("прервано (Ctrl+C)")) << err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(err).contains(QStringLiteral("Шагов выполнено: 1 из 3")))
        << err.toStdString();
    EXPECT_GE(summaryCount(QString::fromUtf8(err), QStringLiteral("верных ответов")), 1);

    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.endsWith('\n'));
    const std::vector<Record> records = parseQuotedCsv(QString::fromUtf8(text));
    ASSERT_FALSE(records.empty()) << text.toStdString();
    EXPECT_TRUE(eventsOf(records).join(u'\n').contains(QStringLiteral("send start: выполнено")));
    const auto cases = junitCases(junit);
    ASSERT_EQ(cases.size(), 1u);
    EXPECT_EQ(cases[0].outcome, QStringLiteral("skipped"));
}

// The fast cadence against the paced simulator: every reply waits its time on the wire, and
// no request starts before the line's silence after the reply before it. Both bounds hold on
// a loaded machine too: delays only lengthen the gaps.
TEST_F(RunEndToEnd, FastCadenceKeepsTheLinesSilenceAndTheCounterGoingOut) {
    const QString requests = path(QStringLiteral("requests.log"));
    const QString replies = path(QStringLiteral("replies.log"));
    ASSERT_NO_FATAL_FAILURE(
        startSim({"--no-noise", "--pace", "--log-requests", requests, "--log-replies", replies}));
    const Finished run =
        runToEnd(onLine({"monitor", "--fast", "--count", "40", "--format", "csv"}));
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(parseCsv(run.out).size(), 40u);

    const auto lines = [](const QString& file) {
        std::vector<std::pair<qint64, QStringList>> out;
        QFile log(file);
        if (!log.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& line : log.readAll().split('\n')) {
            QStringList words = QString::fromLatin1(line).split(u' ', Qt::SkipEmptyParts);
            if (words.isEmpty()) continue;
            const qint64 us = words.takeFirst().toLongLong();
            out.emplace_back(us, words);
        }
        return out;
    };
    const auto sent = lines(requests);
    const auto answered = lines(replies);
    ASSERT_GE(sent.size(), 40u);
    // The request in flight when the program stopped may still be waiting for its reply.
    ASSERT_GE(answered.size() + 1, sent.size());
    ASSERT_LE(answered.size(), sent.size());
    // 115200 baud, 11 bits a character, and the default turnaround of 2 ms.
    const auto wireUs = [](std::size_t bytes) { return double(bytes) * 11 * 1e6 / 115200; };
    int counterWrites = 0;
    bool lastWasCounter = false;
    for (std::size_t i = 0; i < answered.size(); ++i) {
        const auto& [requestUs, request] = sent[i];
        const auto& [replyUs, reply] = answered[i];
        EXPECT_GE(double(replyUs - requestUs), wireUs(request.size() + reply.size()) + 2000) << i;
        if (i > 0) {
            EXPECT_GE(requestUs - answered[i - 1].first, 1750) << i;
        }
        const bool counter = request.value(1) == u"06" && request.value(3) == u"90";
        EXPECT_FALSE(counter && lastWasCounter) << "two counter writes in a row at " << i;
        lastWasCounter = counter;
        counterWrites += counter;
    }
    // Forty status replies take at least 40 * 15 ms on this line: the counter went out too.
    EXPECT_GE(counterWrites, 2);
}

TEST_F(RunEndToEnd, AnIndependentModbusStackTakesTheSequencesFramesAtTheFastCadence) {
    const Registers registers = distinctiveRegisters();
    ASSERT_NO_FATAL_FAILURE(startController(registers));
    const Finished run = runToEnd(onLine(
        {"run", script("send start\nsend priority 5\nexpect gen_u_a_v == 231\nsend load on\n"),
         "--fast", "--output", path("m.csv")}));
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    const QJsonObject controller = state();
    EXPECT_EQ(controller["rejected_frames"].toInt(), 0);
    QStringList writes;
    for (const auto& write : controller["writes"].toArray()) {
        const QJsonArray pair = write.toArray();
        if (pair[0].toInt() == 400 && pair[1].toArray().size() == 1) continue;  // the counter
        writes << QJsonDocument(pair).toJson(QJsonDocument::Compact);
    }
    // 0x1231 start; 0x5505 and 0xEE55 priority 5 at 401..402; 0x5BC4 load on (decimal here).
    EXPECT_EQ(writes, (QStringList{"[402,[4657]]", "[401,[21765,61013]]", "[402,[23492]]"}))
        << writes.join(u' ').toStdString();
    EXPECT_GE(controller["reads"].toInt(), 1);
}

// Through a serial device server: the same frames in a TCP connection, on IPv4 and IPv6.
TEST_F(CliEndToEnd, OverTcpTheSimulatorIsReadAndCommandedAsOnASerialLine) {
    for (const char* listen : {"127.0.0.1:0", "[::1]:0"}) {
        SCOPED_TRACE(listen);
        const QString address =
            startSimOverTcp({"--no-noise", "--running"}, QString::fromLatin1(listen));
        ASSERT_TRUE(address.startsWith(QStringLiteral("tcp://"))) << address.toStdString();
        QStringList last{QStringLiteral("no run")};
        for (int attempt = 0; attempt < 5 && !last.isEmpty(); ++attempt) {
            const Finished run =
                runToEnd({"monitor", "--format", "csv", "--count", "2", "--port", address});
            ASSERT_EQ(run.code, 0) << run.err.toStdString();
            const std::vector<Record> records = parseCsv(run.out);
            ASSERT_EQ(records.size(), 2u) << run.out.toStdString();
            const auto registers = registersOf(state()["input_registers"].toArray());
            ASSERT_TRUE(registers);
            last = differences(records.back(), expectedRecord(*registers));
        }
        EXPECT_TRUE(last.isEmpty()) << last.join(u'\n').toStdString();

        // No --settings: a device server has its own.
        const Finished start = runToEnd({"send", "start", "--port", address});
        EXPECT_EQ(start.code, 0) << start.err.toStdString();
        EXPECT_EQ(lastSimCommand(), 0x1231);
    }
}

TEST_F(CliEndToEnd, OverTcpARefusedOrTakenServerIsToldAndADroppedConnectionIsJoinedAgain) {
    // Nobody listens where the simulator just was.
    const QString gone = startSimOverTcp({}, QStringLiteral("127.0.0.1:0"));
    ASSERT_TRUE(gone.startsWith(QStringLiteral("tcp://")));
    stopPeer();
    const Finished refused = runToEnd({"read", "--port", gone});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("порт %1 не открывается").arg(gone)))
        << refused.err.toStdString();

    // A one-client server that already has a client closes the second one at once.
    const QString address = startSimOverTcp({"--no-noise"}, QStringLiteral("127.0.0.1:0"));
    QProcess holder;
    holder.setProcessEnvironment(russianEnvironment());
    holder.start(QStringLiteral(TORVIX_CLI_BINARY),
                 {"monitor", "--format", "csv", "--output", "/dev/null", "--port", address});
    ASSERT_TRUE(holder.waitForStarted(kStartMs));
    ASSERT_TRUE(waitFor([&] { return state()["requests"].toInt() > 0; }));
    const Finished taken = runToEnd({"read", "--port", address});
    EXPECT_EQ(taken.code, 1);
    EXPECT_TRUE(taken.err.contains(QStringLiteral("занят другим приложением")))
        << taken.err.toStdString();
    ::kill(static_cast<pid_t>(holder.processId()), SIGINT);
    ASSERT_TRUE(holder.waitForFinished(kStartMs));

    const QString dropping =
        startSimOverTcp({"--no-noise", "--tcp-close-every", "9"}, QStringLiteral("127.0.0.1:0"));
    QProcess monitor;
    monitor.setProcessEnvironment(russianEnvironment());
    monitor.start(QStringLiteral(TORVIX_CLI_BINARY),
                  {"monitor", "--format", "csv", "--count", "25", "--port", dropping});
    ASSERT_TRUE(monitor.waitForStarted(kStartMs));
    // 25 status reads take 50 requests, and the server drops the connection after every 9th:
    // the monitor gets there only by joining again, each time.
    ASSERT_TRUE(monitor.waitForFinished(kRunMs));
    EXPECT_EQ(monitor.exitCode(), 0);
    const QString err = QString::fromUtf8(monitor.readAllStandardError());
    EXPECT_EQ(parseCsv(QString::fromUtf8(monitor.readAllStandardOutput())).size(), 25u)
        << err.toStdString();
    // The 25 reads and at least the 24 counter writes between them.
    EXPECT_GE(summaryCount(err, QStringLiteral("верных ответов")), 49) << err.toStdString();
    EXPECT_GE(summaryCount(err, QStringLiteral("без ответа")), 5) << err.toStdString();
}

TEST_F(CliEndToEnd, OverTcpAnIndependentModbusStackWithTheRtuFramerServesAndTakesCommands) {
    const Registers registers = distinctiveRegisters();
    const QString ready = runController(registers, QStringLiteral("127.0.0.1:0"));
    ASSERT_TRUE(ready.startsWith(QStringLiteral("ready tcp://"))) << ready.toStdString();
    const QString address = ready.section(u' ', 1);

    const Finished read = runToEnd({"read", "--format", "csv", "--port", address});
    ASSERT_EQ(read.code, 0) << read.err.toStdString();
    const std::vector<Record> records = parseCsv(read.out);
    ASSERT_EQ(records.size(), 1u) << read.out.toStdString();
    EXPECT_EQ(differences(records[0], expectedRecord(registers)).join(u'\n').toStdString(), "");
    EXPECT_EQ(records[0].at("full_power_kw"), QStringLiteral("214748364.8"));

    ASSERT_EQ(runToEnd({"send", "priority", "5", "--port", address}).code, 0);
    EXPECT_TRUE(waitFor([&] {
        const QJsonArray holding = state()["holding"].toArray();
        return holding.size() == 3 && holding[1].toInt() == 0x5505 && holding[2].toInt() == 0xEE55;
    }));
    EXPECT_EQ(state()["rejected_frames"].toInt(), 0);
}

}  // namespace
}  // namespace torvix::cli_e2e
