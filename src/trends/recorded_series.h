#pragma once
// A recording opened for review: every sample of each channel kept (for the cursors and the
// section), and thinned for drawing to the low and high of each pixel column.

#include <QVector>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "trends/channels.h"
#include "trends/series_store.h"

namespace torvix::trends {

class RecordedSeries {
public:
    using Column = std::vector<float>;  // NaN where the record has no value

    RecordedSeries() = default;
    // `times` in seconds since the epoch, rising; a column shorter than `times` (a channel the
    // file lacks) draws nothing.
    RecordedSeries(std::vector<double> times, std::array<Column, kChannelCount> columns,
                   double gapSeconds = 1.0);

    bool empty() const { return times_.empty(); }
    std::size_t size() const { return times_.size(); }
    double firstTime() const { return times_.empty() ? 0 : times_.front(); }
    double lastTime() const { return times_.empty() ? 0 : times_.back(); }
    double time(std::size_t row) const { return times_[row]; }
    bool hasChannel(std::size_t channel) const { return columns_[channel].size() == times_.size(); }

    // The channel's points from `from` to `to`, appended: every sample where there are no more
    // than two a pixel column, else the first, lowest, highest and last of each of `pixels`
    // columns; one point beyond each end, and NaN where the record has a gap.
    void points(std::size_t channel, double from, double to, int pixels, QVector<double>& keys,
                QVector<double>& values) const;

    // The record nearest `time`; nothing beyond a gap's half from either end.
    std::optional<std::size_t> rowAt(double time) const;
    std::optional<SeriesStore::Reading> readingAt(double time) const;

private:
    // The low and high of each run of kBlock records, so that a pixel column of an hour's
    // view reads its blocks rather than every record.
    static constexpr std::size_t kBlock = 32;
    struct Extremes {
        std::size_t lowRow;
        float low;
        std::size_t highRow;
        float high;
    };
    Extremes extremes(std::size_t channel, std::size_t first, std::size_t last) const;
    std::size_t firstAtOrAfter(double time) const;

    std::vector<double> times_;
    std::array<Column, kChannelCount> columns_;
    double gapSeconds_ = 1.0;
    std::vector<std::size_t> gapsAfter_;  // rows followed by a gap, rising
    std::array<std::vector<float>, kChannelCount> blockLow_;
    std::array<std::vector<float>, kChannelCount> blockHigh_;
};

}  // namespace torvix::trends
