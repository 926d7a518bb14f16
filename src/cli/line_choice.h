#pragma once
// Which port and line settings to use (command line, else тп.ini), and opening that port.

#include <QString>
#include <map>
#include <variant>

#include "cli/command_line.h"
#include "cli/exit_code.h"
#include "link/serial_port.h"
#include "protocol/line_settings.h"

namespace torvix::cli {

struct LineChoice {
    int number = 1;  // a device path given on the command line gets kPathPortNumber
    std::map<int, QString> overrides;
    LineSettings settings;
    QString device;  // the path the number stands for, for messages

    QString name() const;  // "COM5 (/dev/ttyUSB0)" or the path alone
};

// Numbers above the fixed table exist only through overrides; a path from --port uses this one.
inline constexpr int kPathPortNumber = 255;

struct Failure {
    ExitCode code;
    QString message;
};

// `iniPath`: тп.ini (ConfigFile::defaultPath()); only read.
std::variant<LineChoice, Failure> chooseLine(const Invocation& run, const QString& iniPath);

// Sets number, settings and opens; the failure tells the reason and exits 1.
std::optional<Failure> openLine(SerialPort& port, const LineChoice& line);

}  // namespace torvix::cli
