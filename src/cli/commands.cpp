#include "cli/exit_code.h"
#include "cli/run_commands.h"

namespace torvix::cli {

int runCommand(const Invocation& run, const QString& iniPath) {
    switch (run.command) {
        case Command::Read:
            return runRead(run, iniPath);
        case Command::Monitor:
            return runMonitor(run, iniPath);
        case Command::Send:
            return runSend(run, iniPath);
        case Command::Ports:
            return runPorts(iniPath);
        case Command::Run:
            return runScript(run, iniPath);
        case Command::Conformance:
            return runConformance(run, iniPath);
        case Command::Raw:
            return runRaw(run, iniPath);
    }
    return static_cast<int>(ExitCode::Usage);
}

}  // namespace torvix::cli
