#pragma once
// The vertical markers of the trends: operator commands answered or refused, and marks.

#include <QString>
#include <QStringView>
#include <cstddef>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace torvix::trends {

struct Marker {
    enum class Kind { Answered, Refused, Mark };
    double time;  // seconds since the epoch
    Kind kind;
    QString text;  // "СТАРТ", "Нагрузка 1: исключение 2 (недопустимый адрес данных)", a mark
};

// The newest kCapacity markers; a run with more has clicked far beyond what a plot can show.
class Markers {
public:
    static constexpr std::size_t kCapacity = 10000;

    void add(Marker marker);
    void clear() { markers_.clear(); }
    const std::deque<Marker>& all() const { return markers_; }
    // How many were ever added: a view knows from it what it has not drawn yet.
    unsigned long long added() const { return added_; }

private:
    std::deque<Marker> markers_;
    unsigned long long added_ = 0;
};

// The marker a recorded event stands for ("send start: выполнено", "mark наброс"), as the live
// trends drew it; nothing for an event they do not mark (no answer, a script's step).
std::optional<Marker> markerOfEvent(double time, QStringView event);

// A recording's events (time, text) in order as markers: as live, a command the controller
// answers "busy" again and again shows its first refusal only.
std::vector<Marker> markersOfEvents(const std::vector<std::pair<double, QString>>& events);

}  // namespace torvix::trends
