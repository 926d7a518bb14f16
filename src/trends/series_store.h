#pragma once
// The trends' history: every sample of the last hour, and min/max buckets for the whole run
// whose width doubles when they fill, so memory stays bounded however long the run.

#include <QVector>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "trends/channels.h"

namespace torvix::trends {

class SeriesStore {
public:
    using Values = std::array<float, kChannelCount>;

    struct Limits {
        std::size_t fineSamples = 20000;  // a little over an hour at 5 samples a second
        std::size_t coarseBuckets = 2048;
        double firstBucketSeconds = 1.0;  // 2048 buckets cover 34 min, doubling from there
        double gapSeconds = 1.0;          // samples further apart are not joined by a line
    };

    // What the cursor shows at a time: one sample, or the range of a bucket.
    struct Reading {
        double time;
        Values low;
        Values high;
    };

    SeriesStore() : SeriesStore(Limits{}) {}
    explicit SeriesStore(Limits limits);

    // `time` in seconds since the epoch; a sample older than the last is dropped.
    void add(double time, const Values& values);
    void clear();

    bool empty() const { return fineCount_ == 0; }
    double firstTime() const { return firstTime_; }
    double lastTime() const;
    double bucketSeconds() const { return bucketSeconds_; }
    std::size_t bucketCount() const { return buckets_.size(); }

    // The channel's points from `from` to `to` (seconds since the epoch), appended: the samples
    // where the last hour reaches, the low and high of each bucket before; NaN values where the
    // line must break.
    void points(std::size_t channel, double from, double to, QVector<double>& keys,
                QVector<double>& values) const;

    // The sample nearest `time`, or the bucket holding it; nothing in a gap.
    std::optional<Reading> readingAt(double time) const;

private:
    struct Sample {
        double time;
        Values values;
    };
    struct Bucket {
        double start;  // the bucket's first and last sample
        double end;
        Values low;
        Values high;
    };

    const Sample& fine(std::size_t i) const { return fine_[(fineHead_ + i) % fine_.size()]; }
    std::size_t firstFineAtOrAfter(double time) const;
    void addToBuckets(double time, const Values& values);
    void halveBuckets();

    Limits limits_;
    std::vector<Sample> fine_;  // a ring, oldest at fineHead_ once full
    std::size_t fineHead_ = 0;
    std::size_t fineCount_ = 0;
    std::vector<Bucket> buckets_;
    double bucketSeconds_;
    double firstTime_ = 0;
};

}  // namespace torvix::trends
