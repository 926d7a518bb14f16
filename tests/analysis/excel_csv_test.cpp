// The section "для Excel" as LibreOffice Calc reads it with a Russian locale: numbers are
// numbers, not texts. Needs Debian's libreoffice-calc-nogui (scripts/install-deps.sh).

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>

#include "analysis/record_section.h"
#include "support/files.h"
#include "support/qt_printers.h"

namespace torvix::analysis {
namespace {

struct Cell {
    QString type;  // "float", "string", or empty for an empty cell
    QString value;
    QString text;
};

// The cells of the first sheet of a flat OpenDocument spreadsheet, row by row.
std::vector<std::vector<Cell>> cellsOf(const QByteArray& fods) {
    std::vector<std::vector<Cell>> rows;
    QXmlStreamReader xml(fods);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"table-row") {
            rows.emplace_back();
        } else if (xml.name() == u"table-cell" && !rows.empty()) {
            const auto attributes = xml.attributes();
            // Equal neighbours are written once, with their count.
            const int repeated = std::max(
                1, attributes.value(QLatin1String("table:number-columns-repeated")).toInt());
            Cell cell{attributes.value(QLatin1String("office:value-type")).toString(),
                      attributes.value(QLatin1String("office:value")).toString(),
                      {}};
            // Its text: the paragraphs inside it.
            while (!(xml.isEndElement() && xml.name() == u"table-cell") && !xml.atEnd()) {
                xml.readNext();
                if (xml.isCharacters()) cell.text += xml.text();
            }
            cell.text = cell.text.trimmed();
            for (int i = 0; i < repeated; ++i) rows.back().push_back(cell);
        }
    }
    return rows;
}

TEST(ExcelCsv, OpensInLibreOfficeWithARussianLocaleAsNumbers) {
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    ASSERT_FALSE(soffice.isEmpty()) << "soffice is missing: apt-get install libreoffice-calc-nogui";

    QTemporaryDir dir;
    const QString source = dir.filePath("record.csv");
    testing::writeFile(
        source,
        "time,gen_u_a_v,gen_f_hz,active_power_kw,lamp_alarm,events\n"
        "2026-12-08T07:30:00.000+03:00,230.5,50.00,0.0,0,\n"
        "2026-12-08T07:30:00.020+03:00,229.5,49.98,120.5,1,\"[0.0 s] mark наброс; 50 %\"\n"
        "2026-12-08T07:30:00.040+03:00,231.0,-0.25,-3.5,0,\n");
    auto read = readRecordingFile(source);
    ASSERT_TRUE(std::holds_alternative<Recording>(read));
    const QString excel = dir.filePath("section.csv");
    ASSERT_EQ(writeSection(std::get<Recording>(read), source, RowRange{0, 2}, SectionFormat::Excel,
                           excel),
              QString());

    QProcess calc;
    calc.start(
        soffice,
        {"--headless",
         "-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("profile")).toString(),
         // ';' between fields, '"' around texts, UTF-8, from line 1, Russian (1049).
         "--infilter=CSV:59,34,76,1,,1049", "--convert-to", "fods", "--outdir", dir.path(), excel});
    ASSERT_TRUE(calc.waitForFinished(180000)) << calc.errorString().toStdString();
    ASSERT_EQ(calc.exitCode(), 0) << calc.readAllStandardError().toStdString();
    const auto rows = cellsOf(testing::readFile(dir.filePath("section.fods")));
    ASSERT_GE(rows.size(), 4u);

    EXPECT_EQ(rows[0][1].text, "gen_u_a_v");
    const char* const expected[3][4] = {
        {"230.5", "50", "0", "0"}, {"229.5", "49.98", "120.5", "1"}, {"231", "-0.25", "-3.5", "0"}};
    for (std::size_t r = 0; r < 3; ++r) {
        const auto& row = rows[r + 1];
        ASSERT_GE(row.size(), 5u) << r;
        EXPECT_EQ(row[0].type, "string") << r;
        for (std::size_t c = 0; c < 4; ++c) {
            EXPECT_EQ(row[c + 1].type, "float")
                << r << "," << c << " " << row[c + 1].text.toStdString();
            EXPECT_EQ(row[c + 1].value.toDouble(), QString::fromLatin1(expected[r][c]).toDouble())
                << r << "," << c;
        }
    }
    ASSERT_GE(rows[2].size(), 6u);
    EXPECT_EQ(rows[2][5].text, QStringLiteral("[0.0 s] mark наброс; 50 %"));
}

}  // namespace
}  // namespace torvix::analysis
