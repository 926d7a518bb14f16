#include "trends/series_store.h"

#include <gtest/gtest.h>

#include <cmath>

namespace torvix::trends {
namespace {

constexpr double kStart = 1'796'000'000.0;  // a December 2026 morning, seconds since the epoch
constexpr double kPeriod = 0.2;             // the window's status read: every second tick

SeriesStore::Values all(float value) {
    SeriesStore::Values values;
    values.fill(value);
    return values;
}

struct Points {
    QVector<double> keys;
    QVector<double> values;
    int breaks() const {
        return static_cast<int>(
            std::count_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
    }
};

Points pointsOf(const SeriesStore& store, std::size_t channel, double from, double to) {
    Points p;
    store.points(channel, from, to, p.keys, p.values);
    return p;
}

TEST(SeriesStore, KeepsEverySampleOfTheLastHourAndBreaksTheLineOnlyAtAGap) {
    SeriesStore store;
    // 10 s of samples, a 5 s hang-up, 10 s more.
    for (int i = 0; i < 50; ++i) store.add(kStart + i * kPeriod, all(float(i)));
    for (int i = 0; i < 50; ++i) store.add(kStart + 15 + i * kPeriod, all(float(100 + i)));

    const Points whole = pointsOf(store, 0, kStart, kStart + 30);
    EXPECT_EQ(whole.breaks(), 1);
    EXPECT_EQ(whole.keys.size(), 101);
    const auto gap = std::find_if(whole.values.begin(), whole.values.end(),
                                  [](double v) { return std::isnan(v); }) -
                     whole.values.begin();
    EXPECT_DOUBLE_EQ(whole.values[gap - 1], 49);
    EXPECT_DOUBLE_EQ(whole.values[gap + 1], 100);
    EXPECT_GT(whole.keys[gap], kStart + 9.8);
    EXPECT_LT(whole.keys[gap], kStart + 15);

    // A span inside the run brings one sample either side, so the line reaches the edges.
    const Points middle = pointsOf(store, 3, kStart + 2.0, kStart + 3.0);
    EXPECT_EQ(middle.breaks(), 0);
    EXPECT_LE(middle.keys.front(), kStart + 2.0);
    EXPECT_GE(middle.keys.back(), kStart + 3.0);
    EXPECT_LE(middle.keys.size(), 8);

    // A sample older than the last (the clock put back) is dropped, not drawn backwards.
    store.add(kStart + 1, all(-1));
    EXPECT_DOUBLE_EQ(store.lastTime(), kStart + 15 + 49 * kPeriod);
}

TEST(SeriesStore, AnEightHourRunStaysBoundedAndKeepsAShortDipInTheWholeRunView) {
    const SeriesStore::Limits limits{
        .fineSamples = 3000, .coarseBuckets = 64, .firstBucketSeconds = 1.0, .gapSeconds = 1.0};
    SeriesStore store(limits);
    const int samples = 8 * 3600 * 5;
    const int dipAt = 2 * 3600 * 5;  // one sample of a voltage dip in the second hour
    for (int i = 0; i < samples; ++i) {
        SeriesStore::Values values = all(230.0f);
        if (i == dipAt) values[0] = 150.0f;
        store.add(kStart + i * kPeriod, values);
    }
    EXPECT_LE(store.bucketCount(), limits.coarseBuckets);
    // 8 h in at most 64 buckets: the width doubled from 1 s to the first power of two
    // holding 450 s.
    EXPECT_DOUBLE_EQ(store.bucketSeconds(), 512.0);

    const Points whole = pointsOf(store, 0, kStart, store.lastTime());
    EXPECT_LE(whole.keys.size(), 2 * 64 + 3000 + 2);
    EXPECT_EQ(whole.breaks(), 0);
    EXPECT_DOUBLE_EQ(*std::min_element(whole.values.begin(), whole.values.end()), 150.0);
    EXPECT_DOUBLE_EQ(whole.keys.back(), store.lastTime());
    // The other channels never dipped.
    const Points other = pointsOf(store, 1, kStart, store.lastTime());
    EXPECT_DOUBLE_EQ(*std::min_element(other.values.begin(), other.values.end()), 230.0);

    // The cursor in the old part reads the bucket's range, in the last samples the sample.
    const double dipTime = kStart + dipAt * kPeriod;
    const auto old = store.readingAt(dipTime);
    ASSERT_TRUE(old.has_value());
    EXPECT_FLOAT_EQ(old->low[0], 150.0f);
    EXPECT_FLOAT_EQ(old->high[0], 230.0f);
    const auto recent = store.readingAt(store.lastTime() - 0.05);
    ASSERT_TRUE(recent.has_value());
    EXPECT_DOUBLE_EQ(recent->time, store.lastTime());
    EXPECT_FLOAT_EQ(recent->low[0], 230.0f);
}

TEST(SeriesStore, TheCursorFindsTheNearestSampleAndNothingInAGap) {
    SeriesStore store;
    EXPECT_FALSE(store.readingAt(kStart).has_value());
    store.add(kStart, all(1));
    store.add(kStart + 0.2, all(2));
    store.add(kStart + 5.0, all(3));  // after a hang-up

    EXPECT_FLOAT_EQ(store.readingAt(kStart + 0.06)->low[4], 1.0f);
    EXPECT_FLOAT_EQ(store.readingAt(kStart + 0.14)->high[4], 2.0f);
    EXPECT_FALSE(store.readingAt(kStart + 2.5).has_value());
    EXPECT_FLOAT_EQ(store.readingAt(kStart + 5.1)->low[4], 3.0f);
    EXPECT_FALSE(store.readingAt(kStart + 60).has_value());
}

}  // namespace
}  // namespace torvix::trends
