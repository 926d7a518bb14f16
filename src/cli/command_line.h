#pragma once
// The command line of torvix-cli: sub-command, global options and each command's own options.

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "record/record_writers.h"

namespace torvix::cli {

enum class Command { Read, Monitor, Send, Ports, Run };
using record::Format;

// One of the twelve buttons (index into the window's mode codes) or a number command.
struct ModeCommand {
    int index;
};
struct NumberCommand {
    int kindIndex;  // 0 priority, 1 section, 2 neighbouring section
    int number;
};
using OperatorCommand = std::variant<ModeCommand, NumberCommand>;

struct Invocation {
    Command command = Command::Read;
    QString port;      // as typed: "5", "COM5" or a device path; empty: from тп.ini
    QString settings;  // as typed; empty: from тп.ini
    int address = 7;
    double timeoutSeconds = 3;
    std::optional<Format> format;  // empty: table on a terminal, CSV otherwise
    QString output;                // empty: stdout
    std::optional<long long> count;
    std::optional<double> durationSeconds;
    bool trace = false;
    OperatorCommand operatorCommand = ModeCommand{0};
    QStringList commandWords;  // send's words as typed: "load on"
    QString script;            // run's script file
    QString junit;             // empty: no JUnit report
    bool fast = false;
    std::optional<double> replyTimeoutSeconds;  // --fast: empty means from the line speed
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

// send's words (start, load on, priority 3 ...) as a command, or why they are not one.
std::variant<OperatorCommand, QString> operatorCommandOf(const QStringList& words);

// "5", "COM5" (any case) -> 5; nothing when the text is not a port number.
std::optional<int> portNumberOf(const QString& text);

}  // namespace torvix::cli
