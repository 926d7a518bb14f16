#pragma once
// What the companion window shows of the link, gathered from every poll tick whether the
// window is open or not: trends, command markers and the traffic on the line.

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

#include "link/modbus.h"
#include "trends/markers.h"
#include "trends/series_store.h"
#include "trends/traffic_ring.h"

namespace torvix::trends {

class CompanionLog : public QObject {
    Q_OBJECT
public:
    struct Now {
        QDateTime wall;      // the record's time
        double monotonicMs;  // the trace's time, since the program started
    };
    using Clock = std::function<Now()>;

    explicit CompanionLog(Clock clock = {}, SeriesStore::Limits limits = {},
                          std::size_t trafficFrames = TrafficRing::kDefaultCapacity);

    // The tick's outcome, as the main window has just shown it. Cheap: no formatting.
    void take(const TickOutcome& outcome);
    // An operator's mark: a marker on the trends.
    void mark(const QString& text);
    // While paused the traffic ring keeps what it has and takes no new frames.
    void setTrafficPaused(bool paused) { trafficPaused_ = paused; }
    bool trafficPaused() const { return trafficPaused_; }

    const SeriesStore& series() const { return series_; }
    const Markers& markers() const { return markers_; }
    const TrafficRing& traffic() const { return traffic_; }

signals:
    void sampleAdded();
    void markerAdded();

private:
    Now now() const;

    Clock clock_;
    QElapsedTimer started_;
    SeriesStore series_;
    Markers markers_;
    TrafficRing traffic_;
    bool trafficPaused_ = false;
};

}  // namespace torvix::trends
