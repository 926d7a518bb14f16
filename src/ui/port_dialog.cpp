#include "ui/port_dialog.h"

#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

#include "ui/port_dialog_layout.h"

namespace torvix {

namespace {

namespace layout = port_dialog_layout;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// The face the operators know from the original tool, else a sans face with Cyrillic glyphs;
// a wider substitute is made smaller until every explanation fits its label.
QFont dialogFont(double dpi) {
    constexpr double kPointSize = 8;
    constexpr double kSmallestPointSize = 6;
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    for (const char* family :
         {"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans", "Liberation Sans", "Arial"}) {
        if (QFontDatabase::writingSystems(QString::fromLatin1(family))
                .contains(QFontDatabase::Cyrillic)) {
            font.setFamily(QString::fromLatin1(family));
            break;
        }
    }
    for (double size = kPointSize; size >= kSmallestPointSize; size -= 0.5) {
        font.setPointSizeF(size);
        const QFontMetricsF metrics(font);
        const bool fits = std::all_of(layout::kControls.begin(), layout::kControls.end(),
                                      [&](const layout::Control& c) {
                                          return c.kind != layout::Kind::Label ||
                                                 metrics.horizontalAdvance(fromUtf8(c.caption)) <=
                                                     layout::twipsToPixels(c.width, dpi);
                                      });
        if (fits) break;
    }
    return font;
}

}  // namespace

PortDialog::PortDialog(SerialPort& port, Config& config, StatusLine& status, QWidget* parent)
    : QDialog(parent),
      // Repaints and poll ticks run during the probe; clicks wait for its end, so that
      // nothing the operator does can close or delete a window halfway through it.
      chooser_(port, config, status,
               [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }),
      config_(config) {
    setObjectName(fromUtf8(layout::kObjectName));
    setWindowTitle(fromUtf8(layout::kTitle));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(dialogFont(logicalDpiX()));
    setFixedSize(layout::twipsToPixels(layout::kClientWidth, logicalDpiX()),
                 layout::twipsToPixels(layout::kClientHeight, logicalDpiY()));
    buildControls();
}

void PortDialog::buildControls() {
    std::array<const layout::Control*, layout::kControls.size()> byTabIndex{};
    std::transform(layout::kControls.begin(), layout::kControls.end(), byTabIndex.begin(),
                   [](const layout::Control& control) { return &control; });
    std::sort(byTabIndex.begin(), byTabIndex.end(),
              [](const auto* a, const auto* b) { return a->tabIndex < b->tabIndex; });

    // Created in tab order, so that the focus chain starts at "ОК" as it should.
    QWidget* previous = nullptr;
    for (const layout::Control* control : byTabIndex) {
        const QString caption = fromUtf8(control->caption);
        QWidget* widget = nullptr;
        switch (control->kind) {
            case layout::Kind::Label: {
                auto* label = new QLabel(caption, this);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case layout::Kind::PortList: {
                // Typed text never counts as a choice, so the field only shows the choice.
                portList_ = new QComboBox(this);
                portList_->setEditable(true);
                portList_->setInsertPolicy(QComboBox::NoInsert);
                portList_->setCompleter(nullptr);
                portList_->lineEdit()->setReadOnly(true);
                portList_->lineEdit()->setPlaceholderText(caption);
                portList_->setEditText(caption);
                connect(portList_, &QComboBox::activated, this, &PortDialog::portChosen);
                widget = portList_;
                break;
            }
            case layout::Kind::TextBox:
                settingsBox_ = new QLineEdit(caption, this);
                widget = settingsBox_;
                break;
            case layout::Kind::Button: {
                auto* button = new QPushButton(caption, this);
                button->setAutoDefault(false);
                button->setDefault(false);
                if (control->name == layout::kOkButton)
                    connect(button, &QPushButton::clicked, this, &PortDialog::okClicked);
                else
                    connect(button, &QPushButton::clicked, this, &PortDialog::cancelClicked);
                widget = button;
                break;
            }
        }
        widget->setObjectName(fromUtf8(control->name));
        widget->setGeometry(layout::twipsToPixels(control->left, logicalDpiX()),
                            layout::twipsToPixels(control->top, logicalDpiY()),
                            layout::twipsToPixels(control->width, logicalDpiX()),
                            layout::twipsToPixels(control->height, logicalDpiY()));
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous) setTabOrder(previous, widget);
            previous = widget;
        }
    }
}

void PortDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (loaded_) return;
    loaded_ = true;
    loading_ = true;
    settingsBox_->setText(config_.settings());
    chooser_.load();
    loading_ = false;
    showPorts();
    if (auto* ok = findChild<QPushButton*>(fromUtf8(layout::kOkButton))) ok->setFocus();
    // Queued: under exec() the dialog's own event loop is not running yet.
    if (closeWanted_) QTimer::singleShot(0, this, &QWidget::close);
}

void PortDialog::showPorts() {
    const QSignalBlocker blocker(portList_);
    portList_->clear();
    for (const int port : chooser_.ports()) portList_->addItem(PortChooser::entryText(port));
    portList_->setCurrentIndex(chooser_.selectedIndex());
    if (chooser_.selectedIndex() < 0) portList_->setEditText(fromUtf8(layout::kNoPortChosen));
}

void PortDialog::portChosen(int index) {
    if (loading_ || finished_) return;
    chooser_.select(index);
}

void PortDialog::okClicked() {
    if (loading_ || finished_) return;
    if (chooser_.ok(settingsBox_->text()) == PortChooser::OkResult::SettingsRefused) {
        QPalette palette = settingsBox_->palette();
        palette.setColor(QPalette::Base, QColor(QRgb(kRed)));
        settingsBox_->setPalette(palette);
        return;
    }
    done(Accepted);
}

void PortDialog::cancelClicked() {
    if (loading_ || finished_) return;
    chooser_.cancel();
    done(Rejected);
}

void PortDialog::finish() {
    if (!loaded_ || finished_) return;
    finished_ = true;
    chooser_.close();
}

void PortDialog::done(int result) {
    if (loading_) {
        closeWanted_ = true;
        return;
    }
    finish();
    QDialog::done(result);
}

void PortDialog::closeEvent(QCloseEvent* event) {
    if (loading_) {
        closeWanted_ = true;
        event->ignore();
        return;
    }
    finish();
    QDialog::closeEvent(event);
}

void PortDialog::keyPressEvent(QKeyEvent* event) {
    // Escape has no meaning here; only the buttons and the close box close the window.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace torvix
