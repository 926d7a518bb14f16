// torvix-tp: watches and commands one Torvix controller over a serial line.

#include <QApplication>
#include <cstdio>

#include "link/modbus.h"
#include "link/qt_serial_port.h"
#include "settings/config.h"
#include "settings/port_dialog.h"
#include "ui/main_window.h"
#include "ui/message_box_prompt.h"
#include "ui/operator_commands.h"
#include "ui/startup.h"

int main(int argc, char* argv[]) {
    using namespace torvix;

    QApplication app(argc, argv);  // takes Qt's own options, such as -platform
    if (QCoreApplication::arguments().size() > 1) {
        std::fputs("torvix-tp: аргументы командной строки не принимаются\n", stderr);
        return 2;
    }

    QtSerialPort port;
    MessageBoxPrompt prompt;
    MainWindow window;
    Config config(Config::defaultPath(), window, window, prompt);
    Modbus modbus(port, window, window, window);
    OperatorCommands commands(modbus, window, window, window);

    window.bind(commands);
    window.setPollTick([&modbus] { modbus.pollTick(); });
    window.setPortDialogFactory(
        [&](QWidget* owner) -> QDialog* { return new PortDialog(port, config, window, owner); });
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit);

    Startup startup(port, config, prompt,
                    {.configLoaded = [&] { port.setPortOverrides(config.portOverrides()); },
                     .fillSlaveList = [&] { window.fillSlaveList(); },
                     .showPortDialogModal = [&] { window.showPortDialogModal(); },
                     .showWindow = [&] { window.show(); },
                     .startPolling = [&] { window.startPolling(); }});
    if (!startup.run()) return 0;

    const int result = QApplication::exec();
    // The dialog works on the port and the configuration, which go before the window does.
    window.discardPortDialog();
    return result;
}
