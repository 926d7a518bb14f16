#include <gtest/gtest.h>

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "record/event_text.h"
#include "record/record_writers.h"
#include "record/status_record.h"
#include "support/frames.h"

namespace torvix::record {
namespace {

StatusRecord someRecord() {
    testing::StatusRegisters registers{};
    registers[4] = 2305;      // 230.5 V on phase A
    registers[18] = 5003;     // 50.03 Hz
    registers[58] = 1u << 8;  // the alarm lamp
    return statusRecord(*StatusSnapshot::fromReply(testing::statusReply(registers)));
}

QDateTime someTime() {
    return QDateTime(QDate(2026, 12, 8), QTime(7, 30, 1, 123), Qt::OffsetFromUTC, 3 * 3600);
}

// The measurement columns in the order agreed with the record's readers; lamps, relays, fault
// words and the version texts follow, then the events.
const QStringList kAgreedFirst = {
    "time",      "gen_u_a_v",    "gen_u_b_v",       "gen_u_c_v",        "gen_i_a_a",
    "gen_i_b_a", "gen_i_c_a",    "gen_f_hz",        "section_u_v",      "section_f_hz",
    "bus_u_v",   "bus_f_hz",     "active_power_kw", "full_power_kw",    "reactive_power_kw",
    "battery_v", "service_in_h", "running_h",       "protocol_version", "software_version",
    "section",   "priority"};
constexpr int kKeyCount = 22 + 10 + 3 + 12 + 3 + 1;

TEST(RecordKeys, FollowTheAgreedOrderAndAreSnakeCase) {
    const QStringList& agreed = kAgreedFirst;
    const QStringList keys = recordKeys();
    ASSERT_GT(keys.size(), agreed.size());
    EXPECT_EQ(keys.mid(0, agreed.size()), agreed);
    EXPECT_EQ(keys.last(), QStringLiteral("events"));
    EXPECT_EQ(keys.size(), kKeyCount);
    const QRegularExpression snake(QStringLiteral("^[a-z][a-z0-9_]*$"));
    for (const QString& key : keys) {
        EXPECT_TRUE(snake.match(key).hasMatch()) << key.toStdString();
        EXPECT_EQ(keys.count(key), 1) << key.toStdString();
    }
    EXPECT_TRUE(isNumberKey(u"gen_f_hz"));
    EXPECT_TRUE(isNumberKey(u"lamp_alarm"));
    EXPECT_FALSE(isNumberKey(u"alarm_word_now"));
    EXPECT_FALSE(isNumberKey(u"no_such_key"));
    const StatusRecord record = someRecord();
    EXPECT_EQ(valueOf(record, u"gen_u_a_v")->text, QStringLiteral("230.5"));
    EXPECT_EQ(valueOf(record, u"lamp_alarm")->text, QStringLiteral("1"));
}

TEST(EventText, ReadsAsAgreedForEveryOutcome) {
    EXPECT_EQ(eventLine(12.3, commandEvent(u"load on", {CommandOutcome::Executed})),
              QStringLiteral("[12.3 s] send load on: выполнено"));
    EXPECT_EQ(eventLine(12.3, commandEvent(u"load on", {CommandOutcome::Executed}), 6),
              QStringLiteral("[  12.3 s] send load on: выполнено"));
    EXPECT_EQ(commandEvent(u"start", {CommandOutcome::Refused, 2}),
              QStringLiteral("send start: отказ: исключение 2 (недопустимый адрес данных)"));
    EXPECT_EQ(commandEvent(u"start", {CommandOutcome::Busy}),
              QStringLiteral("send start: занят, повтор"));
    EXPECT_EQ(commandEvent(u"start", {CommandOutcome::NoAnswer}),
              QStringLiteral("send start: нет ответа"));
    EXPECT_EQ(eventLine(0.04, markEvent(u"наброс 50 %")),
              QStringLiteral("[0.0 s] mark наброс 50 %"));
    EXPECT_EQ(eventLine(3725.0, u"wait 5s"), QStringLiteral("[3725.0 s] wait 5s"));
}

TEST(RecordWriters, CsvQuotesOnlyTheEventsThatNeedIt) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const auto writer = makeRecordWriter(Format::Csv, out, false);
    ASSERT_TRUE(writer->write(someTime(), someRecord()));
    ASSERT_TRUE(writer->write(
        someTime(), someRecord(),
        {QStringLiteral("[1.0 s] mark a, \"b\""), QStringLiteral("[1.1 s] send stop: выполнено")}));
    ASSERT_TRUE(writer->write(someTime(), someRecord(), {QStringLiteral("[2.0 s] wait 5s")}));
    const QStringList lines = QString::fromUtf8(out.data()).split(u'\n');
    ASSERT_EQ(lines.size(), 5);  // header, three rows, nothing after the last newline
    // The header as its readers know it, not as recordKeys() builds it.
    EXPECT_TRUE(lines[0].startsWith(kAgreedFirst.join(u',') + u',')) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(",events")));
    EXPECT_EQ(lines[0].count(u','), kKeyCount - 1);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2026-12-08T07:30:01.123+03:00,230.5,")));
    EXPECT_TRUE(lines[1].endsWith(u',')) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(
        QStringLiteral(",\"[1.0 s] mark a, \"\"b\"\" | [1.1 s] send stop: выполнено\"")))
        << lines[2].toStdString();
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral(",[2.0 s] wait 5s")));
    EXPECT_EQ(lines[4], QString());
}

TEST(RecordWriters, JsonLinesCarryTheEventsAsAList) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const auto writer = makeRecordWriter(Format::Jsonl, out, false);
    ASSERT_TRUE(writer->write(someTime(), someRecord()));
    const QStringList events{QStringLiteral("[1.0 s] mark \"кавычки\"\nи строка"),
                             QStringLiteral("[1.2 s] send load on: занят, повтор")};
    ASSERT_TRUE(writer->write(someTime(), someRecord(), events));
    const QList<QByteArray> lines = out.data().split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(first["time"].toString(), QStringLiteral("2026-12-08T07:30:01.123+03:00"));
    EXPECT_EQ(first["gen_f_hz"].toDouble(), 50.03);
    EXPECT_EQ(first["alarm_word_now"].toString(), QStringLiteral("0000"));
    ASSERT_TRUE(first["events"].isArray());
    EXPECT_TRUE(first["events"].toArray().isEmpty());
    EXPECT_EQ(second["events"].toArray().toVariantList(),
              QVariantList(events.begin(), events.end()));
    EXPECT_EQ(first.keys().size(), kKeyCount);
}

TEST(RecordWriters, TellWhenTheOutputRefusesTheRecord) {
    for (const Format format : {Format::Csv, Format::Jsonl, Format::Table}) {
        QBuffer out;
        out.open(QIODevice::ReadOnly);
        const auto writer = makeRecordWriter(format, out, false);
        EXPECT_FALSE(writer->write(someTime(), someRecord()));
    }
}

TEST(RecordWriters, TableShowsTheEventsBelowTheValues) {
    const QString table = tableText(someTime(), someRecord(), {QStringLiteral("[1.0 s] mark x")});
    EXPECT_TRUE(table.endsWith(QStringLiteral("Событие: [1.0 s] mark x\n"))) << table.toStdString();
    EXPECT_TRUE(table.contains(QStringLiteral("230.5"))) << table.toStdString();
}

}  // namespace
}  // namespace torvix::record
