#include "report/transient_plot.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace torvix::report {
namespace {

using analysis::Analysis;
using analysis::Recording;
using analysis::Step;
using analysis::Transient;

const QColor kFrequencyColor(0x1f, 0x4e, 0x9c);
const QColor kVoltageColor(0xb0, 0x30, 0x30);
const QColor kPowerColor(0x2e, 0x7d, 0x32);
const QColor kMarkColor(0x55, 0x55, 0x55);
const QColor kExtremeColor(0xe6, 0x7e, 0x00);

struct Panel {
    QCPAxisRect* rect;
    QCPAxis* x;
    QCPAxis* y;
    double low;
    double high;

    void include(double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

Panel addPanel(QCustomPlot& plot, int row, const QString& label, QCPMarginGroup* margins) {
    auto* rect = new QCPAxisRect(&plot);
    plot.plotLayout()->addElement(row, 0, rect);
    rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    QCPAxis* x = rect->axis(QCPAxis::atBottom);
    QCPAxis* y = rect->axis(QCPAxis::atLeft);
    y->setLabel(label);
    x->setLabel(QStringLiteral("t, с"));
    return {rect, x, y, std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
}

// Values below `scaleFrom` (a stopped set's zeros) are drawn but do not set the scale, which
// would flatten the transients.
void addSeries(QCustomPlot& plot, Panel& p, const Recording& r, const std::vector<double>& values,
               std::size_t first, std::size_t end, const QColor& color, double scaleFrom) {
    QVector<double> keys(r.timeS.begin() + static_cast<std::ptrdiff_t>(first),
                         r.timeS.begin() + static_cast<std::ptrdiff_t>(end));
    QVector<double> data(values.begin() + static_cast<std::ptrdiff_t>(first),
                         values.begin() + static_cast<std::ptrdiff_t>(end));
    for (double v : data)
        if (v >= scaleFrom) p.include(v);
    QCPGraph* graph = plot.addGraph(p.x, p.y);
    graph->setData(keys, data, true);
    graph->setPen(QPen(color, 1.5));
    graph->setAdaptiveSampling(true);
}

void verticalLine(QCustomPlot& plot, const Panel& p, double t, Qt::PenStyle style) {
    auto* line = new QCPItemStraightLine(&plot);
    line->setClipAxisRect(p.rect);
    line->point1->setAxes(p.x, p.y);
    line->point2->setAxes(p.x, p.y);
    line->point1->setCoords(t, 0);
    line->point2->setCoords(t, 1);
    line->setPen(QPen(kMarkColor, 1, style));
}

void bandLine(QCustomPlot& plot, Panel& p, double from, double to, double value) {
    auto* line = new QCPItemLine(&plot);
    line->setClipAxisRect(p.rect);
    line->start->setAxes(p.x, p.y);
    line->end->setAxes(p.x, p.y);
    line->start->setCoords(from, value);
    line->end->setCoords(to, value);
    line->setPen(QPen(kMarkColor, 1, Qt::DashLine));
    p.include(value);
}

void extremePoint(QCustomPlot& plot, Panel& p, double t, double value, const QString& text) {
    QCPGraph* point = plot.addGraph(p.x, p.y);
    point->setData(QVector<double>{t}, QVector<double>{value}, true);
    point->setLineStyle(QCPGraph::lsNone);
    point->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssCircle, kExtremeColor, kExtremeColor, 7));
    auto* label = new QCPItemText(&plot);
    label->setClipAxisRect(p.rect);
    label->position->setAxes(p.x, p.y);
    label->position->setCoords(t, value);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setPadding(QMargins(8, 0, 0, 0));
    label->setText(text);
    label->setColor(kExtremeColor.darker(130));
}

// t0, the band the recovery was measured to, the extreme and where the recovery ends.
void markTransient(QCustomPlot& plot, Panel& p, const Recording& r, const Step& s,
                   const Transient& t, PlotSpan span) {
    const double end = r.timeS[s.endRow - 1];
    const double from = std::max(s.timeS, span.fromS);
    const double to = std::min(end, span.toS);
    if (from < to) {
        bandLine(plot, p, from, to, t.steadyValue + t.bandHalfWidth);
        bandLine(plot, p, from, to, t.steadyValue - t.bandHalfWidth);
    }
    const double extremeT = r.timeS[t.extremeRow];
    if (extremeT >= span.fromS && extremeT <= span.toS && t.deviationPct)
        extremePoint(plot, p, extremeT, t.extremeValue,
                     QStringLiteral("%1%2 %")
                         .arg(*t.deviationPct > 0 ? QStringLiteral("+") : QString())
                         .arg(*t.deviationPct, 0, 'f', 2));
    if (t.recoveryS && *t.recoveryS > 0) verticalLine(plot, p, s.timeS + *t.recoveryS, Qt::DotLine);
}

void finish(Panel& p, PlotSpan span) {
    p.x->setRange(span.fromS, span.toS);
    if (p.low > p.high) {
        p.low = 0;
        p.high = 1;
    }
    const double margin = std::max((p.high - p.low) * 0.08, 1e-3);
    p.y->setRange(p.low - margin, p.high + margin);
}

}  // namespace

PlotSpan stepSpan(const Analysis& a, const Recording& r, std::size_t index) {
    const Step& s = a.steps[index];
    double settled = 0;
    for (const Transient* t : {&s.frequency, &s.voltage})
        settled = std::max(settled, t->recoveryS.value_or(0));
    const double windowEnd = r.timeS[s.endRow - 1];
    const double to = std::min(windowEnd, s.timeS + std::max(10.0, 1.5 * settled + 2));
    return {std::max(r.timeS.front(), s.timeS - 2), std::max(to, s.timeS + 1)};
}

namespace {

void build(QCustomPlot& plot, const Analysis& a, const Recording& r, PlotSpan span,
           const QString& title) {
    plot.setNoAntialiasingOnDrag(true);
    plot.plotLayout()->clear();
    plot.plotLayout()->addElement(
        0, 0,
        new QCPTextElement(&plot, title, QFont(QStringLiteral("DejaVu Sans"), 11, QFont::Bold)));
    auto* margins = new QCPMarginGroup(&plot);
    Panel f = addPanel(plot, 1, QStringLiteral("f, Гц"), margins);
    Panel u = addPanel(plot, 2, QStringLiteral("U, В"), margins);
    Panel p = addPanel(plot, 3, QStringLiteral("P, кВт"), margins);

    const auto first = static_cast<std::size_t>(
        std::lower_bound(r.timeS.begin(), r.timeS.end(), span.fromS) - r.timeS.begin());
    const auto end = static_cast<std::size_t>(
        std::upper_bound(r.timeS.begin(), r.timeS.end(), span.toS) - r.timeS.begin());
    addSeries(plot, f, r, r.frequencyHz, first, end, kFrequencyColor,
              a.rated.frequencyHz * analysis::kRunningFromShareOfRated);
    addSeries(plot, u, r, r.voltageV, first, end, kVoltageColor,
              a.rated.voltageV * analysis::kRunningFromShareOfRated);
    addSeries(plot, p, r, r.powerKw, first, end, kPowerColor,
              std::numeric_limits<double>::lowest());

    for (const Step& s : a.steps) {
        if (r.timeS[s.endRow - 1] < span.fromS || s.timeS > span.toS) continue;
        for (Panel* panel : {&f, &u, &p}) verticalLine(plot, *panel, s.timeS, Qt::DashLine);
        markTransient(plot, f, r, s, s.frequency, span);
        markTransient(plot, u, r, s, s.voltage, span);
    }
    for (Panel* panel : {&f, &u, &p}) finish(*panel, span);
}

}  // namespace

QImage transientPlot(const Analysis& a, const Recording& r, PlotSpan span, const QString& title,
                     QSize size) {
    QCustomPlot plot;
    build(plot, a, r, span, title);
    return plot.toPixmap(size.width(), size.height()).toImage();
}

void paintTransientPlot(QCPPainter& painter, const QRect& where, const Analysis& a,
                        const Recording& r, PlotSpan span, const QString& title) {
    QCustomPlot plot;
    build(plot, a, r, span, title);
    painter.save();
    painter.translate(where.topLeft());
    // Lines and text stay vectors; QCustomPlot draws in the painter's units.
    plot.toPainter(&painter, where.width(), where.height());
    painter.restore();
}

}  // namespace torvix::report
