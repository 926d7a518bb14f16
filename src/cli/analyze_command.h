#pragma once
// `torvix-cli analyze RECORD`: the load steps of a recording, their ISO 8528-5 figures and
// class, as a table or JSON, and the HTML report or PNG plot.

namespace torvix::cli {

// Runs before any QCoreApplication exists: only a report or a plot needs a QApplication.
int analyzeMain(int argc, char* argv[]);

}  // namespace torvix::cli
