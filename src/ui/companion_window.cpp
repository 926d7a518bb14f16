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
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSortFilterProxyModel>
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
#include "ui/report_dialog.h"

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

// Where each unit is drawn: three panels over one time axis, amperes and kilowatts sharing
// the last, on either side.
struct UnitAxis {
    std::u16string_view unit;
    int panel;
    bool right;
};
constexpr UnitAxis kUnitAxes[] = {
    {u"В", 0, false}, {u"Гц", 1, false}, {u"А", 2, false}, {u"кВт", 2, true}};
constexpr int kPanels = 3;

const UnitAxis& unitAxisOf(const trends::Channel& channel) {
    for (const auto& axis : kUnitAxes)
        if (axis.unit == trends::unitOf(channel)) return axis;
    return kUnitAxes[0];
}

constexpr QRgb kAnsweredColour = 0x1E8C1E;
constexpr QRgb kRefusedColour = 0xD01010;
constexpr QRgb kMarkColour = 0x1F5FD0;
constexpr int kMostMarkersDrawn = 200;

const char16_t* const kSpanNames[] = {u"1 мин", u"10 мин", u"1 ч", u"весь опыт"};
constexpr int kDefaultSpan = 1;
constexpr int kTrafficRefreshMs = 250;

QString valueText(const QLocale& locale, double value, int decimals) {
    return locale.toString(value, 'f', decimals);
}

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
    auto* tab = new QWidget;
    auto* channels = new QVBoxLayout;
    for (const auto& axis : kUnitAxes) {
        auto* group = new QGroupBox(text(axis.unit));
        auto* list = new QVBoxLayout(group);
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (trends::unitOf(kChannels[c]) != axis.unit) continue;
            auto* box = new QCheckBox(text(kChannels[c].name));
            box->setObjectName(QStringLiteral("chk_channel"));
            box->setProperty("index", static_cast<int>(c));
            box->setChecked(true);
            QPalette palette = box->palette();
            palette.setColor(QPalette::WindowText, QColor(QRgb(kChannels[c].colour)));
            box->setPalette(palette);
            connect(box, &QCheckBox::toggled, this, [this, c](bool on) { setChannelShown(c, on); });
            channelBoxes_[c] = box;
            list->addWidget(box);
        }
        channels->addWidget(group);
    }
    channels->addStretch(1);

    span_ = new QComboBox;
    span_->setObjectName(QStringLiteral("cmb_span"));
    for (const char16_t* name : kSpanNames) span_->addItem(text(name));
    connect(span_, &QComboBox::currentIndexChanged, this, &CompanionWindow::setSpan);
    follow_ = new QPushButton;
    follow_->setObjectName(QStringLiteral("cmd_follow"));
    connect(follow_, &QPushButton::clicked, this, [this] { setFollowing(!following_); });
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
    tools->addWidget(save);

    plot_ = new QCustomPlot;
    plot_->setObjectName(QStringLiteral("plot_trends"));
    plot_->setNotAntialiasedElements(QCP::aeAll);  // five replots a second stay cheap
    plot_->plotLayout()->clear();
    auto* margins = new QCPMarginGroup(plot_);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    for (int p = 0; p < kPanels; ++p) {
        auto* rect = new QCPAxisRect(plot_);
        plot_->plotLayout()->addElement(p, 0, rect);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        rect->axis(QCPAxis::atBottom)->setTicker(ticker);
        rect->axis(QCPAxis::atBottom)->setTickLabels(p == kPanels - 1);
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        panels_.push_back(rect);
    }
    for (const auto& axis : kUnitAxes) {
        QCPAxis* valueAxis =
            panels_[axis.panel]->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft);
        valueAxis->setVisible(true);
        valueAxis->setLabel(text(axis.unit));
    }
    // One time axis: the panels follow whichever was dragged.
    for (QCPAxisRect* rect : panels_) {
        connect(rect->axis(QCPAxis::atBottom), qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
                this, [this](const QCPRange& range) {
                    for (QCPAxisRect* other : panels_)
                        if (other->axis(QCPAxis::atBottom)->range() != range)
                            other->axis(QCPAxis::atBottom)->setRange(range);
                });
    }
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        const UnitAxis& axis = unitAxisOf(kChannels[c]);
        QCPAxisRect* rect = panels_[axis.panel];
        QCPGraph* graph =
            plot_->addGraph(rect->axis(QCPAxis::atBottom),
                            rect->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft));
        graph->setName(text(kChannels[c].name));
        graph->setPen(QPen(QColor(QRgb(kChannels[c].colour)), 1.5));
        graphs_[c] = graph;
    }
    for (QCPAxisRect* rect : panels_) {
        auto* line = new QCPItemStraightLine(plot_);
        line->setClipAxisRect(rect);
        line->point1->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        line->point2->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        line->setPen(QPen(Qt::gray, 1, Qt::DashLine));
        line->setVisible(false);
        cursorLines_.push_back(line);
    }
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    connect(plot_, &QCustomPlot::mouseMove, this, &CompanionWindow::moveCursor);
    // Dragging or zooming is looking back: the plot stops following.
    connect(plot_, &QCustomPlot::mousePress, this, [this] { setFollowing(false); });
    connect(plot_, &QCustomPlot::mouseWheel, this, [this] { setFollowing(false); });

    cursorLabel_ = new QLabel;
    cursorLabel_->setObjectName(QStringLiteral("lbl_cursor"));
    cursorLabel_->setWordWrap(true);
    cursorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cursorLabel_->setMinimumHeight(2 * fontMetrics().height() + 4);

    auto* right = new QVBoxLayout;
    right->addLayout(tools);
    right->addWidget(plot_, 1);
    right->addWidget(cursorLabel_);
    auto* layout = new QHBoxLayout(tab);
    layout->addLayout(channels);
    layout->addLayout(right, 1);
    return tab;
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
    if (channel >= kChannelCount) return;
    if (channelBoxes_[channel]->isChecked() != shown) channelBoxes_[channel]->setChecked(shown);
    graphs_[channel]->setVisible(shown);
    refresh();
}

std::pair<double, double> CompanionWindow::timeRange() const {
    const QCPRange range = panels_.front()->axis(QCPAxis::atBottom)->range();
    return {range.lower, range.upper};
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
        panels_.front()->axis(QCPAxis::atBottom)->setRange(first, std::max(last, first + 1));
    }
    drawnUpTo_ = store.lastTime();
    const auto [from, to] = timeRange();
    QVector<double> keys;
    QVector<double> values;
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!graphs_[c]->visible()) continue;
        keys.clear();
        values.clear();
        store.points(c, from, to, keys, values);
        graphs_[c]->setData(keys, values, true);
    }
    for (const auto& axis : kUnitAxes) {
        QCPAxis* valueAxis =
            panels_[axis.panel]->axis(axis.right ? QCPAxis::atRight : QCPAxis::atLeft);
        bool found = false;
        QCPRange span;
        for (std::size_t c = 0; c < kChannelCount; ++c) {
            if (!graphs_[c]->visible() || graphs_[c]->valueAxis() != valueAxis) continue;
            bool ok = false;
            const QCPRange range = graphs_[c]->getValueRange(ok, QCP::sdBoth, QCPRange(from, to));
            if (!ok) continue;
            span = found ? QCPRange(std::min(span.lower, range.lower),
                                    std::max(span.upper, range.upper))
                         : range;
            found = true;
        }
        if (!found) continue;
        const double margin = std::max((span.upper - span.lower) * 0.08, 0.5);
        valueAxis->setRange(span.lower - margin, span.upper + margin);
    }
    drawMarkers(from, to);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void CompanionWindow::drawMarkers(double from, double to) {
    if (markersDrawn_ == log_.markers().added() && markersRange_ == std::pair{from, to}) return;
    markersDrawn_ = log_.markers().added();
    markersRange_ = {from, to};
    for (int i = plot_->itemCount() - 1; i >= 0; --i) {
        QCPAbstractItem* item = plot_->item(i);
        if (item->property("marker").toBool()) plot_->removeItem(item);
    }
    const auto& markers = log_.markers().all();
    // A label lies along its line, one text line wide. Lines closer than that (a busy
    // refusal and the answer a tick later) put their labels in different panels, newest at
    // the top, so that each stays readable.
    const double labelWidth = QFontMetricsF(plot_->font()).height() + 2;
    std::vector<double> lastLabelAt(panels_.size(), -std::numeric_limits<double>::infinity());
    const QCPAxis* timeAxis = panels_.front()->axis(QCPAxis::atBottom);
    int drawn = 0;
    for (auto it = markers.rbegin(); it != markers.rend() && drawn < kMostMarkersDrawn; ++it) {
        if (it->time < from || it->time > to) continue;
        ++drawn;
        const QColor colour(it->kind == trends::Marker::Kind::Answered  ? kAnsweredColour
                            : it->kind == trends::Marker::Kind::Refused ? kRefusedColour
                                                                        : kMarkColour);
        for (QCPAxisRect* rect : panels_) {
            auto* line = new QCPItemStraightLine(plot_);
            line->setProperty("marker", true);
            line->setClipAxisRect(rect);
            for (QCPItemPosition* point : {line->point1, line->point2})
                point->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            line->point1->setCoords(it->time, 0);
            line->point2->setCoords(it->time, 1);
            line->setPen(QPen(
                colour, 1, it->kind == trends::Marker::Kind::Mark ? Qt::DashLine : Qt::SolidLine));
        }
        // With every panel taken there, the line stays without its text: a shorter interval
        // spreads the lines and shows it, where an overlap would show nothing legible.
        const double x = timeAxis->coordToPixel(it->time);
        const auto lane = std::find_if(lastLabelAt.begin(), lastLabelAt.end(),
                                       [&](double at) { return std::fabs(at - x) >= labelWidth; });
        if (lane == lastLabelAt.end()) continue;
        *lane = x;
        auto* label = new QCPItemText(plot_);
        label->setProperty("marker", true);
        QCPAxisRect* panel = panels_[static_cast<std::size_t>(lane - lastLabelAt.begin())];
        label->setClipAxisRect(panel);
        label->position->setAxisRect(panel);
        label->position->setAxes(panel->axis(QCPAxis::atBottom), panel->axis(QCPAxis::atLeft));
        label->position->setTypeX(QCPItemPosition::ptPlotCoords);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        // Read upwards from the panel's foot: a text longer than the panel loses its end, never
        // the command's name.
        label->position->setCoords(it->time, 0.98);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
        label->setRotation(-90);
        label->setColor(colour);
        label->setText(it->text);
        label->setObjectName(QStringLiteral("marker"));
    }
}

QString CompanionWindow::cursorText(double time) const {
    const auto reading = log_.series().readingAt(time);
    if (!reading) return {};
    const QLocale locale(QLocale::Russian);
    const QDateTime at =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(reading->time * 1000)));
    QStringList parts{at.toString(QStringLiteral("HH:mm:ss.zzz"))};
    for (std::size_t c = 0; c < kChannelCount; ++c) {
        if (!graphs_[c]->visible()) continue;
        const int decimals = trends::fieldOf(kChannels[c]).decimals;
        QString value = valueText(locale, reading->low[c], decimals);
        if (reading->high[c] != reading->low[c])
            value += u'…' + valueText(locale, reading->high[c], decimals);
        parts << QStringLiteral("%1 %2 %3")
                     .arg(text(kChannels[c].name), value, text(trends::unitOf(kChannels[c])));
    }
    return parts.join(QStringLiteral("; "));
}

void CompanionWindow::moveCursor(QMouseEvent* event) {
    const double time =
        panels_.front()->axis(QCPAxis::atBottom)->pixelToCoord(event->position().x());
    const QString shown = cursorText(time);
    for (QCPItemStraightLine* line : cursorLines_) {
        line->point1->setCoords(time, 0);
        line->point2->setCoords(time, 1);
        line->setVisible(!shown.isEmpty());
    }
    cursorLabel_->setText(shown);
    plot_->replot(QCustomPlot::rpQueuedReplot);
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
