// torvix-cli analyze as a user runs it: on records of the simulator's set model, a record
// without steps, a broken record, and a report and plot written without a display.

#include <gtest/gtest.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "analysis/model_record.h"
#include "support/files.h"

namespace torvix::cli_e2e {
namespace {

struct Finished {
    int code = -1;
    QString out;
    QString err;
};

Finished analyze(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // As over SSH: no display, and nothing chosen for Qt.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TORVIX_CLI_BINARY), QStringList{"analyze"} + arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, QStringLiteral("did not finish")};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(AnalyzeCommand, PrintsTheStepsAsJsonOrATableAndWritesReportAndPlot) {
    QTemporaryDir dir;
    const QString record = dir.filePath("test.csv");
    testing::writeFile(record, analysis::testing::modelCsv({}));

    const Finished json = analyze({record, "--format", "json"});
    ASSERT_EQ(json.code, 0) << json.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    ASSERT_EQ(o["steps"].toArray().size(), 2) << json.out.toStdString();
    EXPECT_EQ(o["class"].toString(), "G2");
    EXPECT_EQ(o["steps"].toArray()[1].toObject()["kind"].toString(), "decrease");

    const Finished table = analyze({record, "--rated-power", "150", "--report",
                                    dir.filePath("report.html"), "--plot", dir.filePath("plot.png")});
    ASSERT_EQ(table.code, 0) << table.err.toStdString();
    EXPECT_TRUE(table.out.contains(QStringLiteral("δf, %"))) << table.out.toStdString();
    EXPECT_TRUE(table.out.contains(QStringLiteral("Класс испытания по ISO 8528-5: G2")));
    EXPECT_TRUE(table.out.contains(QStringLiteral("150 кВт")));
    EXPECT_GE(QImage(dir.filePath("plot.png")).width(), 800);
    EXPECT_TRUE(testing::readFile(dir.filePath("report.html")).contains("data:image/png;base64,"));
}

TEST(AnalyzeCommand, ExitsFourWithoutStepsAndTwoNamingTheLineOfABrokenRecord) {
    QTemporaryDir dir;
    analysis::testing::ModelTest steady;
    steady.loadOnAtS.clear();
    steady.loadOffAtS.clear();
    steady.lengthS = 5;
    testing::writeFile(dir.filePath("steady.csv"), analysis::testing::modelCsv(steady));
    const Finished none = analyze({dir.filePath("steady.csv"), "--format", "json"});
    EXPECT_EQ(none.code, 4) << none.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(none.out.toUtf8()).object()["class"].toString(), "none");

    QByteArray broken = analysis::testing::modelCsv(steady);
    const qsizetype third = broken.indexOf('\n', broken.indexOf('\n', broken.indexOf('\n') + 1) + 1);
    broken.insert(third + 1, "2026-12-08T07:30:00.050+03:00,230.0,x\n");
    testing::writeFile(dir.filePath("broken.csv"), broken);
    const Finished bad = analyze({dir.filePath("broken.csv")});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("broken.csv, строка 4:"))) << bad.err.toStdString();
    EXPECT_TRUE(bad.out.isEmpty());

    EXPECT_EQ(analyze({dir.filePath("absent.csv")}).code, 2);
    EXPECT_EQ(analyze({dir.filePath("steady.csv"), "--rated-power", "-1"}).code, 2);
    EXPECT_EQ(analyze({}).code, 2);
}

}  // namespace
}  // namespace torvix::cli_e2e
