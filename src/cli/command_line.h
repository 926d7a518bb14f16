#pragma once
// The command line of torvix-cli: sub-command, global options and each command's own options.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "protocol/defaults.h"
#include "protocol/request_table.h"
#include "record/record_writers.h"

namespace torvix::cli {

enum class Command { Read, Monitor, Send, Ports, Run, Conformance, Raw };
using record::Format;

struct Invocation {
    Command command = Command::Read;
    QString port;      // as typed: "5", "COM5" or a device path; empty: from тп.ini
    QString settings;  // as typed; empty: from тп.ini
    int address = defaults::kSlaveAddress;
    double timeoutSeconds = 3;
    std::optional<Format> format;  // empty: table on a terminal, CSV otherwise
    QString output;                // empty: stdout
    std::optional<long long> count;
    std::optional<double> durationSeconds;
    bool trace = false;
    requests::Request operatorCommand{requests::Kind::Start};  // send: one of the commands
    QString script;                                            // run's script file
    QString junit;                                             // empty: no JUnit report
    bool fast = false;
    std::optional<double> replyTimeoutSeconds;  // --fast: empty means from the line speed

    // conformance
    bool json = false;  // --format json; text otherwise
    QString report;     // --report FILE.html
    QStringList only;
    QStringList skip;
    std::optional<double> fuzzSeconds;
    std::optional<quint64> seed;  // empty: one of the clock's, printed
    bool allFunctions = false;
    bool whileRunning = false;
    // raw: the frame as typed, without CRC unless --no-crc
    std::vector<std::uint8_t> rawFrame;
    bool noCrc = false;
    bool allowCommands = false;
    int repeat = 1;
    double intervalSeconds = 0.1;
};

// Either what to run, or a text to print and the code to exit with (help, version, usage error).
struct Parsed {
    std::optional<Invocation> invocation;
    QString text;
    bool toStderr = false;
    int exitCode = 0;
};

// `arguments` as QCoreApplication::arguments(), program name first.
Parsed parseCommandLine(const QStringList& arguments);

// "5", "COM5" (any case) -> 5; nothing when the text is not a port number.
std::optional<int> portNumberOf(const QString& text);

}  // namespace torvix::cli
