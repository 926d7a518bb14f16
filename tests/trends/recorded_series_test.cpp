// A recording's series thinned for drawing (every extreme kept, gaps broken) and read whole at
// the cursor; the markers its events stand for.

#include "trends/recorded_series.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/qt_printers.h"
#include "trends/markers.h"

namespace torvix::trends {
namespace {

// `count` samples 0.01 s apart from t = 100 s on channel 0: a sawtooth of period 100 with one
// spike of 999 at sample 4321; after sample 6000 a 5 s gap.
RecordedSeries sawtooth(std::size_t count) {
    std::vector<double> times;
    std::array<RecordedSeries::Column, kChannelCount> columns;
    for (std::size_t i = 0; i < count; ++i) {
        times.push_back(100 + double(i) * 0.01 + (i > 6000 ? 5 : 0));
        columns[0].push_back(i == 4321 ? 999.0f : float(i % 100));
    }
    return RecordedSeries(std::move(times), std::move(columns));
}

TEST(RecordedSeries, DrawsAtMostFourPointsAPixelColumnKeepingEveryExtremeAndGap) {
    const RecordedSeries series = sawtooth(10000);
    QVector<double> keys;
    QVector<double> values;
    series.points(0, 100, 205, 500, keys, values);
    EXPECT_LE(keys.size(), 4 * 500 + 2);
    EXPECT_GE(keys.size(), 500);
    double low = 1e9;
    double high = -1e9;
    int breaks = 0;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (std::isnan(values[i])) {
            ++breaks;
            EXPECT_GT(keys[i], 160.0);  // in the gap, 160.00 to 165.01
            EXPECT_LT(keys[i], 165.02);
            continue;
        }
        low = std::min(low, values[i]);
        high = std::max(high, values[i]);
        if (i > 0) {
            EXPECT_GE(keys[i], keys[i - 1]);
        }
    }
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 999);
    EXPECT_EQ(breaks, 1);

    // Zoomed in to a second: every sample, and one beyond each end.
    keys.clear();
    values.clear();
    series.points(0, 110.005, 110.995, 500, keys, values);
    ASSERT_EQ(keys.size(), 101);
    EXPECT_NEAR(keys.front(), 110, 1e-9);
    EXPECT_NEAR(keys.back(), 111, 1e-9);
    EXPECT_EQ(values[0], 0);  // sample 1000
    EXPECT_EQ(values[99], 99);
}

TEST(RecordedSeries, TheCursorReadsTheNearestRecordWhole) {
    const RecordedSeries series = sawtooth(10000);
    EXPECT_EQ(series.rowAt(143.214), 4321u);
    const auto reading = series.readingAt(143.2139);
    ASSERT_TRUE(reading);
    EXPECT_DOUBLE_EQ(reading->time, 143.21);
    EXPECT_EQ(reading->low[0], 999.0f);
    EXPECT_TRUE(std::isnan(reading->low[1])) << "a channel the file lacks";
    EXPECT_FALSE(series.rowAt(99.4));
    EXPECT_EQ(series.rowAt(99.6), 0u);
    EXPECT_FALSE(series.rowAt(300));
}

TEST(MarkerOfEvent, StandsForWhatTheLiveTrendsMarked) {
    const auto marker = [](const char* event) {
        return markerOfEvent(5, QString::fromUtf8(event));
    };
    EXPECT_EQ(marker("[1.0 s] send start: выполнено")->text, QStringLiteral("СТАРТ"));
    EXPECT_EQ(marker("[1.0 s] send start: выполнено")->kind, Marker::Kind::Answered);
    const auto refused =
        marker("[1.0 s] send load on: отказ: исключение 2 (недопустимый адрес данных)");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, Marker::Kind::Refused);
    EXPECT_EQ(refused->text,
              QStringLiteral("Нагрузка 1: исключение 2 (недопустимый адрес данных)"));
    EXPECT_EQ(marker("[1.0 s] send priority 5: выполнено")->text, QStringLiteral("Приоритет = 5"));
    EXPECT_EQ(marker("[2.5 s] mark наброс: 50 %")->kind, Marker::Kind::Mark);
    EXPECT_EQ(marker("[2.5 s] mark наброс: 50 %")->text, QStringLiteral("наброс: 50 %"));
    EXPECT_FALSE(marker("[1.0 s] send stop: нет ответа"));
    EXPECT_FALSE(marker("[1.0 s] wait 5s"));

    // Busy again and again: the first refusal, then the answer; a later busy is shown again.
    const auto busy = QStringLiteral("[1.0 s] send load on: занят, повтор");
    const auto done = QStringLiteral("[1.3 s] send load on: выполнено");
    const std::vector<Marker> markers =
        markersOfEvents({{1.0, busy}, {1.1, busy}, {1.2, busy}, {1.3, done}, {2.0, busy}});
    ASSERT_EQ(markers.size(), 3u);
    EXPECT_EQ(markers[0].text, QStringLiteral("Нагрузка 1: исключение 6 (устройство занято)"));
    EXPECT_EQ(markers[0].time, 1.0);
    EXPECT_EQ(markers[1].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[2].time, 2.0);
}

}  // namespace
}  // namespace torvix::trends
