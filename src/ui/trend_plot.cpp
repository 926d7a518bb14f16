#include "ui/trend_plot.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QDateTime>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace torvix {
namespace {

using trends::kChannelCount;
using trends::kChannels;

QString text(std::u16string_view s) {
    return QStringView(s).toString();
}

// Where each unit is drawn: three panels over one time axis, amperes and kilowatts sharing
// the last, on either side.
struct UnitAxis {
    std::u16string_view unit;
    int panel;
    bool right;
};
constexpr UnitAxis kUnitAxes[] = {
    {u"В", 0, false}, {u"Гц", 1, false}, {u"А", 2, false}, {u"кВт", 2, true}};
constexpr int kPanels = 3;

const UnitAxis& unitAxisOf(const trends::Channel& channel) {
    for (const auto& axis : kUnitAxes)
        if (axis.unit == trends::unitOf(channel)) return axis;
    return kUnitAxes[0];
}

constexpr QRgb kAnsweredColour = 0x1E8C1E;
constexpr QRgb kRefusedColour = 0xD01010;
constexpr QRgb kMarkColour = 0x1F5FD0;
constexpr int kMostMarkersDrawn = 200;

QString valueText(const QLocale& locale, double value, int decimals) {
    return locale.toString(value, 'f', decimals);
}

}  // namespace

TrendPlot::TrendPlot(QLayout* tools, QWidget* parent) : QWidget(parent) {
    auto* channels = new QVBoxLayout;
    for (const auto& axis : kUnitAxes) {
        auto* group = new QGroupBox(text(axis.unit));
        auto* list = new QVBoxLayout(group);
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (trends::unitOf(kChannels[c]) != axis.unit) continue;
            auto* box = new QCheckBox(text(kChannels[c].name));
            box->setObjectName(QStringLiteral("chk_channel"));
            box->setProperty("index", static_cast<int>(c));
            box->setChecked(true);
            QPalette palette = box->palette();
            palette.setColor(QPalette::WindowText, QColor(QRgb(kChannels[c].colour)));
            box->setPalette(palette);
            connect(box, &QCheckBox::toggled, this, [this, c](bool on) {
                graphs_[c]->setVisible(on);
                emit channelToggled(c, on);
            });
            channelBoxes_[c] = box;
            list->addWidget(box);
        }
        channels->addWidget(group);
    }
    channels->addStretch(1);

    plot_ = new QCustomPlot;
    plot_->setObjectName(QStringLiteral("plot_trends"));
    plot_->setNotAntialiasedElements(QCP::aeAll);  // five replots a second stay cheap
    plot_->plotLayout()->clear();
    auto* margins = new QCPMarginGroup(plot_);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    for (int p = 0; p < kPanels; ++p) {
        auto* rect = new QCPAxisRect(plot_);
        plot_->plotLayout()->addElement(p, 0, rect);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        rect->axis(QCPAxis::atBottom)->setTicker(ticker);
        rect->axis(QCPAxis::atBottom)->setTickLabels(p == kPanels - 1);
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        panels_.push_back(rect);
    }
    for (const auto& axis : kUnitAxes) {
        QCPAxis* valueAxis =
            panels_[axis.panel]->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft);
        valueAxis->setVisible(true);
        valueAxis->setLabel(text(axis.unit));
    }
    // One time axis: the panels follow whichever was dragged.
    for (QCPAxisRect* rect : panels_) {
        connect(rect->axis(QCPAxis::atBottom), qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
                this, [this](const QCPRange& range) {
                    for (QCPAxisRect* other : panels_)
                        if (other->axis(QCPAxis::atBottom)->range() != range)
                            other->axis(QCPAxis::atBottom)->setRange(range);
                });
    }
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        const UnitAxis& axis = unitAxisOf(kChannels[c]);
        QCPAxisRect* rect = panels_[axis.panel];
        QCPGraph* graph =
            plot_->addGraph(rect->axis(QCPAxis::atBottom),
                            rect->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft));
        graph->setName(text(kChannels[c].name));
        graph->setPen(QPen(QColor(QRgb(kChannels[c].colour)), 1.5));
        graphs_[c] = graph;
    }
    for (std::size_t index = 0; index < cursorLines_.size(); ++index) {
        for (QCPAxisRect* rect : panels_) {
            auto* line = new QCPItemStraightLine(plot_);
            line->setClipAxisRect(rect);
            line->point1->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            line->point2->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            line->setPen(index == 0 ? QPen(Qt::gray, 1, Qt::DashLine)
                                    : QPen(QColor(0xE07000), 1, Qt::DashDotLine));
            line->setVisible(false);
            cursorLines_[index].push_back(line);
        }
    }
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);

    cursorLabel_ = new QLabel;
    cursorLabel_->setObjectName(QStringLiteral("lbl_cursor"));
    cursorLabel_->setWordWrap(true);
    cursorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cursorLabel_->setMinimumHeight(2 * fontMetrics().height() + 4);

    auto* right = new QVBoxLayout;
    if (tools) right->addLayout(tools);
    right->addWidget(plot_, 1);
    right->addWidget(cursorLabel_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(channels);
    layout->addLayout(right, 1);
}

QCPAxis* TrendPlot::timeAxis() const {
    return panels_.front()->axis(QCPAxis::atBottom);
}

std::pair<double, double> TrendPlot::timeRange() const {
    const QCPRange range = timeAxis()->range();
    return {range.lower, range.upper};
}

void TrendPlot::setTimeRange(double from, double to) {
    timeAxis()->setRange(from, to);
}

void TrendPlot::setTimeZone(const QTimeZone& zone) {
    zone_ = zone;
    if (auto ticker = timeAxis()->ticker().dynamicCast<QCPAxisTickerDateTime>())
        ticker->setTimeZone(zone);
}

void TrendPlot::setLineWidth(double width) {
    for (QCPGraph* graph : graphs_) {
        QPen pen = graph->pen();
        pen.setWidthF(width);
        graph->setPen(pen);
    }
}

void TrendPlot::setChannelShown(std::size_t channel, bool shown) {
    if (channel >= kChannelCount) return;
    if (channelBoxes_[channel]->isChecked() != shown)
        channelBoxes_[channel]->setChecked(shown);  // calls back
}

bool TrendPlot::channelShown(std::size_t channel) const {
    return channel < kChannelCount && graphs_[channel]->visible();
}

void TrendPlot::draw(const Points& points) {
    const auto [from, to] = timeRange();
    QVector<double> keys;
    QVector<double> values;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!graphs_[c]->visible()) continue;
        keys.clear();
        values.clear();
        points(c, from, to, keys, values);
        graphs_[c]->setData(keys, values, true);
    }
    for (const auto& axis : kUnitAxes) {
        QCPAxis* valueAxis =
            panels_[axis.panel]->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft);
        bool found = false;
        QCPRange span;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (!graphs_[c]->visible() || graphs_[c]->valueAxis() != valueAxis) continue;
            bool ok = false;
            const QCPRange range = graphs_[c]->getValueRange(ok, QCP::sdBoth, QCPRange(from, to));
            if (!ok) continue;
            span = found ? QCPRange(std::min(span.lower, range.lower),
                                    std::max(span.upper, range.upper))
                         : range;
            found = true;
        }
        if (!found) continue;
        const double margin = std::max((span.upper - span.lower) * 0.08, 0.5);
        valueAxis->setRange(span.lower - margin, span.upper + margin);
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void TrendPlot::drawMarkers(const std::deque<trends::Marker>& markers) {
    const auto [from, to] = timeRange();
    for (int i = plot_->itemCount() - 1; i >= 0; --i) {
        QCPAbstractItem* item = plot_->item(i);
        if (item->property("marker").toBool()) plot_->removeItem(item);
    }
    // A label lies along its line, one text line wide. Lines closer than that (a busy
    // refusal and the answer a tick later) put their labels in different panels, newest at
    // the top, so that each stays readable.
    const double labelWidth = QFontMetricsF(plot_->font()).height() + 2;
    std::vector<double> lastLabelAt(panels_.size(), -std::numeric_limits<double>::infinity());
    int drawn = 0;
    for (auto it = markers.rbegin(); it != markers.rend() && drawn < kMostMarkersDrawn; ++it) {
        if (it->time < from || it->time > to) continue;
        ++drawn;
        const QColor colour(it->kind == trends::Marker::Kind::Answered  ? kAnsweredColour
                            : it->kind == trends::Marker::Kind::Refused ? kRefusedColour
                                                                        : kMarkColour);
        for (QCPAxisRect* rect : panels_) {
            auto* line = new QCPItemStraightLine(plot_);
            line->setProperty("marker", true);
            line->setClipAxisRect(rect);
            for (QCPItemPosition* point : {line->point1, line->point2})
                point->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            line->point1->setCoords(it->time, 0);
            line->point2->setCoords(it->time, 1);
            line->setPen(QPen(
                colour, 1, it->kind == trends::Marker::Kind::Mark ? Qt::DashLine : Qt::SolidLine));
        }
        // With every panel taken there, the line stays without its text: a shorter interval
        // spreads the lines and shows it, where an overlap would show nothing legible.
        const double x = timeAxis()->coordToPixel(it->time);
        const auto lane = std::find_if(lastLabelAt.begin(), lastLabelAt.end(),
                                       [&](double at) { return std::fabs(at - x) >= labelWidth; });
        if (lane == lastLabelAt.end()) continue;
        *lane = x;
        auto* label = new QCPItemText(plot_);
        label->setProperty("marker", true);
        QCPAxisRect* panel = panels_[static_cast<std::size_t>(lane - lastLabelAt.begin())];
        label->setClipAxisRect(panel);
        label->position->setAxisRect(panel);
        label->position->setAxes(panel->axis(QCPAxis::atBottom), panel->axis(QCPAxis::atLeft));
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        // Read upwards from the panel's foot: a text longer than the panel loses its end, never
        // the command's name.
        label->position->setCoords(it->time, 0.98);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
        label->setRotation(-90);
        label->setColor(colour);
        label->setText(it->text);
        label->setObjectName(QStringLiteral("marker"));
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

QString TrendPlot::timeText(double time) const {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(time * 1000)), zone_)
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString TrendPlot::readingText(const Reading& reading) const {
    const QLocale locale(QLocale::Russian);
    QStringList parts{timeText(reading.time)};
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!graphs_[c]->visible() || std::isnan(reading.low[c])) continue;
        const int decimals = trends::fieldOf(kChannels[c]).decimals;
        QString value = valueText(locale, reading.low[c], decimals);
        if (reading.high[c] != reading.low[c])
            value += u'…' + valueText(locale, reading.high[c], decimals);
        parts << QStringLiteral("%1 %2 %3")
                     .arg(text(kChannels[c].name), value, text(trends::unitOf(kChannels[c])));
    }
    return parts.join(QStringLiteral("; "));
}

QString TrendPlot::differenceText(const Reading& from, const Reading& to) const {
    const QLocale locale(QLocale::Russian);
    QStringList parts{QStringLiteral("Δt = %1 с").arg(valueText(locale, to.time - from.time, 3))};
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!graphs_[c]->visible() || std::isnan(from.low[c]) || std::isnan(to.low[c])) continue;
        const int decimals = trends::fieldOf(kChannels[c]).decimals;
        const double difference = static_cast<double>(to.low[c]) - from.low[c];
        parts << QStringLiteral("Δ%1 %2%3 %4")
                     .arg(text(kChannels[c].name), difference > 0 ? QStringLiteral("+") : QString(),
                          valueText(locale, difference, decimals),
                          text(trends::unitOf(kChannels[c])));
    }
    return parts.join(QStringLiteral("; "));
}

void TrendPlot::showCursor(int index, std::optional<double> time) {
    for (QCPItemStraightLine* line : cursorLines_[static_cast<std::size_t>(index)]) {
        if (time) {
            line->point1->setCoords(*time, 0);
            line->point2->setCoords(*time, 1);
        }
        line->setVisible(time.has_value());
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void TrendPlot::setCursorText(const QString& text) {
    cursorLabel_->setText(text);
}

QString TrendPlot::cursorText() const {
    return cursorLabel_->text();
}

}  // namespace torvix
