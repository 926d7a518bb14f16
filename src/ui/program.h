#pragma once
// The whole program: the port, the window, the configuration and the link, wired together.

#include <QPointer>
#include <QString>

#include "control/config.h"
#include "control/operator_commands.h"
#include "control/tick_presenter.h"
#include "link/line_port.h"
#include "link/modbus.h"
#include "trends/companion_log.h"
#include "ui/companion_window.h"
#include "ui/main_window.h"
#include "ui/message_box_prompt.h"
#include "ui/scan_window.h"

namespace torvix {

class Program {
public:
    // `configPath` is the whole path of тп.ini; the program passes Config::defaultPath().
    explicit Program(QString configPath);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Runs the start-up: configuration, slave list, port, window, polling. False when the
    // operator chose to end the program; the window has then never been shown.
    [[nodiscard]] bool start();

    MainWindow& window() { return window_; }
    // mnu_graphs: opens the one companion window, or brings it to the front.
    void openCompanion();
    CompanionWindow* companion() const { return companion_; }
    trends::CompanionLog& companionLog() { return companionLog_; }
    // mnu_scan: opens the one scan window, or brings it to the front.
    void openScan();
    ScanWindow* scanWindow() const { return scan_; }

private:
    // The scan's hooks: the window's own port is let go while the scan uses it.
    bool isWindowPort(const scan::ScanPort& port);
    void lendPort(const scan::ScanPort& port);
    void takePortBack(const scan::ScanPort& port);
    QString applyFound(const scan::Found& found);

    // Declared in the order they depend on each other; they go in reverse.
    LinePort port_;
    MessageBoxPrompt prompt_;
    MainWindow window_;
    Config config_;
    Modbus modbus_;
    TickPresenter presenter_;
    OperatorCommands commands_;
    trends::CompanionLog companionLog_;
    QPointer<CompanionWindow> companion_;  // made at the first mnu_graphs
    QPointer<ScanWindow> scan_;            // made at the first mnu_scan
    bool portLent_ = false;
};

}  // namespace torvix
