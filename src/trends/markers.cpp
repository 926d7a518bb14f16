#include "trends/markers.h"

#include <utility>

namespace torvix::trends {

void Markers::add(Marker marker) {
    markers_.push_back(std::move(marker));
    if (markers_.size() > kCapacity) markers_.pop_front();
    ++added_;
}

}  // namespace torvix::trends
