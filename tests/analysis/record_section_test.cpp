// A section of a recording: which records, by their own times and marks, and the bytes written,
// on records whose times and events are written here by hand.

#include "analysis/record_section.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/files.h"
#include "support/qt_printers.h"

namespace torvix::analysis {
namespace {

const QByteArray kHeader =
    "time,gen_u_a_v,gen_u_b_v,gen_u_c_v,gen_f_hz,active_power_kw,lamp_alarm,events\n";
// Six records half a second apart; "наброс" is marked twice, and once more as part of a longer
// mark; "сброс" shares its record with a command.
const QByteArray kRows[] = {
    "2026-12-08T07:30:00.000+03:00,230.0,230.0,230.0,50.00,0.0,0,\n",
    "2026-12-08T07:30:00.500+03:00,230.1,230.0,230.0,50.01,0.0,0,[0.4 s] mark наброс\n",
    "2026-12-08T07:30:01.000+03:00,228.5,229.0,229.5,49.80,60.5,0,[0.9 s] mark наброс 50 %\n",
    "2026-12-08T07:30:01.500+03:00,229.0,229.0,229.0,49.90,60.5,0,"
    "\"[1.4 s] send load on: выполнено | [1.4 s] mark сброс, \"\"быстро\"\"\"\n",
    "2026-12-08T07:30:02.000+03:00,230.0,230.0,230.0,50.00,0.0,1,[1.9 s] mark наброс\n",
    "2026-12-08T07:30:02.500+03:00,230.0,230.0,230.0,-0.25,0.0,0,\n",
};

class Section : public ::testing::Test {
protected:
    void SetUp() override {
        QByteArray csv = kHeader;
        for (const QByteArray& row : kRows) csv += row;
        write(csv);
    }
    void write(const QByteArray& bytes) {
        testing::writeFile(source, bytes);
        auto read = readRecordingFile(source);
        ASSERT_TRUE(std::holds_alternative<Recording>(read));
        recording = std::get<Recording>(std::move(read));
    }
    static SectionBound at(const char* text) { return std::get<SectionBound>(sectionTime(text)); }
    static SectionBound mark(const char* text) {
        SectionBound bound;
        bound.kind = SectionBound::Kind::Mark;
        bound.mark = QString::fromUtf8(text);
        return bound;
    }
    // The rows of the section, or its failure as "!message".
    QString rows(const SectionBound& from, const SectionBound& to) {
        const auto found = findSection(recording, from, to);
        if (const auto* failure = std::get_if<QString>(&found)) return u'!' + *failure;
        const RowRange range = std::get<RowRange>(found);
        return QStringLiteral("%1..%2").arg(range.first).arg(range.last);
    }
    QByteArray written(const SectionBound& from, const SectionBound& to, SectionFormat format) {
        const auto range = std::get<RowRange>(findSection(recording, from, to));
        const QString out = dir.filePath("out.csv");
        EXPECT_EQ(writeSection(recording, source, range, format, out), QString());
        return testing::readFile(out);
    }

    QTemporaryDir dir;
    QString source = dir.filePath("source.csv");
    Recording recording;
};

TEST_F(Section, TakesTheRecordsBetweenTimesInSecondsOrIsoWithBothEndsIncluded) {
    EXPECT_EQ(rows(at("0"), at("2.5")), "0..5");
    EXPECT_EQ(rows(at("0.5"), at("1.5")), "1..3");
    // Between two records: the first at or after the start, the last at or before the end.
    EXPECT_EQ(rows(at("0.6"), at("1.4")), "2..2");
    EXPECT_EQ(rows(at("1,0"), at("99")), "2..5");
    // The same instants in another offset, and with a blank for the T.
    EXPECT_EQ(rows(at("2026-12-08T04:30:01.000Z"), at("2026-12-08 07:30:02.000+03:00")), "2..4");
    EXPECT_EQ(rows(at("2.6"), at("3")), "!начало участка после последней записи");
    EXPECT_EQ(rows(at("0"), at("-1")), "!конец участка раньше первой записи");
    EXPECT_EQ(rows(at("2"), at("1")), "!конец участка (запись 3) раньше его начала (запись 5)");
    EXPECT_TRUE(std::holds_alternative<QString>(sectionTime("7:30")));
    EXPECT_TRUE(std::holds_alternative<QString>(sectionTime("")));
}

TEST_F(Section, AMarkIsTheFirstWithItsWholeText) {
    EXPECT_EQ(rows(mark("наброс"), mark("наброс 50 %")), "1..2");
    EXPECT_EQ(rows(mark("наброс 50 %"), mark("сброс, \"быстро\"")), "2..3");
    EXPECT_EQ(rows(at("1.2"), mark("наброс")),
              "!конец участка (запись 2) раньше его начала (запись 4)");
    EXPECT_EQ(rows(mark("сброс"), at("9")), "!метки \"сброс\" в записи нет");
    EXPECT_EQ(rows(mark("50 %"), at("9")), "!метки \"50 %\" в записи нет");
}

TEST_F(Section, WritesTheRecordsAsRecordedWithTheirEvents) {
    EXPECT_EQ(written(mark("наброс"), at("1.5"), SectionFormat::AsRecorded),
              kHeader + kRows[1] + kRows[2] + kRows[3]);
    QByteArray whole = kHeader;
    for (const QByteArray& row : kRows) whole += row;
    EXPECT_EQ(written(at("0"), at("2.5"), SectionFormat::AsRecorded), whole);

    // JSON lines stay JSON lines, line for line; a cut last line is left out.
    const QByteArray lines[] = {
        R"({"time":"2026-12-08T07:30:00.000+03:00","gen_u_a_v":230.0,"gen_f_hz":50,"active_power_kw":0,"events":[]})"
        "\n",
        R"({"time":"2026-12-08T07:30:00.020+03:00","gen_u_a_v":229.5,"gen_f_hz":49.98,"active_power_kw":12.5,"events":["[0.0 s] mark один"]})"
        "\n",
        R"({"time":"2026-12-08T07:30:00.040+03:00","gen_u_a_v":229.0,"gen_f_hz":49.9,"active_power_kw":12.5,"events":[]})"
        "\n",
    };
    write(lines[0] + lines[1] + lines[2] + R"({"time":"2026-12-08T07:30)");
    EXPECT_EQ(recording.layout, Layout::JsonLines);
    EXPECT_EQ(written(mark("один"), at("0.04"), SectionFormat::AsRecorded), lines[1] + lines[2]);
}

TEST_F(Section, WritesExcelsCsvWithSemicolonsDecimalCommasAndABom) {
    EXPECT_EQ(written(at("1.5"), at("2.5"), SectionFormat::Excel),
              "\xEF\xBB\xBF"
              "time;gen_u_a_v;gen_u_b_v;gen_u_c_v;gen_f_hz;active_power_kw;lamp_alarm;events\r\n"
              "2026-12-08T07:30:01.500+03:00;229,0;229,0;229,0;49,90;60,5;0;"
              "\"[1.4 s] send load on: выполнено | [1.4 s] mark сброс, \"\"быстро\"\"\"\r\n"
              "2026-12-08T07:30:02.000+03:00;230,0;230,0;230,0;50,00;0,0;1;[1.9 s] mark наброс\r\n"
              "2026-12-08T07:30:02.500+03:00;230,0;230,0;230,0;-0,25;0,0;0;\r\n");

    // A spreadsheet's re-save stays as it is; JSON lines take the CSV's key order.
    write(
        "\xEF\xBB\xBFtime;gen_u_a_v;gen_f_hz;active_power_kw;events\r\n"
        "2026-12-08 07:30:00.000+03:00;230,5;50;0;\r\n"
        "2026-12-08 07:30:00.020+03:00;229,5;49,98;12,5;\"[0.0 s] mark a; b\"\r\n");
    EXPECT_EQ(written(at("0"), at("1"), SectionFormat::Excel),
              "\xEF\xBB\xBF"
              "time;gen_u_a_v;gen_f_hz;active_power_kw;events\r\n"
              "2026-12-08 07:30:00.000+03:00;230,5;50;0;\r\n"
              "2026-12-08 07:30:00.020+03:00;229,5;49,98;12,5;\"[0.0 s] mark a; b\"\r\n");
    write(R"({"time":"2026-12-08T07:30:00.000+03:00","active_power_kw":12.5,"gen_f_hz":49.98,)"
          R"("gen_u_a_v":230.1,"lamp_alarm":1,"events":["[0.0 s] mark a","[0.0 s] mark b"]})"
          "\n");
    EXPECT_EQ(
        written(at("0"), at("0"), SectionFormat::Excel),
        "\xEF\xBB\xBF"
        "time;gen_u_a_v;gen_f_hz;active_power_kw;lamp_alarm;events\r\n"
        "2026-12-08T07:30:00.000+03:00;230,1;49,98;12,5;1;[0.0 s] mark a | [0.0 s] mark b\r\n");
}

}  // namespace
}  // namespace torvix::analysis
