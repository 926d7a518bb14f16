#pragma once
// The simulator's options and their parsing from the command line.

#include <QString>
#include <QStringList>
#include <optional>

#include "link/tcp_address.h"
#include "protocol/defaults.h"
#include "sim/genset_model.h"
#include "sim/line_settings.h"
#include "sim/simulator_core.h"

namespace torvix::sim {

struct SimOptions {
    QString device;                       // empty: create a pseudo-terminal
    std::optional<TcpAddress> tcpListen;  // serve the line over TCP instead
    int tcpCloseEvery = 0;
    LineSettings settings = defaultLineSettings();
    QString link;
    int address = defaults::kSlaveAddress;
    GensetConfig genset;
    FaultOptions faults;
    RuleBreaks breaks;
    int delayMs = 0;
    int splitMs = 0;
    bool pace = false;
    double turnaroundMs = 2;
    double hangupAfterS = 0;  // 0: the line never hangs up
    double hangupForS = 1;
    double timeScale = 1;
    bool quiet = false;
    QString stateFile;
    QString requestLog;
    QString replyLog;
};

struct CommandLine {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    SimOptions options;
    QString message;  // the help text, or what was wrong
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace torvix::sim
