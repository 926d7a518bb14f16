// The HTML report as a browser shows it: Debian's headless Chromium opens it offline, and a
// page of ours reads back its step table and the size of every plot it decoded.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocumentFragment>

#include "analysis/model_record.h"
#include "analysis/transient_analysis.h"
#include "report/load_test_report.h"
#include "support/files.h"

namespace torvix::report {
namespace {

using analysis::testing::ModelTest;

const char* const kProbe = R"(<!DOCTYPE html><html><body>
<iframe id="report" src="report.html"></iframe>
<script>
document.getElementById('report').onload = function () {
  const d = this.contentDocument;
  const result = {
    images: [...d.images].map(i => ({id: i.id, width: i.complete ? i.naturalWidth : 0,
                                     height: i.complete ? i.naturalHeight : 0})),
    rows: [...d.querySelectorAll('#steps tr')].map(tr => [...tr.cells].map(c => c.textContent)),
    overall: d.getElementById('overall').textContent,
    scripts: d.scripts.length,
  };
  const pre = document.createElement('pre');
  pre.id = 'result';
  pre.textContent = JSON.stringify(result);
  document.body.appendChild(pre);
};
</script></body></html>
)";

analysis::Recording recordingOf(const QByteArray& csv) {
    QBuffer buffer;
    buffer.setData(csv);
    buffer.open(QIODevice::ReadOnly);
    return std::get<analysis::Recording>(analysis::readRecording(buffer));
}

TEST(ReportInChromium, ShowsTheStepTableTheClassAndEveryPlot) {
    QTemporaryDir dir;
    ModelTest m;
    m.loadOnAtS = {15, 45};
    m.loadOffAtS = {30};
    m.lengthS = 60;
    const analysis::Recording recording = recordingOf(modelCsv(m));
    const analysis::Analysis a = analysis::analyze(recording, {});
    ASSERT_EQ(a.steps.size(), 3u);
    ASSERT_EQ(writeReport(a, recording, {}, dir.filePath("report.html")), QString());
    testing::writeFile(dir.filePath("probe.html"), kProbe);

    const QByteArray page = testing::readFile(dir.filePath("report.html"));
    EXPECT_FALSE(page.contains("<script")) << "the page runs nothing";
    EXPECT_FALSE(page.contains("src=\"http")) << "and fetches nothing";

    QProcess chromium;
    chromium.start(
        QStringLiteral("chromium"),
        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         "--allow-file-access-from-files", "--user-data-dir=" + dir.filePath("profile"),
         "--virtual-time-budget=20000", "--dump-dom", "file://" + dir.filePath("probe.html")});
    ASSERT_TRUE(chromium.waitForFinished(120000)) << "chromium did not finish";
    const QString dom = QString::fromUtf8(chromium.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral("<pre id=\"result\">(.*)</pre>"),
                                          QRegularExpression::DotMatchesEverythingOption)
                           .match(dom);
    ASSERT_TRUE(match.hasMatch()) << dom.left(2000).toStdString()
                                  << chromium.readAllStandardError().toStdString();
    const QString json = QTextDocumentFragment::fromHtml(match.captured(1)).toPlainText();
    const QJsonObject result = QJsonDocument::fromJson(json.toUtf8()).object();

    const QJsonArray images = result["images"].toArray();
    ASSERT_EQ(images.size(), 4) << json.toStdString();
    EXPECT_EQ(images[0].toObject()["id"].toString(), "plot-whole");
    for (int i = 0; i < images.size(); ++i) {
        const QJsonObject image = images[i].toObject();
        if (i > 0) {
            EXPECT_EQ(image["id"].toString(), QStringLiteral("plot-step-%1").arg(i));
        }
        EXPECT_GE(image["width"].toInt(), 800) << image["id"].toString().toStdString();
        EXPECT_GE(image["height"].toInt(), 600) << image["id"].toString().toStdString();
    }
    EXPECT_EQ(result["scripts"].toInt(), 0);

    // Header and one row a step, with the model's figures.
    const QJsonArray rows = result["rows"].toArray();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].toArray()[5].toString(), QStringLiteral("δf, %"));
    for (int step = 1; step <= 3; ++step) {
        const QJsonArray row = rows[step].toArray();
        const bool increase = step != 2;
        EXPECT_EQ(row[2].toString(), increase ? QStringLiteral("наброс") : QStringLiteral("сброс"));
        EXPECT_NEAR(row[5].toString().toDouble(), (increase ? -1 : 1) * m.frequency.dipPct, 0.1);
        EXPECT_NEAR(row[7].toString().toDouble(), (increase ? -1 : 1) * m.voltage.dipPct, 0.1);
        EXPECT_EQ(row[11].toString(), QStringLiteral("G2"));
    }
    EXPECT_EQ(result["overall"].toString(), QStringLiteral("Класс испытания по ISO 8528-5: G2"));
}

TEST(ReportPlot, IsThePngOfTheWholeTest) {
    QTemporaryDir dir;
    const analysis::Recording recording = recordingOf(modelCsv(ModelTest{}));
    const analysis::Analysis a = analysis::analyze(recording, {});
    ASSERT_EQ(writePlot(a, recording, dir.filePath("plot.png")), QString());
    const QImage png(dir.filePath("plot.png"));
    EXPECT_EQ(png.size(), wholeTestPlot(a, recording).size());
    EXPECT_GE(png.width(), 800);
    EXPECT_NE(writePlot(a, recording, dir.filePath("missing/plot.png")), QString());
}

}  // namespace
}  // namespace torvix::report
