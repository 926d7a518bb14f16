#include "trends/companion_log.h"

#include <gtest/gtest.h>

#include <QSortFilterProxyModel>

#include "support/qt_printers.h"
#include "support/scripted_link.h"
#include "trends/traffic_model.h"

namespace torvix::trends {
namespace {

using testing::Frame;
using testing::withCrc;

class Log : public ::testing::Test, protected testing::ScriptedLink {
protected:
    Log() {
        onTick = [this](const TickOutcome& outcome) { log.take(outcome); };
    }
    double secondsAfterMorning(qint64 msLater) const {
        return static_cast<double>(morning.addMSecs(msLater).toMSecsSinceEpoch()) / 1000.0;
    }
    void commandOnTheLine() { ASSERT_TRUE(untilCommandSent()) << "the command did not go out"; }

    CompanionLog log{[this] { return CompanionLog::Now{wallNow(), ms}; }};
};

TEST_F(Log, EveryStatusReplyIsOneSampleInTheFieldsUnits) {
    regs[4] = 2305;                        // generator phase A, 0.1 V
    regs[7] = 500;                         // phase A current, 0.2 A
    regs[10] = 0xFFFF, regs[11] = 0xFFF6;  // active power -1.0 kW, signed 32 bits
    regs[18] = 4990;                       // generator frequency, 0.01 Hz
    regs[39] = 262;                        // battery, 0.1 V
    tick();                                // sends the status read
    tick(testing::statusReply(regs));
    tick(echo());  // the counter write's echo: no sample
    tick();        // no answer: no sample
    tick(testing::statusReply(regs));

    QVector<double> keys;
    QVector<double> values;
    log.series().points(0, 0, 1e12, keys, values);
    EXPECT_EQ(values, (QVector<double>{230.5, 230.5}));
    const auto reading = log.series().readingAt(log.series().lastTime());
    ASSERT_TRUE(reading.has_value());
    const auto value = [&](std::u16string_view name) {
        for (std::size_t c = 0; c < kChannelCount; ++c)
            if (kChannels[c].name == name) return reading->low[c];
        ADD_FAILURE() << "no channel " << QStringView(name).toString().toStdString();
        return 0.0f;
    };
    EXPECT_FLOAT_EQ(value(u"U ген. A"), 230.5f);
    EXPECT_FLOAT_EQ(value(u"I ген. A"), 100.0f);
    EXPECT_FLOAT_EQ(value(u"P активная"), -1.0f);
    EXPECT_FLOAT_EQ(value(u"f ген."), 49.9f);
    EXPECT_FLOAT_EQ(value(u"U батареи"), 26.2f);
    EXPECT_DOUBLE_EQ(log.series().lastTime(), secondsAfterMorning(516));
}

TEST_F(Log, CommandsBecomeMarkersWhenAnsweredOrRefusedAndOnceWhenBusy) {
    tick();
    ASSERT_TRUE(click(requests::Kind::Start));
    commandOnTheLine();
    tick(exception(6));  // busy: a refusal marker, and the command goes out again
    const double busyAt = secondsNow();
    tick(exception(6));  // still busy: no second marker for the same command
    tick(echo());
    const double answeredAt = secondsNow();

    ASSERT_TRUE(click(requests::Kind::LoadOn));
    commandOnTheLine();
    tick(exception(2));

    ASSERT_TRUE(click(requests::Kind::Stop));
    commandOnTheLine();
    tick(exception(5));  // acknowledge: counts as executed

    ASSERT_TRUE(click(requests::Kind::Start));  // busy again: a refusal marker of its own
    commandOnTheLine();
    tick(exception(6));
    tick(echo());

    ASSERT_TRUE(
        click(requests::Kind::Acknowledge));  // never answered: no marker however often it goes out
    commandOnTheLine();
    tick();
    tick({0x07, 0x06, 0x01, 0x92});  // cut short: a bad CRC

    log.mark(QStringLiteral("наброс 50 %"));

    const auto& markers = log.markers().all();
    ASSERT_EQ(markers.size(), 7u);
    EXPECT_EQ(markers[0].kind, Marker::Kind::Refused);
    EXPECT_EQ(markers[0].text.left(20), QStringLiteral("СТАРТ: исключение 6 "));
    EXPECT_DOUBLE_EQ(markers[0].time, busyAt);
    EXPECT_EQ(markers[1].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[1].text, QStringLiteral("СТАРТ"));
    EXPECT_DOUBLE_EQ(markers[1].time, answeredAt);
    EXPECT_EQ(markers[2].kind, Marker::Kind::Refused);
    EXPECT_EQ(markers[2].text,
              QStringLiteral("Нагрузка 1: исключение 2 (недопустимый адрес данных)"));
    EXPECT_EQ(markers[3].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[3].text, QStringLiteral("СТОП"));
    EXPECT_EQ(markers[4].kind, Marker::Kind::Refused);
    EXPECT_EQ(markers[5].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[6].kind, Marker::Kind::Mark);
    EXPECT_EQ(markers[6].text, QStringLiteral("наброс 50 %"));
    EXPECT_EQ(log.markers().added(), 7u);
}

TEST_F(Log, TrafficReadsAsTheCliTraceAndKeepsOnlyTheNewestFrames) {
    tick();  // at 116.636 ms
    tick();  // no answer
    // The trace's own example (README), the times apart.
    const TrafficRing& traffic = log.traffic();
    ASSERT_EQ(traffic.size(), 3u);
    EXPECT_EQ(traffic.line(0),
              QStringLiteral("    116.636 TX 07 04 01 2C 00 40 31 A9  (чтение состояния)"));
    EXPECT_EQ(traffic.line(1), QStringLiteral("    216.636 RX --  no answer"));
    EXPECT_FALSE(traffic.isError(0));
    EXPECT_TRUE(traffic.isError(1));

    tick(withCrc({7, 4, 2, 0, 0}) /* then corrupted */);
    port.rx.clear();
    tick({0x07, 0x04, 0x01});  // three bytes, wrong CRC
    EXPECT_TRUE(traffic.isError(traffic.size() - 2));
    EXPECT_TRUE(traffic.line(traffic.size() - 2).endsWith(QStringLiteral("CRC mismatch")));

    CompanionLog small{{}, {}, 4};
    Modbus other{port, slave};
    for (int i = 0; i < 5; ++i) small.take(other.pollTick());  // 1 + 2 x 4 frames
    EXPECT_EQ(small.traffic().size(), 4u);
    EXPECT_EQ(small.traffic().added(), 9u);
    EXPECT_TRUE(small.traffic().line(3).contains(QStringLiteral(" TX ")));
    EXPECT_TRUE(small.traffic().line(2).contains(QStringLiteral(" RX --  no answer")));
}

TEST_F(Log, TheTrafficListFollowsTheRingOnRefreshAndPausesWithIt) {
    CompanionLog small{[this] { return CompanionLog::Now{wallNow(), ms}; }, {}, 6};
    onTick = [&](const TickOutcome& outcome) { small.take(outcome); };
    TrafficModel model(small.traffic());
    QSortFilterProxyModel errorsOnly;
    errorsOnly.setSourceModel(&model);
    errorsOnly.setFilterRole(TrafficModel::kErrorRole);
    errorsOnly.setFilterFixedString(QStringLiteral("true"));
    const auto lines = [](const QAbstractItemModel& m) {
        QStringList list;
        for (int r = 0; r < m.rowCount(); ++r) list << m.index(r, 0).data().toString();
        return list;
    };

    tick();                            // TX status read
    tick(testing::statusReply(regs));  // RX answered, TX counter write
    EXPECT_EQ(model.rowCount(), 0) << "rows come in on refresh only";
    model.refresh();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(errorsOnly.rowCount(), 0);

    tick();                    // RX no answer, TX the counter write again
    tick({0x07, 0x06, 0x01});  // RX bad CRC, TX again
    // Until the refresh rows read their own frames although the ring moved on; the
    // overwritten one reads nothing rather than another frame.
    EXPECT_FALSE(model.index(0, 0).data().isValid());
    EXPECT_TRUE(model.index(1, 0).data().toString().contains(QStringLiteral(" RX 07 04 80 ")));
    model.refresh();
    ASSERT_EQ(model.rowCount(), 6);  // the ring's capacity: the first frame dropped
    EXPECT_TRUE(lines(model).front().contains(QStringLiteral(" RX 07 04 80 ")));
    EXPECT_EQ(lines(errorsOnly),
              (QStringList{QStringLiteral("    316.636 RX --  no answer"),
                           QStringLiteral("    416.636 RX 07 06 01  CRC mismatch")}));

    small.setTrafficPaused(true);
    tick();
    tick();
    model.refresh();
    EXPECT_EQ(lines(model).back(),
              QStringLiteral("    416.636 TX 07 06 01 90 00 01 49 BD  (запись кода транзакции)"));
    small.setTrafficPaused(false);
    for (int i = 0; i < 10; ++i) tick();  // more than the ring holds between refreshes
    model.refresh();
    EXPECT_EQ(model.rowCount(), 6);
    EXPECT_TRUE(lines(model).back().startsWith(QStringLiteral("   1616.636 TX")));
}

}  // namespace
}  // namespace torvix::trends
