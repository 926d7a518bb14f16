// The protocol as poppler reads it back: pdfinfo, pdftotext and pdfimages see the pages, the
// identification, the step table on one page and plots that are no pictures; pdftoppm renders
// every page. The HTML page says the same, with the user's texts escaped.

#include "report/pdf_report.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>

#include "analysis/acceptance.h"
#include "analysis/model_record.h"
#include "analysis/transient_analysis.h"
#include "report/load_test_report.h"
#include "support/files.h"

namespace torvix::report {
namespace {

using analysis::testing::ModelTest;

// stdout of a poppler tool; a missing tool fails the test, it does not skip it.
QString poppler(const QString& tool, const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(tool);
    EXPECT_FALSE(program.isEmpty())
        << tool.toStdString() << " is missing: scripts/install-deps.sh installs poppler-utils";
    if (program.isEmpty()) return {};
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << tool.toStdString();
    EXPECT_EQ(process.exitCode(), 0)
        << tool.toStdString() << ": " << process.readAllStandardError().toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

struct Protocol {
    analysis::Recording recording;
    analysis::Analysis analysis;
    analysis::Identification identification;
};

// 40 steps 20 s apart: a table too long to share its page, and twenty pages of plots.
Protocol protocolOfManySteps() {
    ModelTest m;
    m.spacingS = 0.1;
    m.loadOnAtS.clear();
    m.loadOffAtS.clear();
    for (int i = 0; i < 20; ++i) {
        m.loadOnAtS.push_back(15 + 40.0 * i);
        m.loadOffAtS.push_back(35 + 40.0 * i);
    }
    m.lengthS = 15 + 40.0 * 20;
    QBuffer buffer;
    buffer.setData(modelCsv(m));
    buffer.open(QIODevice::ReadOnly);
    Protocol p;
    p.recording = std::get<analysis::Recording>(analysis::readRecording(buffer));
    p.recording.source = QStringLiteral("испытание.csv");
    p.analysis = analysis::analyze(p.recording, {});
    analysis::judgeContract(
        p.analysis,
        std::get<analysis::ContractLimits>(analysis::parseContractLimits(
            R"({"name": "Договор 17/2026", "increase": {"frequency_recovery_s": 3}})")));
    p.identification = {.title = QStringLiteral("Приёмо-сдаточные испытания"),
                        .set = QStringLiteral("АД-120С-Т400 № 0457"),
                        .customer = QStringLiteral("ООО «Северный порт»"),
                        .site = QStringLiteral("Мурманск, причал 3"),
                        .engineer = QStringLiteral("Петров П. П."),
                        .note = QStringLiteral("<b>ясно</b> & <i>тихо</i>")};
    return p;
}

TEST(ProtocolPdf, PopplerFindsTheIdentificationTheWholeTableAndVectorPlotsOnA4Pages) {
    QTemporaryDir dir;
    const Protocol p = protocolOfManySteps();
    ASSERT_EQ(p.analysis.steps.size(), 40u);
    const QString pdf = dir.filePath("protocol.pdf");
    ASSERT_EQ(writePdf(p.analysis, p.recording, p.identification, pdf), QString());

    const QString info = poppler(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(info.contains(QStringLiteral("(A4)"))) << info.toStdString();
    const auto pagesMatch = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    ASSERT_TRUE(pagesMatch.hasMatch()) << info.toStdString();
    const int pages = pagesMatch.captured(1).toInt();
    // 41 plots, two to a page, after the tables.
    EXPECT_GE(pages, 21);

    QStringList text;
    for (int page = 1; page <= pages; ++page)
        text << poppler(QStringLiteral("pdftotext"), {"-f", QString::number(page), "-l",
                                                      QString::number(page), "-layout", pdf, "-"});
    for (const QString& given :
         {p.identification.title, p.identification.set, p.identification.customer,
          p.identification.site, p.identification.engineer, p.identification.note,
          p.recording.source})
        EXPECT_TRUE(text[0].contains(given)) << given.toStdString() << "\n"
                                             << text[0].toStdString();
    // The step table on one page, below its heading: its columns and every step's t0.
    const auto tablePage = std::find_if(text.begin(), text.end(), [](const QString& page) {
        return page.contains(QStringLiteral("Шаги нагрузки"));
    });
    ASSERT_NE(tablePage, text.end());
    EXPECT_TRUE(tablePage->contains(QStringLiteral("P после, кВт")));
    for (const analysis::Step& s : p.analysis.steps)
        EXPECT_TRUE(tablePage->contains(QString::number(s.timeS, 'f', 2))) << s.timeS;
    const QString all = text.join(u'\n');
    EXPECT_TRUE(all.contains(QStringLiteral("Класс испытания по ISO 8528-5: G2")));
    EXPECT_TRUE(all.contains(QStringLiteral("Пределы договора «Договор 17/2026»: не выполнен")));

    for (int page = 1; page <= pages; ++page) {
        const QString& on = text[page - 1];
        EXPECT_TRUE(on.contains(QStringLiteral("Страница %1 из %2").arg(page).arg(pages)))
            << on.toStdString();
        EXPECT_TRUE(on.contains(QStringLiteral("Испытание провёл: Петров П. П.")));
        EXPECT_TRUE(on.contains(QStringLiteral("Представитель заказчика:")));
    }
    // Vectors: the plots left no raster image, only their axis labels as text.
    const QString images = poppler(QStringLiteral("pdfimages"), {"-list", pdf});
    EXPECT_EQ(images.trimmed().split(u'\n').size(), 2) << images.toStdString();
    EXPECT_TRUE(text.back().contains(QStringLiteral("f, Гц"))) << text.back().toStdString();

    // Every page renders, with ink on it.
    poppler(QStringLiteral("pdftoppm"), {"-r", "40", "-png", pdf, dir.filePath("page")});
    const QStringList pngs = QDir(dir.path()).entryList({QStringLiteral("page*.png")});
    ASSERT_EQ(pngs.size(), pages);
    for (const QString& png : pngs) {
        const QImage image(dir.filePath(png));
        ASSERT_FALSE(image.isNull()) << png.toStdString();
        int dark = 0;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2) dark += qGray(image.pixel(x, y)) < 128;
        EXPECT_GT(dark, 50) << png.toStdString();
    }
    EXPECT_NE(writePdf(p.analysis, p.recording, p.identification, dir.filePath("no/such.pdf")),
              QString());
}

TEST(ProtocolHtml, ShowsTheIdentificationAndEscapesWhatTheUserTyped) {
    QTemporaryDir dir;
    const Protocol p = protocolOfManySteps();
    ASSERT_EQ(writeReport(p.analysis, p.recording, p.identification, dir.filePath("p.html")),
              QString());
    const QString page = QString::fromUtf8(testing::readFile(dir.filePath("p.html")));
    EXPECT_TRUE(page.contains(QStringLiteral("&lt;b&gt;ясно&lt;/b&gt; &amp; &lt;i&gt;тихо")));
    EXPECT_FALSE(page.contains(QStringLiteral("<b>ясно"))) << "no markup of the user's gets in";
    EXPECT_TRUE(page.contains(QStringLiteral("<h1>Приёмо-сдаточные испытания</h1>")));
    EXPECT_TRUE(page.contains(QStringLiteral("ООО «Северный порт»")));
    EXPECT_TRUE(page.contains(QStringLiteral("id=\"contract-limits\"")));
    EXPECT_TRUE(page.contains(QStringLiteral("Пределы договора «Договор 17/2026»: не выполнен")));
}

}  // namespace
}  // namespace torvix::report
