// torvix-cli: the Torvix controller from a terminal and from scripts.

#include <QCoreApplication>
#include <cstring>

#include "cli/analyze_command.h"
#include "cli/console.h"
#include "cli/cut_command.h"
#include "cli/run_commands.h"
#include "settings/config_file.h"
#include "torvix_version.h"

int main(int argc, char* argv[]) {
    using namespace torvix::cli;
    if (argc > 1 && std::strcmp(argv[1], "analyze") == 0) return analyzeMain(argc, argv, nullptr);
    if (argc > 1 && std::strcmp(argv[1], "cut") == 0) return cutMain(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TORVIX_VERSION));

    const Parsed parsed = parseCommandLine(QCoreApplication::arguments());
    if (!parsed.invocation) {
        put(parsed.toStderr ? stderr : stdout, parsed.text);
        return parsed.exitCode;
    }
    return runCommand(*parsed.invocation, torvix::ConfigFile::defaultPath());
}
