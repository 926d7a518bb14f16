#pragma once
// The trends' panels as the live view and a recording's view both show them: three panels over
// one time axis, a switch per channel, the markers, the cursor lines and the cursor's values.

#include <QTimeZone>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "trends/channels.h"
#include "trends/markers.h"
#include "trends/series_store.h"

class QCheckBox;
class QCPAxis;
class QCPAxisRect;
class QCPGraph;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QLayout;

namespace torvix {

class TrendPlot : public QWidget {
    Q_OBJECT
public:
    // The channel's points between two times, appended to keys and values.
    using Points = std::function<void(std::size_t channel, double from, double to,
                                      QVector<double>& keys, QVector<double>& values)>;
    using Reading = trends::SeriesStore::Reading;

    // `tools` goes above the plot, beside the channel switches.
    explicit TrendPlot(QLayout* tools, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return plot_; }
    QCPAxis* timeAxis() const;
    // Seconds since the epoch.
    std::pair<double, double> timeRange() const;
    void setTimeRange(double from, double to);
    // Times shown in this zone; the computer's own unless set (a recording's offset).
    void setTimeZone(const QTimeZone& zone);

    // 1.5 unless set: a width of 1 draws by Qt's fast path, half the time of a whole hour.
    void setLineWidth(double width);
    void setChannelShown(std::size_t channel, bool shown);
    bool channelShown(std::size_t channel) const;

    // The shown channels over the time axis's range, each unit's axis fitted to its values.
    void draw(const Points& points);
    // The markers within the time axis's range, newest first, at most kMostMarkersDrawn.
    void drawMarkers(const std::deque<trends::Marker>& markers);

    // "07:30:00.216; U ген. A 230,5 В; ..." for the shown channels.
    QString readingText(const Reading& reading) const;
    // "Δt = 1,250 с; ΔU ген. A −3,5 В; ..." from `from` to `to`.
    QString differenceText(const Reading& from, const Reading& to) const;
    QString timeText(double time) const;
    // Cursor line 0 (the moving one) or 1 (the second); nothing hides it.
    void showCursor(int index, std::optional<double> time);
    void setCursorText(const QString& text);
    QString cursorText() const;

signals:
    void channelToggled(std::size_t channel, bool shown);

private:
    QCustomPlot* plot_ = nullptr;
    std::vector<QCPAxisRect*> panels_;
    std::array<QCPGraph*, trends::kChannelCount> graphs_{};
    std::array<QCheckBox*, trends::kChannelCount> channelBoxes_{};
    std::array<std::vector<QCPItemStraightLine*>, 2> cursorLines_;
    QLabel* cursorLabel_ = nullptr;
    QTimeZone zone_ = QTimeZone::systemTimeZone();
};

}  // namespace torvix
