// torvix-cli analyze as a user runs it: on records of the simulator's set model, a record
// without steps, a broken record, a report and plot written without a display, and on the
// record of a load test that `run` made against torvix-sim.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>

#include "analysis/iso8528_limits.h"
#include "analysis/model_record.h"
#include "analysis/recording.h"
#include "sim/genset_model.h"
#include "support/files.h"
#include "support/peer_process.h"

namespace torvix::cli_e2e {
namespace {

using testing::Finished;

Finished cli(const QStringList& arguments, int timeoutMs = 60000) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // As over SSH: no display, and nothing chosen for Qt.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    return testing::runToEnd(QStringLiteral(TORVIX_CLI_BINARY), arguments, environment, timeoutMs);
}

Finished analyze(const QStringList& arguments) {
    return cli(QStringList{"analyze"} + arguments);
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

    const Finished table =
        analyze({record, "--rated-power", "150", "--report", dir.filePath("report.html"), "--plot",
                 dir.filePath("plot.png")});
    ASSERT_EQ(table.code, 0) << table.err.toStdString();
    EXPECT_TRUE(table.out.contains(QStringLiteral("δf, %"))) << table.out.toStdString();
    EXPECT_TRUE(table.out.contains(QStringLiteral("Класс испытания по ISO 8528-5: G2")));
    EXPECT_TRUE(table.out.contains(QStringLiteral("150 кВт")));
    EXPECT_GE(QImage(dir.filePath("plot.png")).width(), 800);
    EXPECT_TRUE(testing::readFile(dir.filePath("report.html")).contains("data:image/png;base64,"));

    // The protocol as PDF, judged against a contract, through torvix-report too.
    testing::writeFile(dir.filePath("limits.json"),
                       R"({"name": "Договор 17/2026", "increase": {"frequency_recovery_s": 3}})");
    const Finished pdf =
        analyze({record, "--format", "json", "--limits", dir.filePath("limits.json"), "--pdf",
                 dir.filePath("protocol.pdf"), "--engineer", "Иванов"});
    ASSERT_EQ(pdf.code, 0) << pdf.err.toStdString();
    const QJsonObject judged = QJsonDocument::fromJson(pdf.out.toUtf8()).object();
    EXPECT_EQ(judged["contract"].toObject()["result"].toString(), "fail");
    EXPECT_EQ(judged["steps"].toArray()[0].toObject()["contract"].toString(), "fail");
    EXPECT_EQ(judged["steps"].toArray()[1].toObject()["contract"].toString(), "pass");
    EXPECT_FALSE(o.contains("contract")) << "none without --limits";
    EXPECT_TRUE(testing::readFile(dir.filePath("protocol.pdf")).startsWith("%PDF-"));
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
    const qsizetype third =
        broken.indexOf('\n', broken.indexOf('\n', broken.indexOf('\n') + 1) + 1);
    broken.insert(third + 1, "2026-12-08T07:30:00.050+03:00,230.0,x\n");
    testing::writeFile(dir.filePath("broken.csv"), broken);
    const Finished bad = analyze({dir.filePath("broken.csv")});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("broken.csv, строка 4:"))) << bad.err.toStdString();
    EXPECT_TRUE(bad.out.isEmpty());

    testing::writeFile(dir.filePath("limits.json"),
                       R"({"name": "Договор", "increase": {"voltage_recovery_s": "2 с"}})");
    const Finished refused =
        analyze({dir.filePath("steady.csv"), "--limits", dir.filePath("limits.json")});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("increase.voltage_recovery_s: не число")))
        << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty());

    EXPECT_EQ(analyze({dir.filePath("absent.csv")}).code, 2);
    EXPECT_EQ(analyze({dir.filePath("steady.csv"), "--rated-power", "-1"}).code, 2);
    EXPECT_EQ(analyze({}).code, 2);
}

// `cut` as a script runs it: between marks, as recorded and for Excel; a missing mark and a
// broken file exit 2 with the reason.
TEST(CutCommand, WritesTheSectionBetweenMarksAndRefusesWhatIsNotThere) {
    QTemporaryDir dir;
    const QByteArray header = "time,gen_u_a_v,gen_f_hz,active_power_kw,events\n";
    const QByteArray rows[] = {
        "2026-12-08T07:30:00.000+03:00,230.0,50.00,0.0,\n",
        "2026-12-08T07:30:00.020+03:00,229.5,49.98,12.5,[0.0 s] mark наброс\n",
        "2026-12-08T07:30:00.040+03:00,229.0,49.90,12.5,\n",
        "2026-12-08T07:30:00.060+03:00,229.0,49.90,12.5,[0.1 s] mark сброс\n",
    };
    testing::writeFile(dir.filePath("test.csv"), header + rows[0] + rows[1] + rows[2] + rows[3]);
    const Finished cut = cli({"cut", dir.filePath("test.csv"), "--from-mark", "наброс", "--to-mark",
                              "сброс", "--output", dir.filePath("part.csv")});
    ASSERT_EQ(cut.code, 0) << cut.err.toStdString();
    EXPECT_EQ(testing::readFile(dir.filePath("part.csv")), header + rows[1] + rows[2] + rows[3]);
    const Finished excel =
        cli({"cut", dir.filePath("test.csv"), "--from", "0", "--to",
             "2026-12-08T07:30:00.020+03:00", "--excel", "--output", dir.filePath("excel.csv")});
    ASSERT_EQ(excel.code, 0) << excel.err.toStdString();
    EXPECT_EQ(testing::readFile(dir.filePath("excel.csv")),
              "\xEF\xBB\xBFtime;gen_u_a_v;gen_f_hz;active_power_kw;events\r\n"
              "2026-12-08T07:30:00.000+03:00;230,0;50,00;0,0;\r\n"
              "2026-12-08T07:30:00.020+03:00;229,5;49,98;12,5;[0.0 s] mark наброс\r\n");

    const Finished missing = cli({"cut", dir.filePath("test.csv"), "--from-mark", "наброс 50 %",
                                  "--to", "1", "--output", dir.filePath("none.csv")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("метки \"наброс 50 %\" в записи нет")))
        << missing.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("none.csv")));

    testing::writeFile(dir.filePath("broken.csv"),
                       header + rows[0] + "2026-12-08T07:30:00.020+03:00,x,50,0,\n");
    const Finished broken = cli({"cut", dir.filePath("broken.csv"), "--from", "0", "--to", "1",
                                 "--output", dir.filePath("none.csv")});
    EXPECT_EQ(broken.code, 2);
    EXPECT_TRUE(
        broken.err.contains(QStringLiteral("broken.csv, строка 3: в столбце gen_u_a_v не число")))
        << broken.err.toStdString();
    EXPECT_EQ(cli({"cut", dir.filePath("test.csv"), "--from", "0", "--output", "x.csv"}).code, 2);
    const Finished help = cli({"cut", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("--from-mark")) << help.out.toStdString();
}

// The command line loads no widgets: a report or a plot is drawn by torvix-report beside it.
TEST(AnalyzeCommand, WithoutTorvixReportBesideItTablesStillWorkAndAReportIsRefusedClearly) {
    QTemporaryDir dir;
    const QString lone = dir.filePath("torvix-cli");
    ASSERT_TRUE(QFile::copy(QStringLiteral(TORVIX_CLI_BINARY), lone));
    testing::writeFile(dir.filePath("test.csv"), analysis::testing::modelCsv({}));
    const auto run = [&](const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        return testing::runToEnd(lone, QStringList{"analyze", dir.filePath("test.csv")} + arguments,
                                 environment, 60000);
    };
    const Finished table = run({});
    EXPECT_EQ(table.code, 0) << table.err.toStdString();
    EXPECT_TRUE(table.out.contains(QStringLiteral("G2")));

    const Finished report = run({"--report", dir.filePath("report.html")});
    EXPECT_EQ(report.code, 2);
    EXPECT_TRUE(report.err.contains(QStringLiteral("нужна программа torvix-report")))
        << report.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("report.html")));
}

// Done when: a load test run against the simulator at the line's own pace, then analysed, gives
// the figures of the simulator's set model within one sample spacing and 0.1 points.
TEST(AnalyzeCommand, FindsTheModelsFiguresInTheRecordOfALoadTestRunAgainstTheSimulator) {
    QTemporaryDir dir;
    const QString line = dir.filePath("tty");
    testing::Peer sim(QStringLiteral(TORVIX_SIM_BINARY),
                      {"--no-noise", "--quiet", "--pace", "--link", line}, dir.filePath("sim.log"));
    ASSERT_TRUE(sim.firstLine(15000).startsWith(QStringLiteral("/dev/")));
    // The set rings for about 8 s after a step: by then the 10 s of steady state before the
    // next step begin, and the last 2 s that give f_ss and U_ss are long past it.
    testing::writeFile(dir.filePath("load.txt"),
                       "send start\n"
                       "until gen_f_hz >= 49.5 within 10s\n"
                       "wait 3s\n"
                       "send load on\n"
                       "wait 19s\n"
                       "send load off\n"
                       "wait 12s\n");
    const QString record = dir.filePath("load.csv");
    const Finished run = cli({"run", dir.filePath("load.txt"), "--port", line, "--settings",
                              "115200,e,8,1", "--fast", "--output", record},
                             120000);
    ASSERT_EQ(run.code, 0) << run.err.toStdString();

    const Finished json = analyze({record, "--format", "json"});
    ASSERT_EQ(json.code, 0) << json.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
    const QJsonArray steps = o["steps"].toArray();
    ASSERT_EQ(steps.size(), 2) << json.out.toStdString();
    EXPECT_EQ(o["rated"].toObject()["steps_from"].toString(), "load_commands");

    // One sample spacing: the widest gap between records once the load test is under way (about
    // 20 ms with --fast on an idle machine).
    const auto read = analysis::readRecordingFile(record);
    ASSERT_TRUE(std::holds_alternative<analysis::Recording>(read));
    const std::vector<double>& t = std::get<analysis::Recording>(read).timeS;
    double spacing = 0;
    for (std::size_t i = 1; i < t.size(); ++i)
        if (t[i] > steps[0].toObject()["time_s"].toDouble())
            spacing = std::max(spacing, t[i] - t[i - 1]);
    // What the model's curve can move within one sample spacing of its extreme: on a loaded
    // machine a gap in the record can fall on the dip.
    const auto depthTolerance = [spacing](const sim::StepResponse& r) {
        const double peak = r.extremeTimeS();
        const double depth = std::fabs(r.deviationPct(peak));
        return 0.1 + depth -
               std::min(std::fabs(r.deviationPct(peak - spacing)),
                        std::fabs(r.deviationPct(peak + spacing)));
    };
    const sim::GensetConfig model;
    const sim::StepResponse f(model.frequencyResponse);
    const sim::StepResponse u(model.voltageResponse);
    const analysis::ClassLimits& g2 = *analysis::limitsOf(analysis::PerformanceClass::G2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject s = steps[i].toObject();
        const double sign = i == 0 ? -1 : 1;
        EXPECT_EQ(s["kind"].toString(), i == 0 ? "increase" : "decrease");
        EXPECT_NEAR(s["frequency_deviation_pct"].toDouble(), sign * model.frequencyResponse.dipPct,
                    depthTolerance(f));
        EXPECT_NEAR(s["voltage_deviation_pct"].toDouble(), sign * model.voltageResponse.dipPct,
                    depthTolerance(u));
        EXPECT_NEAR(s["frequency_recovery_s"].toDouble(), f.recoveryTimeS(g2.frequencyBandPct / 2),
                    spacing);
        EXPECT_NEAR(s["voltage_recovery_s"].toDouble(),
                    u.recoveryTimeS(g2.steadyVoltageDeviationPct), spacing);
        EXPECT_NEAR(s["steady_frequency_band_pct"].toDouble(), 0, 0.1);
        EXPECT_NEAR(s["steady_voltage_deviation_pct"].toDouble(), 0, 0.1);
        EXPECT_EQ(s["class"].toString(), "G2");
        EXPECT_NEAR(s["power_after_kw"].toDouble(), i == 0 ? model.loadKw : 0, 0.1);
    }
    EXPECT_EQ(o["class"].toString(), "G2");
}

}  // namespace
}  // namespace torvix::cli_e2e
