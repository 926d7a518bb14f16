#include "trends/series_store.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace torvix::trends {
namespace {

constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

}  // namespace

SeriesStore::SeriesStore(Limits limits)
    : limits_(limits), bucketSeconds_(limits.firstBucketSeconds) {
    fine_.reserve(limits_.fineSamples);
    buckets_.reserve(limits_.coarseBuckets + 1);
}

void SeriesStore::clear() {
    fine_.clear();
    fineHead_ = fineCount_ = 0;
    buckets_.clear();
    bucketSeconds_ = limits_.firstBucketSeconds;
}

double SeriesStore::lastTime() const {
    return empty() ? 0 : fine(fineCount_ - 1).time;
}

void SeriesStore::add(double time, const Values& values) {
    if (!empty() && time < lastTime()) return;
    if (empty()) firstTime_ = time;
    if (fine_.size() < limits_.fineSamples) {
        fine_.push_back({time, values});
        ++fineCount_;
    } else {
        fine_[fineHead_] = {time, values};
        fineHead_ = (fineHead_ + 1) % fine_.size();
    }
    addToBuckets(time, values);
}

void SeriesStore::addToBuckets(double time, const Values& values) {
    const double start = std::floor(time / bucketSeconds_) * bucketSeconds_;
    if (buckets_.empty() || buckets_.back().start < start) {
        // `start` is the bucket's first sample, not its slot: a gap stays visible.
        buckets_.push_back({time, time, values, values});
        if (buckets_.size() > limits_.coarseBuckets) halveBuckets();
        return;
    }
    Bucket& bucket = buckets_.back();
    bucket.end = time;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        bucket.low[c] = std::min(bucket.low[c], values[c]);
        bucket.high[c] = std::max(bucket.high[c], values[c]);
    }
}

void SeriesStore::halveBuckets() {
    bucketSeconds_ *= 2;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < buckets_.size(); ++i) {
        const Bucket& bucket = buckets_[i];
        if (kept > 0) {
            Bucket& last = buckets_[kept - 1];
            if (std::floor(last.start / bucketSeconds_) ==
                std::floor(bucket.start / bucketSeconds_)) {
                last.end = bucket.end;
                for (std::size_t c = 0; c < kChannelCount; ++c) {
                    last.low[c] = std::min(last.low[c], bucket.low[c]);
                    last.high[c] = std::max(last.high[c], bucket.high[c]);
                }
                continue;
            }
        }
        buckets_[kept++] = bucket;
    }
    buckets_.resize(kept);
}

std::size_t SeriesStore::firstFineAtOrAfter(double time) const {
    std::size_t low = 0;
    std::size_t high = fineCount_;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (fine(mid).time < time)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void SeriesStore::points(std::size_t channel, double from, double to, QVector<double>& keys,
                         QVector<double>& values) const {
    if (empty() || channel >= kChannelCount) return;
    double previous = kBreak;
    double joinDistance = limits_.gapSeconds;
    const auto put = [&](double start, double time, double value) {
        if (!std::isnan(previous) && start - previous > joinDistance) {
            keys.push_back((previous + start) / 2);
            values.push_back(kBreak);
        }
        keys.push_back(time);
        values.push_back(value);
        previous = time;
    };

    const double fineStart = fine(0).time;
    if (from < fineStart) {
        // Buckets hold samples up to a bucket apart; only a longer silence is a gap there.
        joinDistance = std::max(limits_.gapSeconds, 2 * bucketSeconds_);
        for (const Bucket& bucket : buckets_) {
            if (bucket.end < from) continue;
            if (bucket.start > to || bucket.start >= fineStart) break;
            // The bucket that reaches into the samples stays left of them.
            const double middle =
                std::min((bucket.start + bucket.end) / 2, (bucket.start + fineStart) / 2);
            put(bucket.start, middle, bucket.low[channel]);
            if (bucket.high[channel] != bucket.low[channel])
                put(middle, middle, bucket.high[channel]);
            previous = bucket.end;
        }
    }
    // One sample before the range and one after, so the line runs to the edges.
    std::size_t i = firstFineAtOrAfter(from);
    if (i > 0) --i;
    for (; i < fineCount_; ++i) {
        const Sample& sample = fine(i);
        put(sample.time, sample.time, sample.values[channel]);
        joinDistance = limits_.gapSeconds;
        if (sample.time > to) break;
    }
}

std::optional<SeriesStore::Reading> SeriesStore::readingAt(double time) const {
    if (empty()) return std::nullopt;
    if (time >= fine(0).time - limits_.gapSeconds / 2) {
        const std::size_t after = firstFineAtOrAfter(time);
        std::optional<std::size_t> best;
        for (std::size_t i : {after - 1, after}) {
            if (i >= fineCount_) continue;  // after - 1 wraps when after is 0
            if (!best || std::abs(fine(i).time - time) < std::abs(fine(*best).time - time))
                best = i;
        }
        if (!best || std::abs(fine(*best).time - time) > limits_.gapSeconds / 2)
            return std::nullopt;
        const Sample& sample = fine(*best);
        return Reading{sample.time, sample.values, sample.values};
    }
    const auto bucket = std::find_if(buckets_.begin(), buckets_.end(), [&](const Bucket& b) {
        return b.end + bucketSeconds_ / 2 >= time;
    });
    if (bucket == buckets_.end() || bucket->start - bucketSeconds_ / 2 > time) return std::nullopt;
    return Reading{(bucket->start + bucket->end) / 2, bucket->low, bucket->high};
}

}  // namespace torvix::trends
