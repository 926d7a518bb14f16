#pragma once
// What the companion window shows of the link, gathered from every poll tick whether the
// window is open or not: trends, command markers, the traffic on the line and the recording.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

#include "link/modbus.h"
#include "record/record_writers.h"
#include "trends/markers.h"
#include "trends/recording_session.h"
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
    // An operator's mark: a marker on the trends and an event of the recording.
    void mark(const QString& text);

    // Into `folder`, named by the time now; the message when it cannot begin.
    std::optional<QString> startRecording(const QString& folder);
    void stopRecording();
    const RecordingSession& recording() const { return recording_; }
    // While paused the traffic ring keeps what it has and takes no new frames.
    void setTrafficPaused(bool paused) { trafficPaused_ = paused; }
    bool trafficPaused() const { return trafficPaused_; }

    const SeriesStore& series() const { return series_; }
    const Markers& markers() const { return markers_; }
    const TrafficRing& traffic() const { return traffic_; }

signals:
    // Begun, stopped, or a row written.
    void recordingChanged();
    // The file refused a row: the recording has stopped.
    void recordingFailed(const QString& message);

private:
    Now now();

    Clock clock_;
    record::RecordClock recordClock_;
    QElapsedTimer started_;
    SeriesStore series_;
    Markers markers_;
    TrafficRing traffic_;
    bool trafficPaused_ = false;
    RecordingSession recording_;
    // The command the controller last answered "busy", until taken.
    std::optional<requests::Request> busyRequest_;
};

}  // namespace torvix::trends
