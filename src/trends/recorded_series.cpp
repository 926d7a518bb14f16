#include "trends/recorded_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace torvix::trends {

RecordedSeries::RecordedSeries(std::vector<double> times, std::array<Column, kChannelCount> columns,
                               double gapSeconds)
    : times_(std::move(times)), columns_(std::move(columns)), gapSeconds_(gapSeconds) {
    for (std::size_t row = 0; row + 1 < times_.size(); ++row)
        if (times_[row + 1] - times_[row] > gapSeconds_) gapsAfter_.push_back(row);
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!hasChannel(c)) continue;
        const Column& column = columns_[c];
        for (std::size_t start = 0; start < column.size(); start += kBlock) {
            const auto block = column.begin() + static_cast<std::ptrdiff_t>(start);
            const auto end = column.begin() +
                             static_cast<std::ptrdiff_t>(std::min(start + kBlock, column.size()));
            const auto [low, high] = std::minmax_element(block, end);
            blockLow_[c].push_back(*low);
            blockHigh_[c].push_back(*high);
        }
    }
}

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
    const auto put = [&](std::size_t row, float value) {
        const double t = times_[row];
        if (!std::isnan(previous) && t - previous > gapSeconds_) {
            keys.push_back((previous + t) / 2);
            values.push_back(std::numeric_limits<double>::quiet_NaN());
        }
        keys.push_back(t);
        values.push_back(value);
        previous = t;
    };
    const std::size_t columns = static_cast<std::size_t>(std::max(pixels, 1));
    if (end - begin <= 2 * columns) {
        for (std::size_t row = begin; row < end; ++row) put(row, column[row]);
        return;
    }
    // Each pixel column's first, lowest, highest and last, in the order they came: the line
    // reaches every extreme, and a step stays a step. A column ends early at a gap.
    const double width = (to - from) / static_cast<double>(columns);
    auto gap = std::lower_bound(gapsAfter_.begin(), gapsAfter_.end(), begin);
    std::size_t row = begin;
    while (row < end) {
        const double slotEnd = from + (std::floor((times_[row] - from) / width) + 1) * width;
        std::size_t last =
            static_cast<std::size_t>(
                std::lower_bound(times_.begin() + static_cast<std::ptrdiff_t>(row),
                                 times_.begin() + static_cast<std::ptrdiff_t>(end), slotEnd) -
                times_.begin()) -
            1;
        last = std::max(last, row);
        while (gap != gapsAfter_.end() && *gap < row) ++gap;
        if (gap != gapsAfter_.end() && *gap < last) last = *gap;
        const Extremes e = extremes(channel, row, last);
        const bool lowFirst = e.lowRow <= e.highRow;
        const std::pair<std::size_t, float> picked[] = {
            {row, column[row]},
            lowFirst ? std::pair{e.lowRow, e.low} : std::pair{e.highRow, e.high},
            lowFirst ? std::pair{e.highRow, e.high} : std::pair{e.lowRow, e.low},
            {last, column[last]}};
        std::size_t previousRow = std::numeric_limits<std::size_t>::max();
        for (const auto& [at, value] : picked) {
            if (at == previousRow) continue;
            put(at, value);
            previousRow = at;
        }
        row = last + 1;
    }
}

RecordedSeries::Extremes RecordedSeries::extremes(std::size_t channel, std::size_t first,
                                                  std::size_t last) const {
    const Column& column = columns_[channel];
    Extremes e{first, column[first], first, column[first]};
    const auto take = [&e](std::size_t row, float low, float high) {
        if (low < e.low) e = {row, low, e.highRow, e.high};
        if (high > e.high) e = {e.lowRow, e.low, row, high};
    };
    // Whole blocks by their low and high, placed at the block's middle record: within one
    // pixel column nobody sees which of its records held the extreme.
    const std::size_t firstBlock = (first + kBlock - 1) / kBlock;
    const std::size_t endBlock = (last + 1) / kBlock;
    std::size_t row = first;
    if (endBlock > firstBlock) {
        for (; row < firstBlock * kBlock; ++row) take(row, column[row], column[row]);
        for (std::size_t b = firstBlock; b < endBlock; ++b)
            take(b * kBlock + kBlock / 2, blockLow_[channel][b], blockHigh_[channel][b]);
        row = endBlock * kBlock;
    }
    for (; row <= last; ++row) take(row, column[row], column[row]);
    return e;
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
