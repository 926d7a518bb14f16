#pragma once
// f, U and P over a span of the recording, stacked, with each step's t0, bands and extremes.

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include "analysis/recording.h"
#include "analysis/transient_analysis.h"

class QCPPainter;

namespace torvix::report {

struct PlotSpan {
    double fromS;
    double toS;
};

QImage transientPlot(const analysis::Analysis& analysis, const analysis::Recording& recording,
                     PlotSpan span, const QString& title, QSize size);
// The same plot as vectors into `where` of an active painter, a PDF page's.
void paintTransientPlot(QCPPainter& painter, const QRect& where, const analysis::Analysis& analysis,
                        const analysis::Recording& recording, PlotSpan span, const QString& title);

// The span that shows step `index`: a little before t0 to a little after both recoveries.
PlotSpan stepSpan(const analysis::Analysis& analysis, const analysis::Recording& recording,
                  std::size_t index);

}  // namespace torvix::report
