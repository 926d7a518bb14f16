#include "ui/recording_view.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimeZone>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "analysis/transient_analysis.h"
#include "record/event_text.h"
#include "report/load_test_report.h"
#include "report/pdf_report.h"
#include "ui/report_dialog.h"
#include "ui/trend_plot.h"

namespace torvix {

using trends::kChannelCount;
using trends::kChannels;

struct RecordingView::Loaded {
    analysis::Recording recording;
    trends::RecordedSeries series;
};

namespace {

QString failureText(const QString& path, const analysis::ReadError& error) {
    return error.line > 0 ? QStringLiteral("Запись не прочитана: %1, строка %2: %3")
                                .arg(QDir::toNativeSeparators(path))
                                .arg(error.line)
                                .arg(error.message)
                          : QStringLiteral("Запись не открывается: %1").arg(error.message);
}

// What the reader makes of a file: the recording with a channel per column, or the failure
// told as `analyze` tells it.
std::variant<std::shared_ptr<RecordingView::Loaded>, QString> readWhole(
    const QString& path, const std::function<void(double)>& progress) {
    analysis::ReadOptions options;
    for (const trends::Channel& channel : kChannels) {
        const std::string_view key = trends::fieldOf(channel).key;
        options.columns.emplace_back(key.data(), static_cast<qsizetype>(key.size()));
    }
    options.progress = progress;
    auto read = analysis::readRecordingFile(path, options);
    if (const auto* error = std::get_if<analysis::ReadError>(&read))
        return failureText(path, *error);
    auto loaded = std::make_shared<RecordingView::Loaded>();
    loaded->recording = std::get<analysis::Recording>(std::move(read));
    analysis::Recording& recording = loaded->recording;
    // The records' own instants; the axis shows them in the recording's offset.
    const double start = static_cast<double>(recording.start.toMSecsSinceEpoch()) / 1000.0;
    std::vector<double> times(recording.timeS.size());
    for (std::size_t i = 0; i < times.size(); ++i) times[i] = start + recording.timeS[i];
    std::array<trends::RecordedSeries::Column, kChannelCount> columns;
    for (std::size_t c = 0; c < kChannelCount; ++c) columns[c] = std::move(recording.columns[c]);
    recording.columns.clear();
    loaded->series = trends::RecordedSeries(std::move(times), std::move(columns));
    return loaded;
}

}  // namespace

RecordingView::RecordingView(QString path, QWidget* parent)
    : QWidget(parent), path_(std::move(path)) {
    setObjectName(QStringLiteral("recording_view"));
    auto* whole = new QPushButton(QStringLiteral("весь опыт"));
    whole->setObjectName(QStringLiteral("cmd_whole"));
    connect(whole, &QPushButton::clicked, this, &RecordingView::showWhole);
    auto* second = new QPushButton(QStringLiteral("Второй курсор"));
    second->setObjectName(QStringLiteral("cmd_second_cursor"));
    second->setToolTip(
        QStringLiteral("Щелчок ставит курсор, Shift+щелчок — второй; колесо и "
                       "рамка с Ctrl (или правой кнопкой) — масштаб"));
    connect(second, &QPushButton::clicked, this, [this] {
        if (cursors_[1]) {
            setCursor(1, std::nullopt);
            return;
        }
        const auto [from, to] = trends_->timeRange();
        setCursor(1, cursors_[0] ? cursors_[0] : hover_ ? hover_ : std::optional((from + to) / 2));
    });
    sections_ = new QComboBox;
    sections_->setObjectName(QStringLiteral("cmb_section"));
    sections_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(sections_, &QComboBox::currentIndexChanged, this, &RecordingView::chooseSection);
    auto* save = new QPushButton(QStringLiteral("Сохранить участок"));
    save->setObjectName(QStringLiteral("cmd_save_section"));
    connect(save, &QPushButton::clicked, this,
            [this] { saveAsked(analysis::SectionFormat::AsRecorded); });
    auto* excel = new QPushButton(QStringLiteral("для Excel"));
    excel->setObjectName(QStringLiteral("cmd_save_excel"));
    connect(excel, &QPushButton::clicked, this,
            [this] { saveAsked(analysis::SectionFormat::Excel); });
    auto* report = new QPushButton(QStringLiteral("Отчёт"));
    report->setObjectName(QStringLiteral("cmd_section_report"));
    connect(report, &QPushButton::clicked, this, [this] {
        if (const QString failure = makeReport(); !failure.isEmpty()) tell(failure);
    });
    actions_ = {whole, second, save, excel, report};

    auto* tools = new QHBoxLayout;
    tools->addWidget(whole);
    tools->addWidget(second);
    tools->addStretch(1);
    auto* sectionLabel = new QLabel(QStringLiteral("&Участок:"));
    sectionLabel->setBuddy(sections_);
    tools->addWidget(sectionLabel);
    tools->addWidget(sections_);
    tools->addWidget(save);
    tools->addWidget(excel);
    tools->addWidget(report);

    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("bar_reading"));
    progress_->setRange(0, 100);
    progress_->setFormat(QStringLiteral("Чтение %1: %p%").arg(QFileInfo(path_).fileName()));
    message_ = new QLabel;
    message_->setObjectName(QStringLiteral("lbl_recording_message"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    trends_ = new TrendPlot(tools);
    // Hours of records fill every pixel column: thin lines, drawn twice as fast.
    trends_->setLineWidth(1);
    for (QPushButton* action : actions_) action->setEnabled(false);
    sections_->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress_);
    layout->addWidget(message_);
    layout->addWidget(trends_, 1);

    QCustomPlot* plot = trends_->plot();
    connect(trends_->timeAxis(), qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            &RecordingView::redraw);
    connect(trends_, &TrendPlot::channelToggled, this, [this] {
        redraw();
        showCursors();
    });
    connect(plot, &QCustomPlot::mousePress, this, &RecordingView::mousePressed);
    connect(plot, &QCustomPlot::mouseRelease, this, &RecordingView::mouseReleased);
    connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        if (!isLoaded() || cursors_[0]) return;
        hover_ = trends_->timeAxis()->pixelToCoord(event->position().x());
        showCursors();
    });
    read();
}

RecordingView::~RecordingView() {
    if (reader_.joinable()) reader_.join();
}

void RecordingView::read() {
    // Hours of records take a while: the live trends and the link go on meanwhile.
    reader_ = std::thread([this] {
        auto result = readWhole(path_, [this](double share) {
            QMetaObject::invokeMethod(
                this, [this, share] { progress_->setValue(static_cast<int>(share * 100)); },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this,
            [this, result = std::move(result)] {
                reader_.join();
                progress_->hide();
                if (const auto* failure = std::get_if<QString>(&result)) {
                    tell(*failure);
                    emit failed(*failure);
                    return;
                }
                take(std::get<std::shared_ptr<Loaded>>(result));
            },
            Qt::QueuedConnection);
    });
}

void RecordingView::take(std::shared_ptr<Loaded> result) {
    loaded_ = std::move(result);
    const analysis::Recording& recording = loaded_->recording;
    const trends::RecordedSeries& series = loaded_->series;
    trends_->setTimeZone(QTimeZone(recording.start.offsetFromUtc()));
    std::vector<std::pair<double, QString>> events;
    for (const analysis::Recording::Event& event : recording.events)
        events.emplace_back(series.time(event.row), event.text);
    for (trends::Marker& marker : trends::markersOfEvents(events)) markers_.add(std::move(marker));
    std::vector<std::size_t> markRows;
    QStringList markNames;
    for (const analysis::Recording::Event& event : recording.events) {
        if (auto mark = record::markOf(event.text)) {
            markRows.push_back(event.row);
            markNames << *mark;
        }
    }
    sections_->blockSignals(true);
    sections_->addItem(QStringLiteral("между курсорами"));
    for (std::size_t i = 0; i < markRows.size(); ++i) {
        const bool last = i + 1 == markRows.size();
        markSections_.emplace_back(markRows[i], last ? recording.size() - 1 : markRows[i + 1]);
        sections_->addItem(last ? QStringLiteral("«%1» — конец").arg(markNames[qsizetype(i)])
                                : QStringLiteral("«%1» — «%2»")
                                      .arg(markNames[qsizetype(i)], markNames[qsizetype(i + 1)]));
    }
    sections_->blockSignals(false);
    sections_->setEnabled(true);
    for (QPushButton* action : actions_) action->setEnabled(true);

    QStringList notes{QStringLiteral("%1: записей %2, %3 — %4")
                          .arg(QDir::toNativeSeparators(path_))
                          .arg(recording.size())
                          .arg(recording.start.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                               trends_->timeText(series.lastTime()))};
    notes << recording.warnings;
    tell(notes.join(u'\n'));
    showWhole();
    emit loaded();
}

QString RecordingView::message() const {
    return message_->text();
}

void RecordingView::tell(const QString& message) {
    message_->setText(message);
}

const trends::RecordedSeries* RecordingView::series() const {
    return loaded_ ? &loaded_->series : nullptr;
}

const analysis::Recording* RecordingView::recording() const {
    return loaded_ ? &loaded_->recording : nullptr;
}

void RecordingView::showWhole() {
    if (!loaded_) return;
    const auto& series = loaded_->series;
    trends_->setTimeRange(series.firstTime(), std::max(series.lastTime(), series.firstTime() + 1));
    redraw();
}

void RecordingView::redraw() {
    if (!loaded_) return;
    const trends::RecordedSeries& series = loaded_->series;
    // Two points a pixel column at most: an hour of records draws as fast as a minute.
    const int pixels = std::max(trends_->timeAxis()->axisRect()->width(), 100);
    trends_->draw([&series, pixels](std::size_t c, double from, double to, QVector<double>& keys,
                                    QVector<double>& values) {
        series.points(c, from, to, pixels, keys, values);
    });
    trends_->drawMarkers(markers_.all());
}

void RecordingView::setCursor(int index, std::optional<double> time) {
    if (!loaded_ || index < 0 || index > 1) return;
    if (time) {
        const auto row = loaded_->series.rowAt(*time);
        time = row ? std::optional(loaded_->series.time(*row)) : std::nullopt;
    }
    cursors_[static_cast<std::size_t>(index)] = time;
    showCursors();
}

void RecordingView::showCursors() {
    if (!loaded_) return;
    const trends::RecordedSeries& series = loaded_->series;
    const std::optional<double> first = cursors_[0] ? cursors_[0] : hover_;
    const auto a = first ? series.readingAt(*first) : std::nullopt;
    const auto b = cursors_[1] ? series.readingAt(*cursors_[1]) : std::nullopt;
    trends_->showCursor(0, a ? std::optional(a->time) : std::nullopt);
    trends_->showCursor(1, b ? std::optional(b->time) : std::nullopt);
    QStringList lines;
    if (a) lines << trends_->readingText(*a);
    if (b) lines << QStringLiteral("2: ") + trends_->readingText(*b);
    if (a && b) lines << trends_->differenceText(*a, *b);
    trends_->setCursorText(lines.join(u'\n'));
}

void RecordingView::mousePressed(QMouseEvent* event) {
    pressedAt_ = event->position().toPoint();
    // A box with Ctrl or the right button zooms; a plain drag pans.
    const bool box =
        event->button() == Qt::RightButton || (event->modifiers() & Qt::ControlModifier);
    trends_->plot()->setSelectionRectMode(box ? QCP::srmZoom : QCP::srmNone);
}

void RecordingView::mouseReleased(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton ||
        (event->position().toPoint() - pressedAt_).manhattanLength() > 3)
        return;
    const double time = trends_->timeAxis()->pixelToCoord(event->position().x());
    setCursor(event->modifiers() & Qt::ShiftModifier ? 1 : 0, time);
}

QStringList RecordingView::sectionChoices() const {
    QStringList choices;
    for (int i = 0; i < sections_->count(); ++i) choices << sections_->itemText(i);
    return choices;
}

void RecordingView::chooseSection(int index) {
    if (index < 0 || index >= sections_->count()) return;
    section_ = index;
    if (sections_->currentIndex() != index) sections_->setCurrentIndex(index);
}

std::optional<analysis::RowRange> RecordingView::selectedRows() const {
    if (!loaded_) return std::nullopt;
    if (section_ > 0) {
        const auto& [first, last] = markSections_[static_cast<std::size_t>(section_ - 1)];
        return analysis::RowRange{first, last};
    }
    if (!cursors_[0] || !cursors_[1]) return std::nullopt;
    const double zero = loaded_->series.firstTime();
    const auto rows =
        analysis::sectionBetween(loaded_->recording, *cursors_[0] - zero, *cursors_[1] - zero);
    if (const auto* range = std::get_if<analysis::RowRange>(&rows)) return *range;
    return std::nullopt;
}

QString RecordingView::saveSection(const QString& outputPath,
                                   analysis::SectionFormat format) const {
    const auto rows = selectedRows();
    if (!rows)
        return QStringLiteral(
            "Участок не выбран: поставьте два курсора (щелчок и Shift+щелчок) "
            "или выберите участок между метками.");
    const QString failure =
        analysis::writeSection(loaded_->recording, path_, *rows, format, outputPath);
    return failure.isEmpty() ? QString() : QStringLiteral("Участок не записан: %1").arg(failure);
}

void RecordingView::saveAsked(analysis::SectionFormat format) {
    if (!selectedRows()) {
        tell(saveSection({}, format));
        return;
    }
    const QFileInfo source(path_);
    const bool excel = format == analysis::SectionFormat::Excel;
    const QString suffix = excel ? QStringLiteral("csv") : source.suffix();
    const QString suggested = source.dir().filePath(
        source.completeBaseName() +
        (excel ? QStringLiteral("_excel.") : QStringLiteral("_участок.")) + suffix);
    const QString output = QFileDialog::getSaveFileName(
        this, excel ? QStringLiteral("Участок для Excel") : QStringLiteral("Сохранить участок"),
        suggested, QStringLiteral("Записи (*.%1)").arg(suffix));
    if (output.isEmpty()) return;
    const QString failure = saveSection(output, format);
    tell(failure.isEmpty()
             ? QStringLiteral("Участок записан: %1").arg(QDir::toNativeSeparators(output))
             : failure);
}

void RecordingView::setReportOpener(std::function<void(const QUrl&)> opener) {
    openReport_ = std::move(opener);
}

void RecordingView::setReportAsker(std::function<std::optional<ReportRequest>()> asker) {
    askReport_ = std::move(asker);
}

QString RecordingView::makeReport() {
    if (!loaded_) return {};
    const analysis::Recording& whole = loaded_->recording;
    const auto rows = selectedRows();
    const analysis::Recording recording =
        rows ? analysis::sliceRecording(whole, *rows)
             : analysis::sliceRecording(whole, {0, whole.size() - 1});
    const analysis::Analysis analysis = analysis::analyze(recording, analysis::RatedValues{});
    if (analysis.steps.empty())
        return QStringLiteral("Отчёт не составлен: в %1 нет ступени нагрузки.")
            .arg(rows ? QStringLiteral("участке") : QStringLiteral("записи"));
    if (!askReport_ || !openReport_) return {};
    const std::optional<ReportRequest> request = askReport_();
    if (!request) return {};
    const QFileInfo source(path_);
    const QString report =
        source.dir().filePath(source.completeBaseName() +
                              (rows ? QStringLiteral("_участок_%1-%2с")
                                          .arg(whole.timeS[rows->first], 0, 'f', 1)
                                          .arg(whole.timeS[rows->last], 0, 'f', 1)
                                    : QString()) +
                              (request->pdf ? QStringLiteral(".pdf") : QStringLiteral(".html")));
    const auto write = request->pdf ? report::writePdf : report::writeReport;
    const QString failure = write(analysis, recording, request->identification, report);
    if (!failure.isEmpty()) return QStringLiteral("Отчёт не записан: %1").arg(failure);
    openReport_(QUrl::fromLocalFile(report));
    tell(QStringLiteral("Отчёт записан: %1").arg(QDir::toNativeSeparators(report)));
    return {};
}

}  // namespace torvix
