#pragma once
// The protocol test's page: one self-contained HTML file with the checks, every frame each
// sent and got with its time, and the histogram of the turnarounds, drawn by QCustomPlot.
// Needs a QApplication.

#include <QImage>
#include <QJsonObject>
#include <QString>
#include <vector>

namespace torvix::report {

// `result`: the JSON of `torvix-cli conformance --format json` with "turnarounds_ms" besides.
// Empty, or what went wrong.
QString writeConformanceReport(const QJsonObject& result, const QString& htmlPath);

QImage turnaroundHistogram(const std::vector<double>& turnaroundsMs);

}  // namespace torvix::report
