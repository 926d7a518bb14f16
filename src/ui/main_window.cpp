#include "ui/main_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <algorithm>
#include <cmath>

#include "control/startup.h"
#include "ui/widgets.h"

namespace torvix {
namespace {

QString text(std::u16string_view s) {
    return QStringView(s).toString();
}

QColor toColor(Rgb rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb));
}

Qt::Alignment toAlignment(layout::Align align) {
    switch (align) {
        case layout::Align::Left:
            return Qt::AlignLeft | Qt::AlignTop;
        case layout::Align::Centre:
            return Qt::AlignHCenter | Qt::AlignTop;
        case layout::Align::Right:
            return Qt::AlignRight | Qt::AlignTop;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

void setBase(QLineEdit* box, Rgb colour) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, toColor(colour));
    box->setPalette(palette);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), dpi_(logicalDpiY()), timer1_(new QTimer(this)) {
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(text(layout::kWindowCaption));

    // Set on each "default" control as well: one in a frame would take the frame's font.
    windowFont_ = captionFont(kWindowPointSize);
    setFont(windowFont_);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(toPixels(layout::kClientWidth), toPixels(layout::kClientHeight));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    QAction* settings = menuBar()->addAction(text(layout::kMenuSettingsCaption));
    settings->setObjectName(QString::fromLatin1(layout::kMenuSettings));
    connect(settings, &QAction::triggered, this, &MainWindow::openPortDialog);

    for (const auto& entry : layout::kControls) {
        QWidget* parentWidget =
            entry.parent == layout::kClientArea ? client : control(entry.parent);
        QWidget* widget = createControl(entry, parentWidget);
        widget->setObjectName(QString::fromLatin1(entry.ref.name));
        if (entry.ref.index >= 0) widget->setProperty("index", entry.ref.index);
        widget->setGeometry(toPixels(entry.rect));
        widget->setFont(entry.pointSize > 0 ? captionFont(entry.pointSize) : windowFont_);
        controls_[{entry.ref.name, entry.ref.index}] = widget;
    }

    for (std::size_t i = 1; i < std::size(layout::kTabOrder); ++i)
        setTabOrder(control(layout::kTabOrder[i - 1]), control(layout::kTabOrder[i]));
    control(layout::kInitialFocus)->setFocus();
    findStatusControls();
    statusLabel_ = control<QLabel>({"lbl_sys_mes"});

    timer1_->setObjectName(QString::fromLatin1(layout::kPollTimer));
    timer1_->setInterval(layout::kPollIntervalMs);
    timer1_->setTimerType(Qt::PreciseTimer);
    connect(timer1_, &QTimer::timeout, this, [this] {
        if (pollTick_) pollTick_();
    });
}

MainWindow::~MainWindow() {
    discardPortDialog();
}

QWidget* MainWindow::createControl(const layout::ControlEntry& entry, QWidget* parent) {
    using layout::Kind;
    const QString caption = text(entry.caption);
    switch (entry.kind) {
        case Kind::Frame:
            return new QGroupBox(caption, parent);
        case Kind::Lamp: {
            auto* lamp = new Lamp(caption, toColor(entry.lampColour), parent);
            lamp->setFrameStyle(QFrame::Box | QFrame::Plain);
            lamp->setAlignment(Qt::AlignCenter);
            return lamp;
        }
        case Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(toAlignment(entry.align));
            if (entry.border) label->setFrameStyle(QFrame::Box | QFrame::Plain);
            if (!entry.description.empty())
                label->setAccessibleDescription(text(entry.description));
            return label;
        }
        case Kind::Button: {
            auto* button = new CaptionButton(caption, parent);
            button->setAutoDefault(false);
            button->setFocusPolicy(Qt::StrongFocus);
            button->setAccessibleName(caption);
            if (!entry.description.empty())
                button->setAccessibleDescription(text(entry.description));
            return button;
        }
        case Kind::TextBox: {
            auto* box = new QLineEdit(caption, parent);
            box->setAccessibleName(text(entry.description));
            setBase(box, kWhite);
            return box;
        }
        case Kind::ComboBox: {
            auto* list = new QComboBox(parent);
            list->setEditable(false);
            list->setAccessibleName(text(entry.description));
            return list;
        }
        case Kind::Line: {
            auto* line = new QFrame(parent);
            line->setFrameStyle(QFrame::HLine | QFrame::Plain);
            line->setLineWidth(1);
            return line;
        }
    }
    return new QWidget(parent);
}

int MainWindow::toPixels(int twips) const {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi_ / layout::kTwipsPerInch));
}

QRect MainWindow::toPixels(const layout::Twips& rect) const {
    // Edges are converted, not sizes, so neighbours stay flush at any dpi.
    const int left = toPixels(rect.left);
    const int top = toPixels(rect.top);
    const int right = toPixels(rect.left + rect.width);
    const int bottom = std::max(toPixels(rect.top + rect.height), top + 1);
    return {left, top, right - left, bottom - top};
}

QWidget* MainWindow::control(ControlRef ref) const {
    const auto it = controls_.find({ref.name, ref.index});
    return it == controls_.end() ? nullptr : it->second;
}

void MainWindow::bind(OperatorCommands& commands) {
    for (const auto& entry : layout::kControls) {
        if (entry.kind != layout::Kind::Button) continue;
        auto* button = control<QAbstractButton>(entry.ref);
        const int index = entry.ref.index;
        if (entry.ref.name == "cmd_mode")
            connect(button, &QAbstractButton::clicked, this,
                    [&commands, index] { commands.modeClicked(index); });
        else if (entry.ref.name == "cmd_mode_pr")
            connect(button, &QAbstractButton::clicked, this,
                    [&commands, index] { commands.numberClicked(index); });
    }
    connect(control<QLineEdit>(OperatorCommands::kTextBox), &QLineEdit::textChanged, this,
            [&commands] { commands.textChanged(); });
}

void MainWindow::fillSlaveList() {
    auto* list = control<QComboBox>({"cmb_slad"});
    list->clear();
    list->addItems(Startup::slaveAddressEntries());
    list->setCurrentIndex(Startup::kInitialSlaveAddress);
}

void MainWindow::showPortDialogModal() {
    if (!dialogFactory_) return;
    if (!dialog_) dialog_ = dialogFactory_(this);
    if (dialog_) dialog_->exec();
}

void MainWindow::startPolling() {
    timer1_->start();
}

void MainWindow::addMenuCommand(std::string_view name, std::u16string_view caption,
                                std::function<void()> open) {
    QAction* command = menuBar()->addAction(text(caption));
    command->setObjectName(QString::fromLatin1(name.data(), qsizetype(name.size())));
    connect(command, &QAction::triggered, this, std::move(open));
}

void MainWindow::addGraphsCommand(std::function<void()> open) {
    addMenuCommand(layout::kMenuGraphs, layout::kMenuGraphsCaption, std::move(open));
}

void MainWindow::addScanCommand(std::function<void()> open) {
    addMenuCommand(layout::kMenuScan, layout::kMenuScanCaption, std::move(open));
}

bool MainWindow::selectSlaveAddress(int address) {
    auto* list = control<QComboBox>({"cmb_slad"});
    if (address < 0 || address >= list->count()) return false;
    list->setCurrentIndex(address);
    return true;
}

void MainWindow::openPortDialog() {
    if (!dialogFactory_) return;
    if (!dialog_) dialog_ = dialogFactory_(nullptr);
    if (!dialog_) return;
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void MainWindow::discardPortDialog() {
    delete dialog_.data();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    // The modeless dialog has no owner and would keep the program alive on its own.
    discardPortDialog();
    emit closed();
}

void MainWindow::setCaption(ControlRef ref, const QString& caption) {
    QWidget* widget = control(ref);
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(caption);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(caption);
    else if (auto* box = qobject_cast<QLineEdit*>(widget))
        box->setText(caption);
    else if (auto* frame = qobject_cast<QGroupBox*>(widget))
        frame->setTitle(caption);
}

void MainWindow::setLamp(ControlRef ref, bool lit) {
    if (auto* lamp = control<Lamp>(ref)) lamp->setLit(lit);
}

void MainWindow::setBackground(ControlRef ref, Rgb colour) {
    if (auto* box = control<QLineEdit>(ref)) setBase(box, colour);
}

void MainWindow::findStatusControls() {
    for (std::size_t i = 0; i < status_block::kFieldCount; ++i)
        status_.fields[i] = control<QLabel>(layout::kFieldLabels[i].label);
    for (std::size_t row = 0; row < status_block::kLampRowCount; ++row) {
        for (std::size_t bit = 0; bit < status_block::kLampRows[row].lamps.size(); ++bit)
            status_.lamps[row].push_back(
                control<Lamp>({layout::kLampLabels[row], static_cast<int>(bit)}));
    }
}

void MainWindow::showStatus(const StatusTexts& texts) {
    // Five blocks a second mostly repeat the last; an unchanged label costs no layout or paint.
    const auto put = [](QLabel* label, const QString& text) {
        if (label->text() != text) label->setText(text);
    };
    for (std::size_t i = 0; i < texts.fields.size(); ++i) put(status_.fields[i], texts.fields[i]);
    for (std::size_t i = 0; i < texts.lampBits.size(); ++i) {
        for (std::size_t bit = 0; bit < status_.lamps[i].size(); ++bit)
            status_.lamps[i][bit]->setLit((texts.lampBits[i] >> bit) & 1u);
    }
}

void MainWindow::setStatusText(const QString& status) {
    statusLabel_->setText(status);
}

QString MainWindow::statusText() const {
    return statusLabel_->text();
}

void MainWindow::repaintNow() {
    control({"lbl_sys_mes"})->repaint();
}

int MainWindow::slaveAddress() const {
    return control<QComboBox>({"cmb_slad"})->currentIndex();
}

QString MainWindow::priorityText() const {
    return control<QLineEdit>(OperatorCommands::kTextBox)->text();
}

void MainWindow::setPriorityText(const QString& priority) {
    control<QLineEdit>(OperatorCommands::kTextBox)->setText(priority);
}

}  // namespace torvix
