#include "ui/companion_window.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <variant>

#include "analysis/recording.h"
#include "analysis/transient_analysis.h"
#include "report/load_test_report.h"
#include "report/pdf_report.h"
#include "trends/traffic_model.h"
#include "ui/recording_view.h"
#include "ui/report_dialog.h"
#include "ui/trend_plot.h"

namespace torvix {
namespace {

using trends::kChannelCount;
using trends::kChannels;

// The reader thread's result: the recording and its analysis, or what the operator is told.
struct ReportInput {
    analysis::Recording recording;
    analysis::Analysis analysis;
    QString failure;
};

ReportInput readForReport(const QString& path) {
    ReportInput input;
    auto read = analysis::readRecordingFile(path);
    if (const auto* error = std::get_if<analysis::ReadError>(&read)) {
        input.failure =
            error->line == 0
                ? QStringLiteral("Отчёт не составлен: запись не открывается (%1).")
                      .arg(error->message)
                : QStringLiteral("Отчёт не составлен: запись не прочитана, строка %1: %2.")
                      .arg(error->line)
                      .arg(error->message);
        return input;
    }
    input.recording = std::move(std::get<analysis::Recording>(read));
    input.analysis = analysis::analyze(input.recording, analysis::RatedValues{});
    if (input.analysis.steps.empty())
        input.failure = QStringLiteral("Отчёт не составлен: в записи нет ступени нагрузки.");
    return input;
}

QString text(std::u16string_view s) {
    return QStringView(s).toString();
}

// The colour of a refusal's marker, for the recording's failures too.
constexpr QRgb kRefusedColour = 0xD01010;

const char16_t* const kSpanNames[] = {u"1 мин", u"10 мин", u"1 ч", u"весь опыт"};
constexpr int kDefaultSpan = 1;
constexpr int kTrafficRefreshMs = 250;

}  // namespace

CompanionWindow::CompanionWindow(trends::CompanionLog& log, QString recordingFolder,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), recordingFolder_(std::move(recordingFolder)) {
    setObjectName(QStringLiteral("frm_graphs"));
    setWindowTitle(kTitle);
    setAttribute(Qt::WA_QuitOnClose, false);

    tabs_ = new QTabWidget(this);
    tabs_->addTab(buildTrendsTab(), QStringLiteral("Графики"));
    tabs_->addTab(buildTrafficTab(), QStringLiteral("Обмен"));
    // Only a recording's tab closes; the live ones stay.
    tabs_->setTabsClosable(true);
    for (int i = 0; i < tabs_->count(); ++i)
        for (auto side : {QTabBar::LeftSide, QTabBar::RightSide})
            if (QWidget* close = tabs_->tabBar()->tabButton(i, side)) {
                close->hide();
                tabs_->tabBar()->setTabButton(i, side, nullptr);
            }
    connect(tabs_, &QTabWidget::tabCloseRequested, this, [this](int index) {
        if (auto* view = qobject_cast<RecordingView*>(tabs_->widget(index))) {
            tabs_->removeTab(index);
            view->deleteLater();
        }
    });
    setAcceptDrops(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(buildRecordingRow());
    resize(1100, 720);
    // What an operator opens the window for first; Space starts it.
    record_->setFocus();

    plotTimer_.setObjectName(QStringLiteral("plot_timer"));
    connect(&plotTimer_, &QTimer::timeout, this, [this] {
        // Nothing new while the line is down: nothing to draw.
        if (log_.series().lastTime() != drawnUpTo_ || log_.markers().added() != markersDrawn_)
            refresh();
    });
    trafficTimer_.setInterval(kTrafficRefreshMs);
    connect(&trafficTimer_, &QTimer::timeout, this, [this] {
        if (tabs_->currentIndex() == 1) refreshTraffic();
    });
    setSpan(kDefaultSpan);
}

CompanionWindow::~CompanionWindow() {
    if (reportReader_.joinable()) reportReader_.join();
}

QWidget* CompanionWindow::buildTrendsTab() {
    span_ = new QComboBox;
    span_->setObjectName(QStringLiteral("cmb_span"));
    for (const char16_t* name : kSpanNames) span_->addItem(text(name));
    connect(span_, &QComboBox::currentIndexChanged, this, &CompanionWindow::setSpan);
    follow_ = new QPushButton;
    follow_->setObjectName(QStringLiteral("cmd_follow"));
    connect(follow_, &QPushButton::clicked, this, [this] { setFollowing(!following_); });
    auto* open = new QPushButton(QStringLiteral("&Открыть запись..."));
    open->setObjectName(QStringLiteral("cmd_open_recording"));
    connect(open, &QPushButton::clicked, this, &CompanionWindow::openAsked);
    auto* save = new QPushButton(QStringLiteral("Сохранить картинку"));
    save->setObjectName(QStringLiteral("cmd_save_picture"));
    connect(save, &QPushButton::clicked, this, &CompanionWindow::saveAsked);
    auto* tools = new QHBoxLayout;
    auto* spanLabel = new QLabel(QStringLiteral("&Интервал:"));
    spanLabel->setBuddy(span_);
    tools->addWidget(spanLabel);
    tools->addWidget(span_);
    tools->addWidget(follow_);
    tools->addStretch(1);
    tools->addWidget(open);
    tools->addWidget(save);

    trends_ = new TrendPlot(tools);
    plot_ = trends_->plot();
    connect(trends_, &TrendPlot::channelToggled, this, [this] { refresh(); });
    connect(plot_, &QCustomPlot::mouseMove, this, &CompanionWindow::moveCursor);
    // Dragging or zooming is looking back: the plot stops following.
    connect(plot_, &QCustomPlot::mousePress, this, [this] { setFollowing(false); });
    connect(plot_, &QCustomPlot::mouseWheel, this, [this] { setFollowing(false); });
    return trends_;
}

QWidget* CompanionWindow::buildTrafficTab() {
    auto* tab = new QWidget;
    traffic_ = new trends::TrafficModel(log_.traffic(), this);
    trafficFilter_ = new QSortFilterProxyModel(this);
    trafficFilter_->setSourceModel(traffic_);
    trafficFilter_->setFilterRole(trends::TrafficModel::kErrorRole);

    trafficView_ = new QListView;
    trafficView_->setObjectName(QStringLiteral("lst_traffic"));
    trafficView_->setModel(trafficFilter_);
    trafficView_->setUniformItemSizes(true);
    trafficView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    trafficView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* copy =
        new QShortcut(QKeySequence::Copy, trafficView_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, &CompanionWindow::copyTraffic);

    auto* pause = new QCheckBox(QStringLiteral("Пауза"));
    pause->setObjectName(QStringLiteral("chk_traffic_pause"));
    connect(pause, &QCheckBox::toggled, this, [this](bool on) { log_.setTrafficPaused(on); });
    auto* errors = new QCheckBox(QStringLiteral("Только ошибки"));
    errors->setObjectName(QStringLiteral("chk_traffic_errors"));
    connect(errors, &QCheckBox::toggled, this, [this](bool on) {
        trafficFilter_->setFilterFixedString(on ? QStringLiteral("true") : QString());
    });
    auto* copyButton = new QPushButton(QStringLiteral("Копировать"));
    copyButton->setObjectName(QStringLiteral("cmd_traffic_copy"));
    connect(copyButton, &QPushButton::clicked, this, &CompanionWindow::copyTraffic);
    trafficCount_ = new QLabel;

    auto* tools = new QHBoxLayout;
    tools->addWidget(pause);
    tools->addWidget(errors);
    tools->addWidget(copyButton);
    tools->addStretch(1);
    tools->addWidget(trafficCount_);
    auto* layout = new QVBoxLayout(tab);
    layout->addLayout(tools);
    layout->addWidget(trafficView_, 1);
    return tab;
}

QWidget* CompanionWindow::buildRecordingRow() {
    auto* box = new QGroupBox(QStringLiteral("Запись"));
    record_ = new QPushButton;
    record_->setObjectName(QStringLiteral("cmd_record"));
    connect(record_, &QPushButton::clicked, this, &CompanionWindow::toggleRecording);
    recordFile_ = new QLabel;
    recordFile_->setObjectName(QStringLiteral("lbl_record_file"));
    recordFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    recordCount_ = new QLabel;
    recordCount_->setObjectName(QStringLiteral("lbl_record_count"));
    report_ = new QPushButton(QStringLiteral("Отчёт"));
    report_->setObjectName(QStringLiteral("cmd_report"));
    connect(report_, &QPushButton::clicked, this, &CompanionWindow::makeReport);
    openReport_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    // The last answers are kept beside тп.ini, whose own lines the window does not touch.
    askReport_ = [this] {
        return askForReport(QFileInfo(recordingFolder_).dir().filePath(ReportDialog::kFileName),
                            this);
    };
    recordMessage_ = new QLabel;
    recordMessage_->setObjectName(QStringLiteral("lbl_record_message"));
    recordMessage_->setWordWrap(true);
    QPalette red = recordMessage_->palette();
    red.setColor(QPalette::WindowText, QColor(kRefusedColour));
    recordMessage_->setPalette(red);
    markText_ = new QLineEdit;
    markText_->setObjectName(QStringLiteral("txt_mark"));
    markText_->setAccessibleName(QStringLiteral("Метка"));
    auto* markButton = new QPushButton(QStringLiteral("Добавить метку"));
    markButton->setObjectName(QStringLiteral("cmd_mark"));
    connect(markButton, &QPushButton::clicked, this, &CompanionWindow::addMark);
    connect(markText_, &QLineEdit::returnPressed, this, &CompanionWindow::addMark);

    auto* row = new QHBoxLayout;
    row->addWidget(record_);
    row->addWidget(recordFile_, 1);
    row->addWidget(recordCount_);
    row->addWidget(report_);
    row->addSpacing(12);
    auto* markLabel = new QLabel(QStringLiteral("&Метка:"));
    markLabel->setBuddy(markText_);
    row->addWidget(markLabel);
    row->addWidget(markText_);
    row->addWidget(markButton);
    auto* layout = new QVBoxLayout(box);
    layout->addLayout(row);
    layout->addWidget(recordMessage_);
    recordMessage_->hide();

    connect(&log_, &trends::CompanionLog::recordingChanged, this, &CompanionWindow::showRecording);
    connect(&log_, &trends::CompanionLog::recordingFailed, this, &CompanionWindow::tell);
    showRecording();
    return box;
}

void CompanionWindow::toggleRecording() {
    if (log_.recording().isActive()) {
        log_.stopRecording();
        return;
    }
    recordMessage_->hide();
    if (const auto failure = log_.startRecording(recordingFolder_)) tell(*failure);
}

void CompanionWindow::addMark() {
    const QString mark = markText_->text().trimmed();
    if (mark.isEmpty()) return;
    log_.mark(mark);
    markText_->clear();
    refresh();
}

void CompanionWindow::showRecording() {
    const trends::RecordingSession& recording = log_.recording();
    record_->setText(recording.isActive() ? QStringLiteral("Остановить запись")
                                          : QStringLiteral("Начать запись"));
    recordFile_->setText(recording.path().isEmpty() ? QString()
                                                    : QDir::toNativeSeparators(recording.path()));
    recordCount_->setText(recording.path().isEmpty()
                              ? QString()
                              : QStringLiteral("Записей: %1").arg(recording.records()));
    report_->setEnabled(!recording.path().isEmpty() && !reportReader_.joinable());
}

void CompanionWindow::setReportOpener(std::function<void(const QUrl&)> opener) {
    openReport_ = std::move(opener);
}

void CompanionWindow::setReportAsker(std::function<std::optional<ReportRequest>()> asker) {
    askReport_ = std::move(asker);
}

void CompanionWindow::makeReport() {
    const QString path = log_.recording().path();
    if (path.isEmpty() || reportReader_.joinable()) return;
    const std::optional<ReportRequest> request = askReport_();
    if (!request) return;
    const QString html = log_.recording().reportPath();
    const QString report =
        request->pdf ? html.left(html.lastIndexOf(u'.')) + QStringLiteral(".pdf") : html;
    recordMessage_->hide();
    report_->setEnabled(false);
    // An hour's recording takes a while to read; the plots, though, are drawn on this thread.
    reportReader_ = std::thread([this, path, report, request] {
        auto input = std::make_shared<ReportInput>(readForReport(path));
        QMetaObject::invokeMethod(
            this,
            [this, input, report, request] {
                reportReader_.join();
                showRecording();
                if (!input->failure.isEmpty()) {
                    tell(input->failure);
                    return;
                }
                const auto write = request->pdf ? report::writePdf : report::writeReport;
                const QString failure =
                    write(input->analysis, input->recording, request->identification, report);
                if (!failure.isEmpty()) {
                    tell(QStringLiteral("Отчёт не записан: %1").arg(failure));
                    return;
                }
                openReport_(QUrl::fromLocalFile(report));
            },
            Qt::QueuedConnection);
    });
}

void CompanionWindow::tell(const QString& message) {
    // In the window, not in a modal box: the poll goes on and nothing waits for a click.
    recordMessage_->setText(message);
    recordMessage_->show();
    showRecording();
}

void CompanionWindow::refreshTraffic() {
    QScrollBar* bar = trafficView_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    traffic_->refresh();
    trafficCount_->setText(QStringLiteral("Кадров: %1").arg(traffic_->rowCount()));
    if (atEnd) trafficView_->scrollToBottom();
}

void CompanionWindow::copyTraffic() {
    // The selected lines, or every line shown when none is selected.
    QModelIndexList rows = trafficView_->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        for (int r = 0; r < trafficFilter_->rowCount(); ++r) rows << trafficFilter_->index(r, 0);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& row : rows) lines << row.data().toString();
    QApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

void CompanionWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    restartTimer();
    trafficTimer_.start();
}

void CompanionWindow::hideEvent(QHideEvent* event) {
    // Closed, the window costs nothing: the log gathers on, nothing is drawn.
    plotTimer_.stop();
    trafficTimer_.stop();
    QWidget::hideEvent(event);
}

void CompanionWindow::restartTimer() {
    // About one refresh a pixel's worth of time, and no faster than the samples come.
    const int span = kSpanSeconds[static_cast<std::size_t>(std::max(0, span_->currentIndex()))];
    plotTimer_.setInterval(span == 0 ? 2000 : std::clamp(span * 1000 / 600, 200, 2000));
    if (isVisible()) plotTimer_.start();
}

void CompanionWindow::setSpan(int index) {
    if (index < 0 || index >= static_cast<int>(kSpanSeconds.size())) return;
    if (span_->currentIndex() != index) span_->setCurrentIndex(index);  // calls back
    setFollowing(true);
    restartTimer();
}

void CompanionWindow::setFollowing(bool following) {
    following_ = following;
    follow_->setText(following ? QStringLiteral("Пауза") : QStringLiteral("Следить"));
    if (following) refresh();
}

void CompanionWindow::setChannelShown(std::size_t channel, bool shown) {
    trends_->setChannelShown(channel, shown);
}

std::pair<double, double> CompanionWindow::timeRange() const {
    return trends_->timeRange();
}

void CompanionWindow::refresh() {
    const trends::SeriesStore& store = log_.series();
    if (following_ && !store.empty()) {
        const int span = kSpanSeconds[static_cast<std::size_t>(span_->currentIndex())];
        // A mark made since the last sample shows at once.
        const auto& markers = log_.markers().all();
        const double last =
            markers.empty() ? store.lastTime() : std::max(store.lastTime(), markers.back().time);
        const double first = span == 0 ? store.firstTime() : last - span;
        trends_->setTimeRange(first, std::max(last, first + 1));
    }
    drawnUpTo_ = store.lastTime();
    trends_->draw([&store](std::size_t c, double from, double to, QVector<double>& keys,
                           QVector<double>& values) { store.points(c, from, to, keys, values); });
    drawMarkers();
}

void CompanionWindow::drawMarkers() {
    const auto range = timeRange();
    if (markersDrawn_ == log_.markers().added() && markersRange_ == range) return;
    markersDrawn_ = log_.markers().added();
    markersRange_ = range;
    trends_->drawMarkers(log_.markers().all());
}

QString CompanionWindow::cursorText(double time) const {
    const auto reading = log_.series().readingAt(time);
    return reading ? trends_->readingText(*reading) : QString();
}

void CompanionWindow::moveCursor(QMouseEvent* event) {
    const double time = trends_->timeAxis()->pixelToCoord(event->position().x());
    const QString shown = cursorText(time);
    trends_->showCursor(0, shown.isEmpty() ? std::nullopt : std::optional(time));
    trends_->setCursorText(shown);
}

RecordingView* CompanionWindow::openRecording(const QString& path) {
    const QString canonical = QFileInfo(path).absoluteFilePath();
    for (int i = 0; i < tabs_->count(); ++i) {
        auto* view = qobject_cast<RecordingView*>(tabs_->widget(i));
        if (view && view->path() == canonical) {
            tabs_->setCurrentIndex(i);
            return view;
        }
    }
    auto* view = new RecordingView(canonical);
    view->setReportOpener([this](const QUrl& url) { openReport_(url); });
    view->setReportAsker([this] { return askReport_(); });
    const int index = tabs_->addTab(view, QFileInfo(canonical).fileName());
    tabs_->setTabToolTip(index, QDir::toNativeSeparators(canonical));
    tabs_->setCurrentIndex(index);
    return view;
}

void CompanionWindow::openAsked() {
    const QString folder = QDir(recordingFolder_).exists() ? recordingFolder_ : QDir::homePath();
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Открыть запись"), folder,
                                      QStringLiteral("Записи (*.csv *.jsonl);;Все файлы (*)"));
    for (const QString& path : paths) openRecording(path);
}

namespace {

// The recordings among dropped files: CSV or JSON lines on the local disk.
QStringList droppedRecordings(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        const QString path = url.toLocalFile();
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (!path.isEmpty() && (suffix == u"csv" || suffix == u"jsonl")) paths << path;
    }
    return paths;
}

}  // namespace

void CompanionWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedRecordings(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CompanionWindow::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedRecordings(event->mimeData());
    for (const QString& path : paths) openRecording(path);
    if (!paths.isEmpty()) event->acceptProposedAction();
}

bool CompanionWindow::savePicture(const QString& path) {
    return plot_->savePng(path);
}

void CompanionWindow::saveAsked() {
    const QString name =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) +
        QStringLiteral(".png");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить картинку"),
                                                      name, QStringLiteral("Картинки PNG (*.png)"));
    if (path.isEmpty()) return;
    if (!savePicture(path))
        QMessageBox::warning(this, kTitle,
                             QStringLiteral("Не удалось сохранить картинку в файл %1").arg(path));
}

}  // namespace torvix
