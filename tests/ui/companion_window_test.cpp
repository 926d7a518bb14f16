// The companion window on a log fed by the window's link against a scripted controller.

#include "ui/companion_window.h"

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "analysis/recording.h"
#include "analysis/transient_analysis.h"
#include "support/files.h"
#include "support/qt_printers.h"
#include "support/scripted_link.h"
#include "ui/recording_view.h"
#include "ui/report_dialog.h"
#include "ui/trend_plot.h"

#ifndef _WIN32
#include "analysis/model_record.h"
#endif

namespace torvix {
namespace {

class Companion : public ::testing::Test, protected testing::ScriptedLink {
protected:
    Companion() {
        onTick = [this](const TickOutcome& outcome) { log.take(outcome); };
        regs[4] = 2305;   // generator phase A, 0.1 V
        regs[7] = 500;    // phase A current, 0.2 A
        regs[18] = 4990;  // generator frequency, 0.01 Hz
    }
    template <class T>
    T* find(const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // `seconds` of polling: a status reply every 200 ms, the counter echoed between.
    void poll(double seconds) {
        for (int i = 0; i < int(seconds * 10); ++i)
            tick(lastSent()[1] == protocol::kReadInputRegisters ? testing::statusReply(regs)
                                                                : echo());
    }
    QStringList markerTexts() {
        QStringList texts;
        for (int i = 0; i < window.plot()->itemCount(); ++i)
            if (auto* text = qobject_cast<QCPItemText*>(window.plot()->item(i)))
                texts << text->text();
        return texts;
    }
    double span() const { return window.timeRange().second - window.timeRange().first; }

    QTemporaryDir dir;
    trends::CompanionLog log{[this] { return trends::CompanionLog::Now{wallNow(), ms}; }};
    CompanionWindow window{log, QDir(dir.path()).filePath(QStringLiteral("записи"))};
};

TEST_F(Companion, FollowsTheLatestSampleOverTheChosenSpanUntilPaused) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Torvix. Графики и запись"));
    EXPECT_EQ(window.parentWidget(), nullptr);
    tick();
    poll(90);
    window.show();
    // 10 minutes to the last sample at first.
    EXPECT_DOUBLE_EQ(window.timeRange().second, log.series().lastTime());
    EXPECT_DOUBLE_EQ(span(), 600);
    window.setSpan(0);
    EXPECT_DOUBLE_EQ(span(), 60);
    // One time axis: every panel shows the span of the first (on Windows this rests on
    // importing QCustomPlot's meta-objects from its DLL).
    for (QCPAxisRect* rect : window.plot()->axisRects()) {
        EXPECT_DOUBLE_EQ(rect->axis(QCPAxis::atBottom)->range().lower, window.timeRange().first);
        EXPECT_DOUBLE_EQ(rect->axis(QCPAxis::atBottom)->range().upper, window.timeRange().second);
    }
    window.setSpan(3);
    EXPECT_DOUBLE_EQ(window.timeRange().first, log.series().firstTime());
    window.setSpan(0);

    // Every channel drawn, in its unit's panel, with the samples of the span.
    for (std::size_t c = 0; c < trends::kChannelCount; ++c)
        EXPECT_GE(window.plot()->graph(int(c))->dataCount(), 300) << c;
    EXPECT_DOUBLE_EQ(window.plot()->graph(0)->data()->at(100)->value, 230.5);

    auto* follow = find<QPushButton>("cmd_follow");
    EXPECT_EQ(follow->text(), QStringLiteral("Пауза"));
    QTest::mouseClick(follow, Qt::LeftButton);
    EXPECT_EQ(follow->text(), QStringLiteral("Следить"));
    const auto held = window.timeRange();
    poll(5);
    window.refresh();
    EXPECT_EQ(window.timeRange(), held);
    QTest::mouseClick(follow, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(window.timeRange().second, log.series().lastTime());
}

TEST_F(Companion, MarksCommandsAndShowsTheCursorsValuesAndSavesThePicture) {
    tick();
    poll(2);
    ASSERT_TRUE(click(requests::Kind::Start));
    ASSERT_TRUE(untilCommandSent());
    tick(echo());
    ASSERT_TRUE(click(requests::Kind::LoadOn));
    ASSERT_TRUE(untilCommandSent());
    tick(exception(2));
    poll(2);
    find<QLineEdit>("txt_mark")->setText(QStringLiteral("наброс 50 %"));
    QTest::mouseClick(find<QPushButton>("cmd_mark"), Qt::LeftButton);
    window.show();
    window.refresh();

    EXPECT_EQ(markerTexts(),
              (QStringList{QStringLiteral("наброс 50 %"),
                           QStringLiteral("Нагрузка 1: исключение 2 (недопустимый адрес данных)"),
                           QStringLiteral("СТАРТ")}));
    for (int i = 0; i < window.plot()->itemCount(); ++i) {
        auto* text = qobject_cast<QCPItemText*>(window.plot()->item(i));
        if (!text) continue;
        if (text->text() == QStringLiteral("СТАРТ")) {
            EXPECT_EQ(text->color(), QColor(0x1E8C1E));
        } else if (text->text().startsWith(QStringLiteral("Нагрузка"))) {
            EXPECT_EQ(text->color(), QColor(0xD01010));
        }
    }

    // Lines a fraction of a second apart: each label in a panel of its own, newest at the
    // top; a fourth there would be drawn over them, so it stays without text.
    QSet<QCPAxisRect*> panels;
    for (int i = 0; i < window.plot()->itemCount(); ++i)
        if (auto* text = qobject_cast<QCPItemText*>(window.plot()->item(i)))
            panels.insert(text->clipAxisRect());
    EXPECT_EQ(panels.size(), 3);
    log.mark(QStringLiteral("сброс"));
    window.refresh();
    EXPECT_EQ(
        markerTexts(),
        (QStringList{QStringLiteral("сброс"), QStringLiteral("наброс 50 %"),
                     QStringLiteral("Нагрузка 1: исключение 2 (недопустимый адрес данных)")}));

    // The first status reply came at 07:30:00.216.
    const double first = log.series().firstTime();
    const QString at = window.cursorText(first + 0.05);
    EXPECT_TRUE(at.startsWith(QStringLiteral("07:30:00.216; U ген. A 230,5 В; ")))
        << at.toStdString();
    EXPECT_TRUE(at.contains(QStringLiteral("; I ген. A 100,0 А; "))) << at.toStdString();
    EXPECT_TRUE(at.contains(QStringLiteral("; f ген. 49,90 Гц; "))) << at.toStdString();
    window.setChannelShown(0, false);
    EXPECT_FALSE(find<QCheckBox>("chk_channel")->isChecked());
    EXPECT_FALSE(window.cursorText(first).contains(QStringLiteral("U ген. A")));
    EXPECT_EQ(window.cursorText(first - 30), QString());

    const QString png = QDir(dir.path()).filePath(QStringLiteral("trends.png"));
    ASSERT_TRUE(window.savePicture(png));
    const QImage picture(png);
    EXPECT_EQ(picture.size(), window.plot()->size());
}

TEST_F(Companion, TheTrafficTabListsFramesFiltersErrorsAndCopies) {
    tick();
    poll(1);
    tick();  // no answer
    poll(1);
    window.show();
    find<QTabWidget>("")->setCurrentIndex(1);
    window.refreshTraffic();
    auto* view = find<QListView>("lst_traffic");
    const int all = view->model()->rowCount();
    EXPECT_EQ(all, int(log.traffic().size()));
    EXPECT_EQ(view->model()->index(0, 0).data().toString(),
              QStringLiteral("    116.636 TX 07 04 01 2C 00 40 31 A9  (чтение состояния)"));

    find<QCheckBox>("chk_traffic_errors")->setChecked(true);
    ASSERT_EQ(view->model()->rowCount(), 1);
    EXPECT_TRUE(
        view->model()->index(0, 0).data().toString().endsWith(QStringLiteral("RX --  no answer")));
    QTest::mouseClick(find<QPushButton>("cmd_traffic_copy"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(),
              view->model()->index(0, 0).data().toString() + u'\n');

    find<QCheckBox>("chk_traffic_errors")->setChecked(false);
    find<QCheckBox>("chk_traffic_pause")->setChecked(true);
    poll(1);
    window.refreshTraffic();
    EXPECT_EQ(view->model()->rowCount(), all);
    find<QCheckBox>("chk_traffic_pause")->setChecked(false);
    poll(1);
    window.refreshTraffic();
    EXPECT_EQ(view->model()->rowCount(), all + 20);
}

TEST_F(Companion, RecordsIntoItsFolderAndTellsWhenItCannot) {
    window.show();
    auto* record = find<QPushButton>("cmd_record");
    EXPECT_EQ(record->text(), QStringLiteral("Начать запись"));
    tick();
    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(record->text(), QStringLiteral("Остановить запись"));
    poll(2);
    const QString file =
        QDir(dir.path()).filePath(QStringLiteral("записи/2026-12-08_07-30-00.csv"));
    EXPECT_EQ(find<QLabel>("lbl_record_file")->text(), QDir::toNativeSeparators(file));
    EXPECT_EQ(find<QLabel>("lbl_record_count")->text(), QStringLiteral("Записей: 10"));
    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(record->text(), QStringLiteral("Начать запись"));
    EXPECT_EQ(testing::readFile(file).count('\n'), 11);

    // A folder that cannot be made: the message in the window, no recording.
    testing::writeFile(QDir(dir.path()).filePath(QStringLiteral("busy")), "a file");
    CompanionWindow blocked(log, QDir(dir.path()).filePath(QStringLiteral("busy/записи")));
    blocked.show();
    QTest::mouseClick(blocked.findChild<QPushButton*>(QStringLiteral("cmd_record")),
                      Qt::LeftButton);
    auto* message = blocked.findChild<QLabel*>(QStringLiteral("lbl_record_message"));
    EXPECT_TRUE(message->isVisible());
    EXPECT_TRUE(message->text().startsWith(QStringLiteral("Запись не начата: в папку «")));
    EXPECT_FALSE(log.recording().isActive());
}

#ifndef _WIN32
// The simulator's set model, not built for Windows, stands in for a recording with a load step.
TEST_F(Companion, WritesTheReportBesideTheRecordingAndOpensIt) {
    std::vector<QUrl> opened;
    window.setReportOpener([&](const QUrl& url) { opened.push_back(url); });
    ReportRequest asked;
    window.setReportAsker([&] { return std::optional(asked); });
    window.show();
    auto* report = find<QPushButton>("cmd_report");
    auto* message = find<QLabel>("lbl_record_message");
    EXPECT_EQ(report->text(), QStringLiteral("Отчёт"));
    EXPECT_FALSE(report->isEnabled());

    // The running recording as it stands: steady values, no step to report.
    tick();
    QTest::mouseClick(find<QPushButton>("cmd_record"), Qt::LeftButton);
    poll(2);
    ASSERT_TRUE(report->isEnabled());
    QTest::mouseClick(report, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return message->isVisible(); }, 120000));
    EXPECT_EQ(message->text(),
              QStringLiteral("Отчёт не составлен: в записи нет ступени нагрузки."));
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(report->isEnabled());
    QTest::mouseClick(find<QPushButton>("cmd_record"), Qt::LeftButton);

    // The last recording, now holding the set model's 120 kW load step at 15 s.
    const QString folder = QDir(dir.path()).filePath(QStringLiteral("записи"));
    const QString html = QDir(folder).filePath(QStringLiteral("2026-12-08_07-30-00.html"));
    analysis::testing::ModelTest m;
    m.loadOffAtS.clear();
    testing::writeFile(QDir(folder).filePath(QStringLiteral("2026-12-08_07-30-00.csv")),
                       analysis::testing::modelCsv(m));
    QTest::mouseClick(report, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty() || message->isVisible(); }, 120000));
    ASSERT_EQ(opened.size(), 1u) << message->text().toStdString();
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(html));
    EXPECT_FALSE(message->isVisible());
    const QString page = QString::fromUtf8(testing::readFile(html));
    EXPECT_TRUE(page.contains(QStringLiteral("Шаг 1: наброс 0.0 → 120.0 кВт, t0 = 15.")))
        << page.left(2000).toStdString();
    EXPECT_FALSE(page.contains(QStringLiteral("Шаг 2")));

    // As PDF, with what the dialog was told, beside the same recording.
    asked.identification.set = QStringLiteral("АД-120 № 7");
    asked.pdf = true;
    QTest::mouseClick(report, Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return opened.size() == 2 || message->isVisible(); }, 120000));
    ASSERT_EQ(opened.size(), 2u) << message->text().toStdString();
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(
                             QDir(folder).filePath(QStringLiteral("2026-12-08_07-30-00.pdf"))));
    EXPECT_TRUE(testing::readFile(opened[1].toLocalFile()).startsWith("%PDF-"));
}
#endif

template <class T>
T* findChild(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// A recording opened in the window: read on its worker thread, then its own tab.
RecordingView* opened(CompanionWindow& window, const QString& path) {
    RecordingView* view = window.openRecording(path);
    EXPECT_TRUE(
        QTest::qWaitFor([view] { return view->isLoaded() || !view->message().isEmpty(); }, 120000));
    return view;
}

// The file's records, one a line, header first.
QList<QByteArray> linesOf(const QString& path) {
    QList<QByteArray> lines = testing::readFile(path).split('\n');
    if (lines.back().isEmpty()) lines.removeLast();
    return lines;
}

QByteArray joined(const QList<QByteArray>& lines, qsizetype from, qsizetype to) {
    QByteArray bytes = lines[0] + '\n';
    for (qsizetype i = from; i <= to; ++i) bytes += lines[i] + '\n';
    return bytes;
}

TEST_F(Companion, OpensItsOwnRecordingBesideTheLiveTrendsAndSavesASection) {
    window.show();
    tick();
    QTest::mouseClick(find<QPushButton>("cmd_record"), Qt::LeftButton);
    poll(2);
    ASSERT_TRUE(click(requests::Kind::Start));
    ASSERT_TRUE(untilCommandSent());
    tick(echo());
    poll(1);
    log.mark(QStringLiteral("наброс"));
    poll(2);
    log.mark(QStringLiteral("сброс"));
    poll(1);
    QTest::mouseClick(find<QPushButton>("cmd_record"), Qt::LeftButton);
    const QString path = log.recording().path();
    const QList<QByteArray> lines = linesOf(path);

    RecordingView* view = opened(window, path);
    ASSERT_TRUE(view->isLoaded()) << view->message().toStdString();
    EXPECT_EQ(window.tabs()->count(), 3);
    EXPECT_EQ(window.tabs()->currentWidget(), view);
    EXPECT_EQ(window.tabs()->tabText(2), QFileInfo(path).fileName());
    EXPECT_EQ(window.openRecording(path), view) << "one tab a file";
    EXPECT_EQ(view->series()->size(), std::size_t(lines.size() - 1));
    QStringList markers;
    for (const trends::Marker& marker : view->markers().all()) markers << marker.text;
    EXPECT_EQ(markers, (QStringList{QStringLiteral("СТАРТ"), QStringLiteral("наброс"),
                                    QStringLiteral("сброс")}));
    const auto first = view->series()->readingAt(view->series()->firstTime());
    ASSERT_TRUE(first);
    EXPECT_TRUE(view->trends()->readingText(*first).startsWith(
        QStringLiteral("07:30:00.216; U ген. A 230,5 В; ")))
        << view->trends()->readingText(*first).toStdString();
    // The live trends go on meanwhile.
    const double live = log.series().lastTime();
    poll(1);
    window.refresh();
    EXPECT_GT(log.series().lastTime(), live);
    EXPECT_NE(view->trends()->plot(), window.plot());

    // From one mark to the next: the records between the lines that carry them, both included.
    qsizetype from = -1;
    qsizetype to = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].contains("mark наброс")) from = i;
        if (lines[i].contains("mark сброс")) to = i;
    }
    ASSERT_LT(from, to);
    EXPECT_EQ(view->sectionChoices(),
              (QStringList{QStringLiteral("между курсорами"), QStringLiteral("«наброс» — «сброс»"),
                           QStringLiteral("«сброс» — конец")}));
    const QString out = QDir(dir.path()).filePath(QStringLiteral("section.csv"));
    view->chooseSection(1);
    ASSERT_EQ(view->saveSection(out, analysis::SectionFormat::AsRecorded), QString());
    EXPECT_EQ(testing::readFile(out), joined(lines, from, to));

    // Between the cursors, whichever comes first, by the records' own times.
    const auto timeOf = [&](qsizetype line) {
        return double(QDateTime::fromString(QString::fromLatin1(lines[line].left(29)),
                                            Qt::ISODateWithMs)
                          .toMSecsSinceEpoch()) /
               1000;
    };
    view->chooseSection(0);
    EXPECT_NE(view->saveSection(out, analysis::SectionFormat::AsRecorded), QString());
    view->setCursor(0, timeOf(7) + 0.04);
    view->setCursor(1, timeOf(3) - 0.04);
    ASSERT_EQ(view->saveSection(out, analysis::SectionFormat::AsRecorded), QString());
    EXPECT_EQ(testing::readFile(out), joined(lines, 3, 7));
    EXPECT_TRUE(view->trends()->cursorText().contains(QStringLiteral("Δt = -0,800 с")))
        << view->trends()->cursorText().toStdString();

    window.tabs()->tabCloseRequested(2);
    EXPECT_EQ(window.tabs()->count(), 2);
    window.tabs()->tabCloseRequested(0);
    EXPECT_EQ(window.tabs()->count(), 2) << "the live tabs stay";
}

#ifndef _WIN32
TEST_F(Companion, OpensTheCommandLinesRecordASpreadsheetsResaveADroppedFileAndTellsABrokenLine) {
    analysis::testing::ModelTest m;
    m.loadOffAtS.clear();
    const QByteArray csv = analysis::testing::modelCsv(m);
    const QString record = QDir(dir.path()).filePath(QStringLiteral("cli.csv"));
    testing::writeFile(record, csv);
    window.show();
    RecordingView* view = opened(window, record);
    ASSERT_TRUE(view->isLoaded()) << view->message().toStdString();
    EXPECT_EQ(view->series()->size(), 2751u);  // 55 s at 50 records a second
    ASSERT_EQ(view->markers().all().size(), 1u);
    const trends::Marker step = view->markers().all().front();
    EXPECT_EQ(step.text, QStringLiteral("Нагрузка 1"));

    // Timed by hand: a cursor on the step's marker, the second where the model's frequency
    // has recovered; Δt is the analyser's t_f within a record's spacing.
    const analysis::Analysis analysis =
        analysis::analyze(*view->recording(), analysis::RatedValues{});
    ASSERT_EQ(analysis.steps.size(), 1u);
    ASSERT_TRUE(analysis.steps[0].frequency.recoveryS);
    const double tf = *analysis.steps[0].frequency.recoveryS;
    view->setCursor(0, step.time);
    view->setCursor(1, step.time + m.frequency.recoveryS);
    const QString shown = view->trends()->cursorText();
    const auto at = shown.indexOf(QStringLiteral("Δt = "));
    ASSERT_GE(at, 0) << shown.toStdString();
    const double dt = QLocale(QLocale::Russian).toDouble(shown.mid(at + 5).section(u' ', 0, 0));
    EXPECT_NEAR(dt, tf, m.spacingS) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("Δf ген. "))) << shown.toStdString();

    // With the mouse: a box with Ctrl zooms to its times, a click and a Shift+click place the
    // cursors on the records there, "весь опыт" shows everything again.
    view->setCursor(0, std::nullopt);
    view->setCursor(1, std::nullopt);
    QCustomPlot* plot = view->trends()->plot();
    plot->replot();
    QCPAxis* time = view->trends()->timeAxis();
    const int y = time->axisRect()->center().y();
    const int left = time->axisRect()->left() + 100;
    const int right = left + 200;
    const double boxFrom = time->pixelToCoord(left);
    const double boxTo = time->pixelToCoord(right);
    QTest::mousePress(plot, Qt::LeftButton, Qt::ControlModifier, QPoint(left, y));
    QMouseEvent drag(QEvent::MouseMove, QPointF(right, y + 40),
                     plot->mapToGlobal(QPointF(right, y + 40)), Qt::NoButton, Qt::LeftButton,
                     Qt::ControlModifier);
    QApplication::sendEvent(plot, &drag);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::ControlModifier, QPoint(right, y + 40));
    EXPECT_NEAR(view->trends()->timeRange().first, boxFrom, 0.5);
    EXPECT_NEAR(view->trends()->timeRange().second, boxTo, 0.5);
    for (const auto& [x, modifier, index] :
         {std::tuple{left + 20, Qt::NoModifier, 0}, std::tuple{left + 120, Qt::ShiftModifier, 1}}) {
        QTest::mouseClick(plot, Qt::LeftButton, modifier, QPoint(x, y));
        ASSERT_TRUE(view->cursorTime(index)) << index;
        const auto row = view->series()->rowAt(time->pixelToCoord(x));
        EXPECT_EQ(*view->cursorTime(index), view->series()->time(*row)) << index;
    }
    QTest::mouseClick(findChild<QPushButton>(*view, "cmd_whole"), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(view->trends()->timeRange().first, view->series()->firstTime());
    EXPECT_DOUBLE_EQ(view->trends()->timeRange().second, view->series()->lastTime());

    // The report of the section between the cursors, beside the recording.
    std::vector<QUrl> reports;
    window.setReportOpener([&](const QUrl& url) { reports.push_back(url); });
    window.setReportAsker([] { return std::optional(ReportRequest{}); });
    view->setCursor(1, step.time + 10);
    view->setCursor(0, step.time - 12);
    ASSERT_EQ(view->makeReport(), QString());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              QUrl::fromLocalFile(
                  QDir(dir.path()).filePath(QStringLiteral("cli_участок_3.0-25.0с.html"))));
    const QString page = QString::fromUtf8(testing::readFile(reports[0].toLocalFile()));
    EXPECT_TRUE(page.contains(QStringLiteral("Шаг 1: наброс 0.0 → 120.0 кВт, t0 = 12.")))
        << page.left(2000).toStdString();
    view->setCursor(1, step.time - 1);
    EXPECT_EQ(view->makeReport(),
              QStringLiteral("Отчёт не составлен: в участке нет ступени нагрузки."));

    // The same record as a Russian spreadsheet saves it: ';', decimal commas, a BOM.
    QByteArray resave = "\xEF\xBB\xBF";
    for (const QByteArray& line : csv.split('\n')) {
        if (line.isEmpty()) continue;
        QList<QByteArray> fields = line.split(',');
        fields[0].replace('T', ' ');
        for (qsizetype i = 1; i < fields.size(); ++i) fields[i].replace('.', ',');
        resave += fields.join(';') + "\r\n";
    }
    const QString spreadsheet = QDir(dir.path()).filePath(QStringLiteral("excel.csv"));
    testing::writeFile(spreadsheet, resave);
    // Dropped onto the window.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(spreadsheet), QUrl::fromLocalFile(dir.filePath("x.png"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    ASSERT_EQ(window.tabs()->count(), 4);
    auto* dropped = qobject_cast<RecordingView*>(window.tabs()->widget(3));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dropped->isLoaded(); }, 120000))
        << dropped->message().toStdString();
    EXPECT_EQ(dropped->series()->size(), 2751u);
    EXPECT_EQ(dropped->trends()->readingText(*dropped->series()->readingAt(step.time)),
              view->trends()->readingText(*view->series()->readingAt(step.time)));

    // A broken line is told with its number, as analyze tells it; a cut last line is a note.
    QByteArray broken = csv;
    broken.insert(broken.indexOf('\n', broken.indexOf('\n', broken.indexOf('\n') + 1) + 1) + 1,
                  "2026-12-08T07:30:00.050+03:00,230.0,x\n");
    const QString bad = QDir(dir.path()).filePath(QStringLiteral("broken.csv"));
    testing::writeFile(bad, broken);
    RecordingView* refused = opened(window, bad);
    EXPECT_FALSE(refused->isLoaded());
    EXPECT_EQ(refused->message(),
              QStringLiteral("Запись не прочитана: %1, строка 4: 3 полей, а в заголовке 9")
                  .arg(QDir::toNativeSeparators(bad)));
    const QString cut = QDir(dir.path()).filePath(QStringLiteral("cut.csv"));
    testing::writeFile(cut, csv.left(csv.size() - 20));
    RecordingView* shortened = opened(window, cut);
    ASSERT_TRUE(shortened->isLoaded());
    EXPECT_EQ(shortened->series()->size(), 2750u);
    EXPECT_TRUE(shortened->message().contains(
        QStringLiteral("строка 2752 оборвана (запись прервана?) и не прочитана")))
        << shortened->message().toStdString();
}
#endif

TEST(ReportDialogOfTheCompanion, OffersTheLastAnswersAgain) {
    QTemporaryDir dir;
    const QString settings = dir.filePath(ReportDialog::kFileName);
    {
        ReportDialog first(settings);
        EXPECT_TRUE(first.request().identification.engineer.isEmpty());
        EXPECT_FALSE(first.request().pdf);
        first.findChild<QLineEdit*>(QStringLiteral("edit_engineer"))
            ->setText(QStringLiteral("  Иванов И. И. "));
        first.findChild<QLineEdit*>(QStringLiteral("edit_set"))
            ->setText(QStringLiteral("АД-200С-Т400, зав. № 1234"));
        first.findChild<QPlainTextEdit*>(QStringLiteral("edit_note"))
            ->setPlainText(QStringLiteral("ясно; \"тихо\"\nвторая строка"));
        first.findChild<QComboBox*>(QStringLiteral("combo_format"))->setCurrentIndex(1);
        first.accept();
    }
    {
        ReportDialog cancelled(settings);
        cancelled.findChild<QLineEdit*>(QStringLiteral("edit_set"))->setText(QStringLiteral("X"));
        cancelled.reject();
    }
    ReportDialog again(settings);
    const ReportRequest r = again.request();
    EXPECT_EQ(r.identification.engineer, QStringLiteral("Иванов И. И."));
    EXPECT_EQ(r.identification.set, QStringLiteral("АД-200С-Т400, зав. № 1234"));
    EXPECT_EQ(r.identification.note, QStringLiteral("ясно; \"тихо\"\nвторая строка"));
    EXPECT_TRUE(r.pdf);
}

}  // namespace
}  // namespace torvix
