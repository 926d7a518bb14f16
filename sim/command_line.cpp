#include "sim/command_line.h"

#include <QCommandLineParser>
#include <cmath>
#include <limits>
#include <string>

#include "protocol/defaults.h"
#include "torvix_version.h"

namespace torvix::sim {
namespace {

const char* const kDescription = R"(
Plays a Torvix generator-set controller as a Modbus RTU slave, for testing the protocol test
tool without the hardware.

Line. By default it creates a pseudo-terminal in raw mode and prints the path of its slave
end as the first line on stdout (flushed); the master opens that path or the --link symlink.
With --device it serves a real serial port instead and prints that path. SIGINT and SIGTERM
end it cleanly (exit code 0) and remove the --link symlink.

Slave. Function 4 reads input registers 300..363 (the status block); function 6 writes
holding register 400 (transaction counter) or 402 (command); function 16 writes 400..402
(401 is the argument of the command in 402). Other functions get exception 1, other
registers exception 2, bad counts exception 3. A frame with a wrong CRC or for another
address gets no reply; a broadcast (address 0) acts without a reply.

Commands written to 402: 0x1231 start, 0x4562 stop, 0x7893 acknowledge (clears the saved
fault words); low byte 0xC4 load, 0xCC section, 0x10 autostart with high byte 0x0B off, 0x5B
on, 0xAB toggle; 0xEE55 / 0xEEAA / 0xEEBB set the priority / section / neighbouring section
to the low byte of 401 (0..7) when its high byte is 0x55 / 0xAA / 0xAA.

Faults. The "every N" faults count the requests addressed to this slave; when several fall
on one request, the first of drop, exception, garbage, bad CRC, wrong address applies.
A dropped, refused or garbled request does not act; a bad-CRC or wrong-address reply
belongs to a request that did.

--state-file PATH: a JSON object, rewritten atomically (written beside, then renamed) at
start, after every received frame and once a second: address, input_registers (64 values,
register 300 first), holding_registers {"400", "401", "402"}, counter, commands (the latest
1000 codes written to 402, oldest first), command_count, running, load, section, autostart,
section_number, priority, neighbour_section, line_up, device, frames, requests, broadcasts,
bad_crc, other_address, replies, exceptions, faults {dropped, exception, garbage, bad_crc,
wrong_address, hangups}.

--log-requests PATH: appends one line per received frame: the CLOCK_MONOTONIC time of its
first byte in microseconds, then its bytes in hex, e.g. "5234120077 07 04 01 2C 00 40 31 A9".

Unless --quiet, a one-line summary goes to stderr every second.)";

struct OptionInfo {
    const char* name;
    const char* value;
    const char* help;
    const char* defaultValue;
};

const std::string kAddressRange = std::to_string(defaults::kLowestSlaveAddress) + ".." +
                                  std::to_string(defaults::kHighestSlaveAddress);
const std::string kAddressDefault = std::to_string(defaults::kSlaveAddress);

const OptionInfo kOptions[] = {
    {"device", "path", "Serve this serial port instead of creating a pseudo-terminal.", nullptr},
    {"settings", "baud,parity,data,stop",
     "Line settings of --device, e.g. 9600,n,8,2; they also set the silent interval that ends "
     "a frame (3.5 characters, at least 2 ms). Some kernels refuse parity on a "
     "pseudo-terminal, so a --device that is one wants n.",
     defaults::kLineSettings},
    {"tcp-listen", "host:port",
     "Serve the line over TCP instead, as a serial device server does: RTU frames, one client "
     "at a time; another is accepted and closed at once. The address listened on, e.g. "
     "tcp://127.0.0.1:4001, is the first line on stdout; port 0 takes a free one, kept when "
     "--hangup-after closes and reopens it. [::1]:4001 for IPv6.",
     nullptr},
    {"tcp-close-every", "n",
     "With --tcp-listen: close the client's connection after every nth frame it sent (the "
     "reply goes out first).",
     nullptr},
    {"link", "path",
     "Also make a symlink at <path> to the device; re-pointed atomically when a hang-up "
     "creates a new pseudo-terminal; removed on exit.",
     nullptr},
    {"address", kAddressRange.c_str(), "Slave address.", kAddressDefault.c_str()},
    {"seed", "n", "Seed of the measurement noise and the garbage bytes.", "1"},
    {"no-noise", nullptr,
     "Exact values: 230.0 V and 50.00 Hz between load steps, the load as given.", nullptr},
    {"running", nullptr, "Start with the generator set running (default: stopped).", nullptr},
    {"load", "kW",
     "Active power delivered while running with the load switched on (power factor 0.8).", "120"},
    {"frequency-dip", "%",
     "How deep the frequency dips when the load goes on (and rises when it goes off), % of "
     "50 Hz. The governor answers as a second-order system with damping 0.5.",
     nullptr},
    {"frequency-recovery", "s",
     "Seconds from the load step until the frequency stays within ±BAND % of 50 Hz.", nullptr},
    {"voltage-dip", "%", "How deep the voltage dips when the load goes on, % of 230 V.", nullptr},
    {"voltage-recovery", "s",
     "Seconds from the load step until the voltage stays within ±BAND % of 230 V.", nullptr},
    {"time-scale", "factor",
     "Simulated time per real time; 60 counts one running minute per second.", "1"},
    {"drop-every", "n", "No reply to every nth request.", nullptr},
    {"bad-crc-every", "n", "A wrong CRC in the reply to every nth request.", nullptr},
    {"exception-every", "n", "An exception as the reply to every nth request.", nullptr},
    {"exception-code", "1..255", "The code of the --exception-every replies (6 is busy).", "6"},
    {"garbage-every", "n", "1 to 40 random bytes instead of the reply to every nth request.",
     nullptr},
    {"wrong-address-every", "n",
     "The reply to every nth request comes from another address (good CRC).", nullptr},
    {"delay", "ms", "Every reply goes out <ms> after the request.", nullptr},
    {"split", "ms", "Every reply goes out in two halves, <ms> apart.", nullptr},
    {"pace", nullptr,
     "Time the replies as a real line would: each goes out when the request and the reply "
     "would have crossed the line at the --settings speed (11 bits a character with parity, "
     "10 without), plus the turnaround, counted from the request's first byte.",
     nullptr},
    {"turnaround-ms", "ms", "With --pace: the controller's time from request to reply.", "2"},
    {"hangup-after", "s",
     "Hang up the line after it has been up <s> seconds, again and again: a pseudo-terminal is "
     "closed, a --device port is closed.",
     nullptr},
    {"hangup-for", "s",
     "Seconds the line stays down; then a new pseudo-terminal is created, its path printed on "
     "stdout and --link re-pointed, or the --device port is reopened.",
     "1"},
    {"answer-bad-crc", nullptr, "Rule break: serve a request with a wrong CRC as if it were right.",
     nullptr},
    {"answer-other-address", nullptr,
     "Rule break: serve requests for any other slave address, as that slave.", nullptr},
    {"answer-broadcast", nullptr, "Rule break: reply to a broadcast read (address 0).", nullptr},
    {"silent-exceptions", nullptr, "Rule break: no reply where an exception is due.", nullptr},
    {"slow-reply-every", "n",
     "Rule break: every nth reply goes out --slow-reply-ms late (a slow turnaround).", nullptr},
    {"slow-reply-ms", "ms", "How late the --slow-reply-every replies are.", "150"},
    {"hang-after-malformed", "n",
     "Rule break: after the nth frame with a wrong CRC (or too short), never reply again.",
     nullptr},
    {"quiet", nullptr, "No summary line per second on stderr.", nullptr},
    {"state-file", "path", "Rewrite the simulator's state as JSON to <path> (see above).", nullptr},
    {"log-requests", "path", "Append every received frame with its time to <path> (see above).",
     nullptr},
    {"log-replies", "path",
     "Append every reply as it is written: the CLOCK_MONOTONIC time in microseconds just before "
     "its last part went to the line, then its bytes, as --log-requests has them.",
     nullptr},
};

// The set's response: defaults and bands live in GensetConfig; help shows them from there.
struct ResponseOption {
    const char* name;
    StepResponseParameters GensetConfig::*response;
    double StepResponseParameters::*field;
};
constexpr ResponseOption kResponseOptions[] = {
    {"frequency-dip", &GensetConfig::frequencyResponse, &StepResponseParameters::dipPct},
    {"frequency-recovery", &GensetConfig::frequencyResponse, &StepResponseParameters::recoveryS},
    {"voltage-dip", &GensetConfig::voltageResponse, &StepResponseParameters::dipPct},
    {"voltage-recovery", &GensetConfig::voltageResponse, &StepResponseParameters::recoveryS},
};

const ResponseOption* responseOption(const char* name) {
    for (const ResponseOption& option : kResponseOptions)
        if (QLatin1String(option.name) == QLatin1String(name)) return &option;
    return nullptr;
}

class Reader {
public:
    explicit Reader(const QCommandLineParser& parser) : parser_(parser) {}

    void integer(const char* name, int min, int max, int& out) {
        if (!parser_.isSet(QLatin1String(name))) return;
        bool ok = false;
        const int v = parser_.value(QLatin1String(name)).toInt(&ok);
        if (!ok || v < min || v > max)
            fail(QStringLiteral("--%1 wants a whole number from %2 to %3")
                     .arg(QLatin1String(name))
                     .arg(min)
                     .arg(max));
        else
            out = v;
    }

    void real(const char* name, double min, double max, double& out) {
        if (!parser_.isSet(QLatin1String(name))) return;
        bool ok = false;
        const double v = parser_.value(QLatin1String(name)).toDouble(&ok);
        if (!ok || !std::isfinite(v) || v < min || v > max)
            fail(QStringLiteral("--%1 wants a number from %2 to %3")
                     .arg(QLatin1String(name))
                     .arg(min)
                     .arg(max));
        else
            out = v;
    }

    QString error;

private:
    void fail(const QString& message) {
        if (error.isEmpty()) error = message;
    }
    const QCommandLineParser& parser_;
};

void readRuleBreaks(const QCommandLineParser& parser, Reader& read, RuleBreaks& breaks) {
    breaks.answerBadCrc = parser.isSet(QStringLiteral("answer-bad-crc"));
    breaks.answerOtherAddress = parser.isSet(QStringLiteral("answer-other-address"));
    breaks.answerBroadcast = parser.isSet(QStringLiteral("answer-broadcast"));
    breaks.silentExceptions = parser.isSet(QStringLiteral("silent-exceptions"));
    constexpr int kMaxInt = std::numeric_limits<int>::max();
    read.integer("slow-reply-every", 0, kMaxInt, breaks.slowReplyEvery);
    read.integer("slow-reply-ms", 0, 600000, breaks.slowReplyMs);
    read.integer("hang-after-malformed", 0, kMaxInt, breaks.hangAfterMalformed);
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    for (const OptionInfo& info : kOptions) {
        QString text = QString::fromUtf8(info.help);
        if (info.defaultValue != nullptr)
            text += QStringLiteral(" Default: %1.").arg(QLatin1String(info.defaultValue));
        if (const ResponseOption* r = responseOption(info.name)) {
            static const GensetConfig defaults;
            const StepResponseParameters& response = defaults.*(r->response);
            text.replace(QStringLiteral("BAND"), QString::number(response.bandPct));
            text += QStringLiteral(" Default: %1 (a typical G2 set of ISO 8528-5).")
                        .arg(response.*(r->field));
        }
        QCommandLineOption option(QString::fromLatin1(info.name), text);
        if (info.value != nullptr) option.setValueName(QString::fromLatin1(info.value));
        if (info.defaultValue != nullptr)
            option.setDefaultValue(QString::fromLatin1(info.defaultValue));
        parser.addOption(option);
    }

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.outcome = CommandLine::Outcome::Error;
        result.message = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.outcome = CommandLine::Outcome::Help;
        result.message = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = CommandLine::Outcome::Help;
        result.message = QStringLiteral("torvix-sim " TORVIX_VERSION "\n");
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.outcome = CommandLine::Outcome::Error;
        result.message =
            QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return result;
    }

    SimOptions& o = result.options;
    o.device = parser.value(QStringLiteral("device"));
    o.link = parser.value(QStringLiteral("link"));
    o.stateFile = parser.value(QStringLiteral("state-file"));
    o.requestLog = parser.value(QStringLiteral("log-requests"));
    o.replyLog = parser.value(QStringLiteral("log-replies"));
    o.pace = parser.isSet(QStringLiteral("pace"));
    o.quiet = parser.isSet(QStringLiteral("quiet"));
    o.genset.noise = !parser.isSet(QStringLiteral("no-noise"));
    o.genset.running = parser.isSet(QStringLiteral("running"));

    Reader read(parser);
    constexpr int kMaxInt = std::numeric_limits<int>::max();
    read.integer("address", defaults::kLowestSlaveAddress, defaults::kHighestSlaveAddress,
                 o.address);
    int seed = 1;
    read.integer("seed", 0, kMaxInt, seed);
    o.genset.seed = static_cast<std::uint32_t>(seed);
    read.real("load", 0, 100000, o.genset.loadKw);
    read.real("time-scale", 0, 1e6, o.timeScale);
    for (const ResponseOption& r : kResponseOptions) {
        StepResponseParameters& response = o.genset.*(r.response);
        // A dip that stays inside its band has no recovery to time.
        const bool dip = r.field == &StepResponseParameters::dipPct;
        read.real(r.name, dip ? response.bandPct * 1.01 : 0.01, dip ? 80 : 600,
                  response.*(r.field));
    }
    read.integer("drop-every", 0, kMaxInt, o.faults.dropEvery);
    read.integer("bad-crc-every", 0, kMaxInt, o.faults.badCrcEvery);
    read.integer("exception-every", 0, kMaxInt, o.faults.exceptionEvery);
    int exceptionCode = o.faults.exceptionCode;
    read.integer("exception-code", 1, 255, exceptionCode);
    o.faults.exceptionCode = static_cast<std::uint8_t>(exceptionCode);
    read.integer("garbage-every", 0, kMaxInt, o.faults.garbageEvery);
    read.integer("wrong-address-every", 0, kMaxInt, o.faults.wrongAddressEvery);
    read.integer("delay", 0, 600000, o.delayMs);
    read.integer("split", 0, 600000, o.splitMs);
    read.real("turnaround-ms", 0, 600000, o.turnaroundMs);
    read.real("hangup-after", 0, 1e6, o.hangupAfterS);
    read.real("hangup-for", 0.01, 1e6, o.hangupForS);
    read.integer("tcp-close-every", 0, kMaxInt, o.tcpCloseEvery);
    readRuleBreaks(parser, read, o.breaks);
    if (parser.isSet(QStringLiteral("tcp-listen"))) {
        o.tcpListen = parseListenAddress(parser.value(QStringLiteral("tcp-listen")));
        if (!o.tcpListen && read.error.isEmpty())
            read.error = QStringLiteral("--tcp-listen wants host:port such as 127.0.0.1:4001");
        else if (read.error.isEmpty() && (!o.device.isEmpty() || !o.link.isEmpty()))
            read.error =
                QStringLiteral("--tcp-listen serves no device: leave out --device and --link");
    }

    const auto settings = LineSettings::parse(parser.value(QStringLiteral("settings")));
    if (settings)
        o.settings = *settings;
    else if (read.error.isEmpty())
        read.error = QStringLiteral("--settings wants baud,parity,data,stop such as 115200,e,8,1");

    if (!read.error.isEmpty()) {
        result.outcome = CommandLine::Outcome::Error;
        result.message = read.error;
    }
    return result;
}

}  // namespace torvix::sim
