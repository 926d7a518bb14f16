// The reader: what torvix-cli writes, what a spreadsheet makes of it, and what a cut or broken
// file gives.

#include "analysis/recording.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>
#include <iterator>

namespace torvix::analysis {
namespace {

ReadResult read(const QByteArray& text) {
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return readRecording(buffer);
}

Recording ok(const ReadResult& r) {
    const auto* error = std::get_if<ReadError>(&r);
    EXPECT_EQ(error, nullptr) << "line " << (error ? error->line : 0) << ": "
                              << (error ? error->message.toStdString() : "");
    return error ? Recording{} : std::get<Recording>(r);
}

const QByteArray kCsv =
    "time,gen_u_a_v,gen_u_b_v,gen_u_c_v,gen_f_hz,active_power_kw,lamp_alarm,events\n"
    "2026-12-08T07:30:01.000+03:00,230.0,231.0,232.0,50.00,0.0,0,\n"
    "2026-12-08T07:30:01.020+03:00,229.5,230.5,231.5,49.98,120.5,0,"
    "\"[0.0 s] mark наброс, 50 % \"\"быстро\"\"\n второй ряд | [0.0 s] send load on: выполнено\"\n"
    "2026-12-08T07:30:01.040+03:00,229.0,230.0,231.0,49.90,120.0,0,\n";

TEST(Recording, ReadsTheCommandLinesCsvWithQuotedEventsOverSeveralLines) {
    const Recording r = ok(read(kCsv));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r.timeS, (std::vector<double>{0, 0.02, 0.04}));
    EXPECT_EQ(r.voltageV, (std::vector<double>{231, 230.5, 230}));
    EXPECT_EQ(r.frequencyHz[2], 49.9);
    EXPECT_EQ(r.powerKw[1], 120.5);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].row, 1u);
    EXPECT_EQ(r.events[0].text,
              QStringLiteral("[0.0 s] mark наброс, 50 % \"быстро\"\n второй ряд"));
    EXPECT_EQ(r.events[1].text, QStringLiteral("[0.0 s] send load on: выполнено"));
    EXPECT_EQ(r.start.offsetFromUtc(), 3 * 3600);
    EXPECT_TRUE(r.warnings.isEmpty());
}

// Times as QDateTime reads them, in the form torvix-cli writes and in others.
TEST(Recording, TimesAreThoseQDateTimeReads) {
    const char* const times[] = {
        "2026-12-08T07:30:01.000+03:00", "2026-12-08T07:30:01.020+03:00",
        "2026-12-08T04:30:02.999Z",      "2026-12-08 02:00:03.500-02:30",
        "2026-12-31T23:59:59.999+14:00", "2027-01-01T00:00:00.001+00:00",
        "2028-02-29T12:00:00.000+00:00", "2028-03-01T12:00:00+00:00",
        "2028-03-01T12:00:00.5+00:00",
    };
    QByteArray csv = "time,gen_u_a_v,gen_f_hz,active_power_kw\n";
    for (const char* time : times) csv += QByteArray(time) + ",230,50,0\n";
    const Recording r = ok(read(csv));
    ASSERT_EQ(r.size(), std::size(times));
    const auto msecs = [](const char* time) {
        QString text = QString::fromLatin1(time);
        text[10] = u'T';
        const QDateTime parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
        EXPECT_TRUE(parsed.isValid()) << time;
        return parsed.toMSecsSinceEpoch();
    };
    for (std::size_t i = 0; i < std::size(times); ++i)
        EXPECT_DOUBLE_EQ(r.timeS[i], static_cast<double>(msecs(times[i]) - msecs(times[0])) / 1000)
            << times[i];

    // A day that does not exist is no time.
    const auto bad = read(
        "time,gen_u_a_v,gen_f_hz,active_power_kw\n"
        "2026-02-30T07:30:01.000+03:00,230,50,0\n");
    ASSERT_TRUE(std::holds_alternative<ReadError>(bad));
    EXPECT_EQ(std::get<ReadError>(bad).line, 2);
}

TEST(Recording, ASpreadsheetsSemicolonsAndDecimalCommasReadTheSame) {
    // What LibreOffice with a Russian locale writes: a BOM, ';' between fields, decimal commas
    // in the numbers (never in the time), CRLF.
    QByteArray out = "\xEF\xBB\xBF";
    bool quoted = false;
    for (const char c : kCsv) {
        if (c == '"') quoted = !quoted;
        out += !quoted && c == ',' ? ';' : c;
    }
    for (const char* number : {"230.0", "231.0", "232.0", "229.5", "230.5", "231.5", "229.0",
                               "50.00", "49.98", "49.90", "120.5", "120.0"})
        out.replace(number, QByteArray(number).replace('.', ','));
    out.replace(";0.0;", ";0,0;").replace("\n2026", "\r\n2026");
    const Recording a = ok(read(kCsv));
    const Recording b = ok(read(out));
    EXPECT_EQ(b.timeS, a.timeS);
    EXPECT_EQ(b.frequencyHz, a.frequencyHz);
    EXPECT_EQ(b.voltageV, a.voltageV);
    EXPECT_EQ(b.powerKw, a.powerKw);
    ASSERT_EQ(b.events.size(), 2u);
    EXPECT_EQ(b.events[1].text, a.events[1].text);
}

TEST(Recording, ACutLastLineIsLeftOutAndSaid) {
    for (qsizetype cut : {20, 60, 75}) {
        QByteArray text =
            kCsv + "2026-12-08T07:30:01.060+03:00,229.0,230.0,231.0,49.90,120.0,0,\"[0.1 s] mark x";
        text.chop(text.size() - (kCsv.size() + cut));
        const Recording r = ok(read(text));
        EXPECT_EQ(r.size(), 3u) << cut;
        ASSERT_EQ(r.warnings.size(), 1) << cut;
        EXPECT_TRUE(r.warnings[0].contains(QStringLiteral("строка 6")))
            << r.warnings[0].toStdString();
    }
    const QByteArray jsonl =
        "{\"time\":\"2026-12-08T07:30:01.000+03:00\",\"gen_u_a_v\":230.0,\"gen_u_b_v\":230.0,"
        "\"gen_u_c_v\":230.0,\"gen_f_hz\":50.0,\"active_power_kw\":0,\"events\":[]}\n"
        "{\"time\":\"2026-12-08T07:30:01.020+03:00\",\"gen_u_a_v\":230.0,\"gen_u_b_v\":23";
    const Recording j = ok(read(jsonl));
    EXPECT_EQ(j.size(), 1u);
    ASSERT_EQ(j.warnings.size(), 1);
    EXPECT_TRUE(j.warnings[0].contains(QStringLiteral("строка 2")));
}

TEST(Recording, BrokenFilesFailWithTheLineAndWhatIsWrong) {
    struct Case {
        QByteArray text;
        qsizetype line;
        const char* says;
    } cases[] = {
        {QByteArray(kCsv).replace("gen_f_hz,", "f,"), 1, "gen_f_hz"},
        {QByteArray(kCsv).replace("49.98", "49.9x"), 3, "gen_f_hz"},
        {QByteArray(kCsv).replace("01.040+03:00,229.0,230.0,", "01.040+03:00,229.0,"), 5, "полей"},
        {QByteArray(kCsv).replace("07:30:01.040", "07:29:01.040"), 5, "время"},
        {QByteArray(kCsv).replace("07:30:01.040", "вчера"), 5, "ISO 8601"},
        {"{\"time\":\"2026-12-08T07:30:01.000+03:00\",\"gen_u_a_v\":230}\n{}\n", 1, "gen_f_hz"},
        {"{\"time\":\"2026-12-08T07:30:01.000+03:00\"\n{}\n", 1, "JSON"},
        {"", 1, "пуст"},
        {"time,gen_u_a_v,gen_f_hz,active_power_kw\n", 1, "нет ни одной записи"},
    };
    for (const Case& c : cases) {
        const ReadResult r = read(c.text);
        const auto* error = std::get_if<ReadError>(&r);
        ASSERT_NE(error, nullptr) << c.says;
        EXPECT_EQ(error->line, c.line) << c.says << ": " << error->message.toStdString();
        EXPECT_TRUE(error->message.contains(QString::fromUtf8(c.says)))
            << error->message.toStdString();
    }
}

TEST(Recording, AMissingPhaseColumnLeavesTheMeanOfTheOthersAndSaysSo) {
    QByteArray text = kCsv;
    text.replace("gen_u_c_v,", "")
        .replace(",232.0,", ",")
        .replace(",231.5,", ",")
        .replace(",231.0,49.90", ",49.90");
    const Recording r = ok(read(text));
    EXPECT_EQ(r.voltageV, (std::vector<double>{230.5, 230, 229.5}));
    ASSERT_EQ(r.warnings.size(), 1);
    EXPECT_TRUE(r.warnings[0].contains(QStringLiteral("gen_u_c_v")));
}

}  // namespace
}  // namespace torvix::analysis
