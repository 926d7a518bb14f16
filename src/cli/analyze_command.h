#pragma once
// `torvix-cli analyze RECORD`: the load steps of a recording, their ISO 8528-5 figures and
// class (and with --limits the contract's verdict), as a table or JSON, and the acceptance
// protocol as HTML or PDF, or the PNG plot.

#include <QCoreApplication>
#include <QString>

namespace torvix::analysis {
struct Analysis;
struct Recording;
struct Identification;
}  // namespace torvix::analysis

namespace torvix::cli {

// What draws the report and the plot. torvix-cli has none: it stays a Qt Core program, as
// light as a terminal tool should be, and hands a run with --report or --plot whole to its
// sibling torvix-report, which has them.
struct Pictures {
    using Writer = QString (*)(const analysis::Analysis&, const analysis::Recording&,
                               const analysis::Identification&, const QString& path);
    QCoreApplication* (*makeApplication)(int& argc, char** argv);  // a QApplication
    Writer writeReport;
    Writer writePdf;
    Writer writePlot;
};

// The program beside torvix-cli that analyses with pictures.
inline constexpr const char* kReportProgram = "torvix-report";

// Runs before any QCoreApplication exists: only a report, a PDF or a plot needs a QApplication.
int analyzeMain(int argc, char* argv[], const Pictures* pictures);

}  // namespace torvix::cli
