#pragma once
// The acceptance protocol as a PDF: A4 pages drawn by Qt's own PDF writer, plots as vectors,
// no table split across pages, a footer with the page number and a line for signatures.
// Needs a QApplication: the plots are drawn by QCustomPlot.

#include <QString>

#include "analysis/acceptance.h"
#include "analysis/recording.h"
#include "analysis/transient_analysis.h"

namespace torvix::report {

// An empty string, or what went wrong (the file cannot be written).
QString writePdf(const analysis::Analysis& analysis, const analysis::Recording& recording,
                 const analysis::Identification& identification, const QString& pdfPath);

}  // namespace torvix::report
