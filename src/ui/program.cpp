#include "ui/program.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <utility>

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
    window_.setPortDialogFactory([this](QWidget* owner) -> QDialog* {
        return new PortDialog(port_, config_, window_, owner);
    });
    // The modeless port dialog must not keep the program alive once the window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window_, &MainWindow::closed, qApp, &QCoreApplication::quit);
    QObject::connect(&window_, &MainWindow::closed, [this] {
        if (companion_) companion_->close();
    });
}

Program::~Program() {
    // The dialog works on the port and the configuration, which go before the window does.
    window_.discardPortDialog();
    delete companion_.data();
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
