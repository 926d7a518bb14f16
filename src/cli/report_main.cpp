// torvix-report: `torvix-cli analyze` with the HTML report and the plot, which need Qt Widgets
// and QCustomPlot. torvix-cli hands such a run over to it, so that the terminal tool itself
// loads only Qt Core, Network and SerialPort.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "cli/analyze_command.h"
#include "report/load_test_report.h"

int main(int argc, char* argv[]) {
    if (argc < 2 || std::strcmp(argv[1], "analyze") != 0) {
        std::fputs(
            "torvix-report analyze RECORD [--report FILE.html] [--plot FILE.png] ...\n"
            "  the same as torvix-cli analyze, which calls it for --report and --plot\n",
            stderr);
        return 2;
    }
    static const torvix::cli::Pictures pictures{
        .makeApplication = [](int& count, char** args) -> QCoreApplication* {
            return new QApplication(count, args);
        },
        .writeReport = torvix::report::writeReport,
        .writePlot = torvix::report::writePlot,
    };
    return torvix::cli::analyzeMain(argc, argv, &pictures);
}
