#pragma once
// The whole program: the port, the window, the configuration and the link, wired together.

#include <QString>

#include "control/operator_commands.h"
#include "control/tick_presenter.h"
#include "link/modbus.h"
#include "link/line_port.h"
#include "control/config.h"
#include "ui/main_window.h"
#include "ui/message_box_prompt.h"

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

private:
    // Declared in the order they depend on each other; they go in reverse.
    LinePort port_;
    MessageBoxPrompt prompt_;
    MainWindow window_;
    Config config_;
    Modbus modbus_;
    TickPresenter presenter_;
    OperatorCommands commands_;
};

}  // namespace torvix
