#include "ui/scan_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "protocol/defaults.h"
#include "scan/scan_text.h"
#include "scan/system_ports.h"

namespace torvix {
namespace {

// The ports field as a user would type it: "1-16" and the system's other ports.
QString portsText(const scan::PortList& list) {
    QStringList items{QStringLiteral("%1-%2").arg(defaults::kFirstPort).arg(defaults::kLastPort)};
    for (const scan::ScanPort& port : list.ports)
        if (port.number > defaults::kLastPort) items << port.name;
    return items.join(QStringLiteral(", "));
}

}  // namespace

ScanWindow::ScanWindow(ScanWindowHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(std::move(host)) {
    setObjectName(QStringLiteral("frm_scan"));
    setWindowTitle(kTitle);
    buildControls();
    fillDefaults();
    updateButtons();
}

ScanWindow::~ScanWindow() {
    stopScan();
}

void ScanWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* choices = new QGridLayout;
    choices->addWidget(new QLabel(QStringLiteral("Порты:")), 0, 0);
    ports_ = new QLineEdit;
    ports_->setObjectName(QStringLiteral("txt_ports"));
    ports_->setToolTip(
        QStringLiteral("Номера (1-16, 5,7,23, COM17), пути к устройствам, tcp://HOST:PORT"));
    choices->addWidget(ports_, 0, 1, 1, 4);

    choices->addWidget(new QLabel(QStringLiteral("Настройки:")), 1, 0, Qt::AlignTop);
    settings_ = new QListWidget;
    settings_->setObjectName(QStringLiteral("lst_settings"));
    settings_->setFlow(QListView::LeftToRight);
    settings_->setWrapping(true);
    settings_->setResizeMode(QListView::Adjust);
    settings_->setGridSize(QSize(110, 20));
    settings_->setFixedHeight(112);
    choices->addWidget(settings_, 1, 1, 1, 4);

    choices->addWidget(new QLabel(QStringLiteral("Адреса:")), 2, 0);
    firstAddress_ = new QSpinBox;
    firstAddress_->setObjectName(QStringLiteral("spn_first"));
    lastAddress_ = new QSpinBox;
    lastAddress_->setObjectName(QStringLiteral("spn_last"));
    for (QSpinBox* box : {firstAddress_, lastAddress_})
        box->setRange(defaults::kLowestSlaveAddress, defaults::kHighestSlaveAddress);
    choices->addWidget(firstAddress_, 2, 1);
    choices->addWidget(new QLabel(QStringLiteral("–")), 2, 2);
    choices->addWidget(lastAddress_, 2, 3);
    all_ = new QCheckBox(QStringLiteral("все (не останавливаться на первом)"));
    all_->setObjectName(QStringLiteral("chk_all"));
    choices->addWidget(all_, 2, 4);
    choices->setColumnStretch(4, 1);
    layout->addLayout(choices);

    auto* buttons = new QHBoxLayout;
    find_ = new QPushButton(QStringLiteral("Найти"));
    find_->setObjectName(QStringLiteral("cmd_find"));
    stop_ = new QPushButton(QStringLiteral("Остановить"));
    stop_->setObjectName(QStringLiteral("cmd_stop"));
    buttons->addWidget(find_);
    buttons->addWidget(stop_);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("prg_scan"));
    buttons->addWidget(progress_, 1);
    layout->addLayout(buttons);
    progressText_ = new QLabel;
    progressText_->setObjectName(QStringLiteral("lbl_progress"));
    layout->addWidget(progressText_);

    layout->addWidget(new QLabel(QStringLiteral("Найдено:")));
    foundList_ = new QListWidget;
    foundList_->setObjectName(QStringLiteral("lst_found"));
    foundList_->setMinimumHeight(70);
    layout->addWidget(foundList_, 1);
    notes_ = new QPlainTextEdit;
    notes_->setObjectName(QStringLiteral("txt_notes"));
    notes_->setReadOnly(true);
    notes_->setMaximumHeight(80);
    layout->addWidget(notes_);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    apply_ = new QPushButton(QStringLiteral("Применить"));
    apply_->setObjectName(QStringLiteral("cmd_apply"));
    apply_->setToolTip(QStringLiteral(
        "Главное окно переходит на этот порт, настройки и адрес; тп.ini сохраняется"));
    bottom->addWidget(apply_);
    layout->addLayout(bottom);

    connect(find_, &QPushButton::clicked, this, &ScanWindow::find);
    connect(stop_, &QPushButton::clicked, this, &ScanWindow::stopScan);
    connect(apply_, &QPushButton::clicked, this, &ScanWindow::applySelected);
    connect(foundList_, &QListWidget::currentRowChanged, this, [this] { updateButtons(); });
    resize(620, 480);
}

void ScanWindow::fillDefaults() {
    const auto overrides = host_.portOverrides ? host_.portOverrides() : std::map<int, QString>{};
    ports_->setText(portsText(scan::defaultPorts(overrides, scan::systemSerialPorts())));
    scan::ScanPlan order;
    order.settings = scan::standardSettings();
    const QString configured = host_.configuredSettings ? host_.configuredSettings() : QString();
    scan::preferConfigured(order, 0, configured, true);
    for (const LineSettings& s : order.settings) {
        auto* item = new QListWidgetItem(s.toText(), settings_);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Checked);
    }
    firstAddress_->setValue(defaults::kLowestSlaveAddress);
    lastAddress_->setValue(defaults::kHighestSlaveAddress);
}

void ScanWindow::find() {
    if (scanning()) return;
    const auto overrides = host_.portOverrides ? host_.portOverrides() : std::map<int, QString>{};
    auto ports = scan::parsePortList(ports_->text(), overrides);
    if (const auto* error = std::get_if<QString>(&ports)) {
        note(*error);
        return;
    }
    const scan::PortList& list = std::get<scan::PortList>(ports);
    scan::ScanPlan plan;
    plan.ports = list.ports;
    for (int i = 0; i < settings_->count(); ++i)
        if (settings_->item(i)->checkState() == Qt::Checked)
            plan.settings.push_back(*LineSettings::parse(settings_->item(i)->text()));
    if (plan.settings.empty()) {
        note(QStringLiteral("не выбрано ни одной настройки линии"));
        return;
    }
    plan.firstAddress = std::min(firstAddress_->value(), lastAddress_->value());
    plan.lastAddress = std::max(firstAddress_->value(), lastAddress_->value());
    plan.all = all_->isChecked();
    scan::preferConfigured(plan, host_.configuredPort ? host_.configuredPort() : 0, {}, false);
    port_.setPortOverrides(list.overrides);

    found_.clear();
    foundList_->clear();
    notes_->clear();
    progress_->setRange(0, int(std::min<long long>(plan.probeCount(), 1'000'000'000)));
    progress_->setValue(0);
    scan::Scanner::Hooks hooks;
    hooks.progress = [this](const scan::Progress& p) { showProgress(p); };
    hooks.found = [this](const scan::Found& f) { addFound(f); };
    hooks.skipped = [this](const scan::Skipped& s) {
        // Most of COM1..COM16 do not exist on a laptop: those go into one line at the end.
        if (s.trouble != scan::PortTrouble::Missing) note(scan::skippedText(s));
    };
    hooks.activity = [this](const scan::Activity& a) { note(scan::activityText(a)); };
    hooks.portWanted = host_.portWanted;
    hooks.portReleased = host_.portReleased;
    hooks.finished = [this] { scanFinished(); };
    scanner_ = std::make_unique<scan::Scanner>(port_, clock_, std::move(plan), std::move(hooks));
    updateButtons();
    scanner_->start();
    updateButtons();
}

void ScanWindow::stopScan() {
    if (scanner_) scanner_->stop();
}

void ScanWindow::showProgress(const scan::Progress& p) {
    progress_->setValue(int(std::min<long long>(p.probesDone, progress_->maximum())));
    progressText_->setText(scan::progressText(p));
}

void ScanWindow::addFound(const scan::Found& found) {
    found_.push_back(found);
    foundList_->addItem(scan::foundText(found));
    if (foundList_->currentRow() < 0) foundList_->setCurrentRow(0);
}

void ScanWindow::note(const QString& text) {
    notes_->appendPlainText(text);
}

void ScanWindow::scanFinished() {
    const scan::ScanReport& report = scanner_->report();
    progress_->setValue(progress_->maximum());
    progressText_->setText(scan::summaryText(report));
    QStringList missing;
    for (const scan::Skipped& skipped : report.skipped)
        if (skipped.trouble == scan::PortTrouble::Missing) missing << skipped.port.name;
    if (!missing.isEmpty())
        note(QStringLiteral("нет таких портов: %1").arg(missing.join(QStringLiteral(", "))));
    if (report.portsOpened == 0 && !report.stopped)
        note(QStringLiteral("ни один порт не открылся"));
    updateButtons();
}

void ScanWindow::applySelected() {
    const int row = foundList_->currentRow();
    if (scanning() || row < 0 || row >= int(found_.size()) || !host_.apply) return;
    const QString refusal = host_.apply(found_[size_t(row)]);
    note(refusal.isEmpty() ? QStringLiteral("применено: %1").arg(foundList_->item(row)->text())
                           : refusal);
}

void ScanWindow::updateButtons() {
    const bool busy = scanning();
    find_->setEnabled(!busy);
    stop_->setEnabled(busy);
    apply_->setEnabled(!busy && foundList_->currentRow() >= 0);
    for (QWidget* choice :
         std::initializer_list<QWidget*>{ports_, settings_, firstAddress_, lastAddress_, all_})
        choice->setEnabled(!busy);
}

void ScanWindow::closeEvent(QCloseEvent* event) {
    // The main window gets its port back at once; what was found stays for the next showing.
    stopScan();
    event->accept();
}

}  // namespace torvix
