#include "trends/recorded_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace torvix::trends {

RecordedSeries::RecordedSeries(std::vector<double> times, std::array<Column, kChannelCount> columns,
                               double gapSeconds)
    : times_(std::move(times)), columns_(std::move(columns)), gapSeconds_(gapSeconds) {}

std::size_t RecordedSeries::firstAtOrAfter(double time) const {
    return static_cast<std::size_t>(std::lower_bound(times_.begin(), times_.end(), time) -
                                    times_.begin());
}

void RecordedSeries::points(std::size_t channel, double from, double to, int pixels,
                            QVector<double>& keys, QVector<double>& values) const {
    if (channel >= kChannelCount || !hasChannel(channel) || empty() || to <= from) return;
    const Column& column = columns_[channel];
    std::size_t begin = firstAtOrAfter(from);
    if (begin > 0) --begin;
    std::size_t end = firstAtOrAfter(to);
    if (end < size()) ++end;
    double previous = std::numeric_limits<double>::quiet_NaN();
    const auto put = [&](std::size_t row) {
        const double t = times_[row];
        if (!std::isnan(previous) && t - previous > gapSeconds_) {
            keys.push_back((previous + t) / 2);
            values.push_back(std::numeric_limits<double>::quiet_NaN());
        }
        keys.push_back(t);
        values.push_back(column[row]);
        previous = t;
    };
    const std::size_t columns = static_cast<std::size_t>(std::max(pixels, 1));
    if (end - begin <= 2 * columns) {
        for (std::size_t row = begin; row < end; ++row) put(row);
        return;
    }
    // Each pixel column's first, lowest, highest and last, in the order they came: the line
    // reaches every extreme, and a step stays a step.
    const double width = (to - from) / static_cast<double>(columns);
    std::size_t row = begin;
    while (row < end) {
        const double slot = std::floor((times_[row] - from) / width);
        std::size_t last = row;
        std::size_t low = row;
        std::size_t high = row;
        while (last + 1 < end && std::floor((times_[last + 1] - from) / width) == slot &&
               times_[last + 1] - times_[last] <= gapSeconds_) {
            ++last;
            if (column[last] < column[low]) low = last;
            if (column[last] > column[high]) high = last;
        }
        std::size_t picked[] = {row, std::min(low, high), std::max(low, high), last};
        std::size_t* const unique = std::unique(std::begin(picked), std::end(picked));
        for (std::size_t* p = picked; p != unique; ++p) put(*p);
        row = last + 1;
    }
}

std::optional<std::size_t> RecordedSeries::rowAt(double time) const {
    if (empty() || time < firstTime() - gapSeconds_ / 2 || time > lastTime() + gapSeconds_ / 2)
        return std::nullopt;
    const std::size_t after = firstAtOrAfter(time);
    if (after == 0) return 0;
    if (after == size()) return size() - 1;
    return time - times_[after - 1] <= times_[after] - time ? after - 1 : after;
}

std::optional<SeriesStore::Reading> RecordedSeries::readingAt(double time) const {
    const auto row = rowAt(time);
    if (!row) return std::nullopt;
    SeriesStore::Reading reading{times_[*row], {}, {}};
    for (std::size_t c = 0; c < kChannelCount; ++c)
        reading.low[c] =
            hasChannel(c) ? columns_[c][*row] : std::numeric_limits<float>::quiet_NaN();
    reading.high = reading.low;
    return reading;
}

}  // namespace torvix::trends
