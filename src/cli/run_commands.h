#pragma once
// The sub-commands; each returns the process exit code.

#include <QString>

#include "cli/command_line.h"

namespace torvix::cli {

// `iniPath` is тп.ini (ConfigFile::defaultPath()), only ever read.
int runRead(const Invocation& run, const QString& iniPath);
int runMonitor(const Invocation& run, const QString& iniPath);
int runSend(const Invocation& run, const QString& iniPath);
int runPorts(const QString& iniPath);
int runScript(const Invocation& run, const QString& iniPath);
int runConformance(const Invocation& run, const QString& iniPath);
int runRaw(const Invocation& run, const QString& iniPath);
// The one of them `run.command` names.
int runCommand(const Invocation& run, const QString& iniPath);

}  // namespace torvix::cli
