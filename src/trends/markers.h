#pragma once
// The vertical markers of the trends: operator commands answered or refused, and marks.

#include <QString>
#include <QStringView>
#include <cstddef>
#include <deque>
#include <optional>

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

}  // namespace torvix::trends
