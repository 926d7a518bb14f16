#include <gtest/gtest.h>

#include <QSignalSpy>

#include "link/operator_requests.h"
#include "support/fake_serial_port.h"
#include "support/fixed_slave_address.h"
#include "support/frames.h"
#include "trends/companion_log.h"

namespace torvix::trends {
namespace {

using testing::Frame;
using testing::withCrc;

// The window's link against a scripted controller, its ticks fed to the companion's log on a
// clock the test moves: 100 ms a tick, as the poll timer does.
class Log : public ::testing::Test {
protected:
    Log() { port.open = true; }

    TickOutcome tick(const Frame& reply = {}) {
        port.feed(reply);
        ms += 100;
        const TickOutcome outcome = modbus.pollTick();
        log.take(outcome);
        return outcome;
    }
    Frame lastSent() const { return port.written.back(); }
    // The controller's echo of a write: the request itself.
    Frame echo() const { return lastSent(); }
    Frame exception(std::uint8_t code) const {
        return withCrc({7, static_cast<std::uint8_t>(lastSent()[1] | 0x80), code});
    }
    double secondsAfterMorning(qint64 msLater) const {
        return static_cast<double>(morning.addMSecs(msLater).toMSecsSinceEpoch()) / 1000.0;
    }
    void click(int modeIndex) { ASSERT_TRUE(modbus.enqueue(*commands::modeRequest(modeIndex))); }
    // Ticks until the clicked command is on the line.
    void untilCommandSent() {
        for (int i = 0; i < 4 && lastSent()[1] == 4; ++i) tick(testing::statusReply(regs));
        for (int i = 0; i < 4 && lastSent()[3] == 0x90; ++i) tick(echo());
        ASSERT_EQ(lastSent()[3], 0x92) << "the command did not go out";
    }

    double ms = 16.636;
    const QDateTime morning = QDateTime::fromString(QStringLiteral("2026-12-08T07:30:00.000+03:00"),
                                                    Qt::ISODateWithMs);
    testing::StatusRegisters regs{};
    testing::FakeSerialPort port;
    testing::FixedSlaveAddress slave;
    Modbus modbus{port, slave};
    CompanionLog log{[this] {
        return CompanionLog::Now{morning.addMSecs(static_cast<qint64>(ms)), ms};
    }};
};

TEST_F(Log, EveryStatusReplyIsOneSampleInTheFieldsUnits) {
    QSignalSpy samples(&log, &CompanionLog::sampleAdded);
    regs[4] = 2305;                 // generator phase A, 0.1 V
    regs[7] = 500;                  // phase A current, 0.2 A
    regs[10] = 0xFFFF, regs[11] = 0xFFF6;  // active power -1.0 kW, signed 32 bits
    regs[18] = 4990;                // generator frequency, 0.01 Hz
    regs[39] = 262;                 // battery, 0.1 V
    tick();                         // sends the status read
    tick(testing::statusReply(regs));
    tick(echo());                   // the counter write's echo: no sample
    tick();                         // no answer: no sample
    tick(testing::statusReply(regs));

    EXPECT_EQ(samples.count(), 2);
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

TEST_F(Log, CommandsBecomeMarkersWhenAnsweredOrRefusedButNotWhileBusy) {
    tick();
    click(0);  // СТАРТ
    untilCommandSent();
    tick(exception(6));  // busy: goes out again, no marker yet
    EXPECT_TRUE(log.markers().all().empty());
    tick(echo());
    const double answeredAt = secondsAfterMorning(static_cast<qint64>(ms));

    click(7);  // Нагрузка 1
    untilCommandSent();
    tick(exception(2));

    click(1);  // СТОП
    untilCommandSent();
    tick(exception(5));  // acknowledge: counts as executed

    click(2);  // КВИТ, never answered: no marker however often it goes out
    untilCommandSent();
    tick();
    tick({0x07, 0x06, 0x01, 0x92});  // cut short: a bad CRC

    log.mark(QStringLiteral("наброс 50 %"));

    const auto& markers = log.markers().all();
    ASSERT_EQ(markers.size(), 4u);
    EXPECT_EQ(markers[0].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[0].text, QStringLiteral("СТАРТ"));
    EXPECT_DOUBLE_EQ(markers[0].time, answeredAt);
    EXPECT_EQ(markers[1].kind, Marker::Kind::Refused);
    EXPECT_EQ(markers[1].text,
              QStringLiteral("Нагрузка 1: исключение 2 (недопустимый адрес данных)"));
    EXPECT_EQ(markers[2].kind, Marker::Kind::Answered);
    EXPECT_EQ(markers[2].text, QStringLiteral("СТОП"));
    EXPECT_EQ(markers[3].kind, Marker::Kind::Mark);
    EXPECT_EQ(markers[3].text, QStringLiteral("наброс 50 %"));
    EXPECT_EQ(log.markers().added(), 4u);
}

TEST_F(Log, TrafficReadsAsTheCliTraceAndKeepsOnlyTheNewestFrames) {
    tick();  // at 116.636 ms
    tick();  // no answer
    // The trace's own example (README), the times apart.
    const TrafficRing& traffic = log.traffic();
    ASSERT_EQ(traffic.size(), 3u);
    EXPECT_EQ(traffic.line(0), QStringLiteral("    116.636 TX 07 04 01 2C 00 40 31 A9  (чтение состояния)"));
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

}  // namespace
}  // namespace torvix::trends
