#pragma once
// The acceptance protocol of a load test: one self-contained HTML page (identification,
// tables, rated values, class and contract limits, plots embedded as PNG data), the same on A4
// pages of a PDF (pdf_report.h), and the whole-test plot alone as a PNG.
// Needs a QApplication: the plots are drawn by QCustomPlot.

#include <QImage>
#include <QString>

#include "analysis/recording.h"
#include "analysis/transient_analysis.h"

namespace torvix::report {

// Both return an empty string, or what went wrong (the file cannot be written).
QString writeReport(const analysis::Analysis& analysis, const analysis::Recording& recording,
                    const analysis::Identification& identification, const QString& htmlPath);
QString writePlot(const analysis::Analysis& analysis, const analysis::Recording& recording,
                  const QString& pngPath);

// The plots, for whoever shows them elsewhere: the whole test, and step `index` (0-based).
QImage wholeTestPlot(const analysis::Analysis& analysis, const analysis::Recording& recording);
QImage stepPlot(const analysis::Analysis& analysis, const analysis::Recording& recording,
                std::size_t index);

}  // namespace torvix::report
