// torvix-report: `torvix-cli analyze` with the HTML and PDF report and the plot, which need Qt
// Widgets and QCustomPlot. torvix-cli hands such a run over to it, so that the terminal tool itself
// loads only Qt Core, Network and SerialPort.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "cli/analyze_command.h"
#include "report/load_test_report.h"
#include "report/pdf_report.h"

int main(int argc, char* argv[]) {
    if (argc < 2 || std::strcmp(argv[1], "analyze") != 0) {
        std::fputs(
            "torvix-report analyze RECORD [--report FILE.html] [--pdf FILE.pdf] [--plot FILE.png] "
            "...\n"
            "  the same as torvix-cli analyze, which calls it for --report, --pdf and --plot\n",
            stderr);
        return 2;
    }
    static const torvix::cli::Pictures pictures{
        .makeApplication = [](int& count, char** args) -> QCoreApplication* {
            return new QApplication(count, args);
        },
        .writeReport = torvix::report::writeReport,
        .writePdf = torvix::report::writePdf,
        .writePlot =
            [](const torvix::analysis::Analysis& analysis,
               const torvix::analysis::Recording& recording,
               const torvix::analysis::Identification&, const QString& path) {
                return torvix::report::writePlot(analysis, recording, path);
            },
    };
    return torvix::cli::analyzeMain(argc, argv, &pictures);
}
