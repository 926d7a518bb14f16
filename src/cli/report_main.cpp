// torvix-report: `torvix-cli analyze` with the HTML and PDF report and the plot, which need Qt
// Widgets and QCustomPlot. torvix-cli hands such a run over to it, so that the terminal tool itself
// loads only Qt Core, Network and SerialPort.

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstring>

#include "cli/analyze_command.h"
#include "report/conformance_report.h"
#include "report/load_test_report.h"
#include "report/pdf_report.h"

// `torvix-report conformance RESULT.json PAGE.html`: the page of the protocol test, from the
// result torvix-cli conformance hands over.
int conformancePage(int argc, char* argv[]) {
    // The page is drawn into a file: no window, so no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "torvix-report: %s cannot be read\n", argv[2]);
        return 1;
    }
    const QString error = torvix::report::writeConformanceReport(
        QJsonDocument::fromJson(file.readAll()).object(), QString::fromLocal8Bit(argv[3]));
    if (error.isEmpty()) return 0;
    std::fprintf(stderr, "torvix-report: %s\n", qPrintable(error));
    return 1;
}

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "conformance") == 0) return conformancePage(argc, argv);
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
