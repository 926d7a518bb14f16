#include "ui/program.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <utility>

#include "control/port_chooser.h"
#include "control/startup.h"
#include "ui/port_dialog.h"

namespace torvix {

Program::Program(QString configPath)
    : config_(std::move(configPath), window_, window_, prompt_),
      modbus_(port_, window_),
      presenter_(modbus_, window_, window_),
      commands_(modbus_, window_, window_, window_) {
    window_.bind(commands_);
    window_.setPollTick([this] {
        const TickOutcome outcome = modbus_.pollTick();
        presenter_.show(outcome);
        companionLog_.take(outcome);
    });
    window_.addGraphsCommand([this] { openCompanion(); });
    window_.addScanCommand([this] { openScan(); });
    window_.setPortDialogFactory([this](QWidget* owner) -> QDialog* {
        return new PortDialog(port_, config_, window_, owner);
    });
    // The modeless port dialog must not keep the program alive once the window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window_, &MainWindow::closed, qApp, &QCoreApplication::quit);
    QObject::connect(&window_, &MainWindow::closed, [this] {
        if (companion_) companion_->close();
        if (scan_) scan_->close();
    });
}

Program::~Program() {
    // The dialog works on the port and the configuration, which go before the window does.
    window_.discardPortDialog();
    delete companion_.data();
    // Stops a scan and gives the port back while the port and the timer still exist.
    delete scan_.data();
}

void Program::openScan() {
    if (!scan_)
        scan_ =
            new ScanWindow({.configuredPort = [this] { return config_.port(); },
                            .configuredSettings = [this] { return config_.settings(); },
                            .portOverrides = [this] { return config_.portOverrides(); },
                            .portWanted = [this](const scan::ScanPort& p) { lendPort(p); },
                            .portReleased = [this](const scan::ScanPort& p) { takePortBack(p); },
                            .apply = [this](const scan::Found& f) { return applyFound(f); }});
    scan_->show();
    scan_->raise();
    scan_->activateWindow();
}

bool Program::isWindowPort(const scan::ScanPort& port) {
    if (!port_.isPortOpen()) return false;
    const DevicePort& mine = port_.active();
    if (port.name == PortChooser::entryText(port.number) && port.number == mine.portNumber())
        return true;
    const QString device = PortResolver::canonicalExistingPath(port.device);
    return !device.isEmpty() && device == PortResolver::canonicalExistingPath(mine.devicePath());
}

void Program::lendPort(const scan::ScanPort& port) {
    if (!isWindowPort(port)) return;
    // No poll may go out while the scan has the line, and the device opens only once.
    window_.pollTimer().stop();
    (void)port_.setPortOpen(false);
    portLent_ = true;
}

void Program::takePortBack(const scan::ScanPort&) {
    if (!portLent_) return;
    portLent_ = false;
    (void)port_.setPortOpen(true);
    window_.startPolling();
}

QString Program::applyFound(const scan::Found& found) {
    if (found.port.name != PortChooser::entryText(found.port.number))
        return QStringLiteral(
                   "%1 не имеет номера порта: назначьте его в разделе Ports файла тп.ini")
            .arg(found.port.name);
    if (!window_.selectSlaveAddress(found.address))
        return QStringLiteral("адрес %1 вне списка адресов окна").arg(found.address);
    // The port dialog's own path: the choice in its list, OK, closing.
    PortChooser chooser(port_, config_, window_, {});
    if (chooser.adopt(found.port.number, found.settings.toText()) ==
        PortChooser::OkResult::SettingsRefused)
        return QStringLiteral("порт не принял настройки %1").arg(found.settings.toText());
    return {};
}

void Program::openCompanion() {
    // A window of its own, not owned by the main window: it stays beside it, not on top.
    // Recordings go beside тп.ini: beside the program, or at home for a packaged one.
    if (!companion_)
        companion_ = new CompanionWindow(
            companionLog_,
            QFileInfo(config_.path()).dir().filePath(trends::RecordingSession::kFolderName));
    companion_->show();
    companion_->raise();
    companion_->activateWindow();
}

bool Program::start() {
    Startup startup(port_, config_, prompt_,
                    {.configLoaded = [this] { port_.setPortOverrides(config_.portOverrides()); },
                     .fillSlaveList = [this] { window_.fillSlaveList(); },
                     .showPortDialogModal = [this] { window_.showPortDialogModal(); },
                     .showWindow = [this] { window_.show(); },
                     .startPolling = [this] { window_.startPolling(); }});
    return startup.run();
}

}  // namespace torvix
