#pragma once
// f, U and P over a span of the recording, stacked, with each step's t0, bands and extremes.

#include <QImage>
#include <QSize>
#include <QString>

#include "analysis/recording.h"
#include "analysis/transient_analysis.h"

namespace torvix::report {

struct PlotSpan {
    double fromS;
    double toS;
};

QImage transientPlot(const analysis::Analysis& analysis, const analysis::Recording& recording,
                     PlotSpan span, const QString& title, QSize size);

// The span that shows step `index`: a little before t0 to a little after both recoveries.
PlotSpan stepSpan(const analysis::Analysis& analysis, const analysis::Recording& recording,
                  std::size_t index);

}  // namespace torvix::report
