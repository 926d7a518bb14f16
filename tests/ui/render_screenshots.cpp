// Renders the main window, showing a known status block, and the port settings dialog into
// PNG files for the documentation: render_screenshots OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "control/config.h"
#include "control/operator_commands.h"
#include "control/tick_presenter.h"
#include "link/modbus.h"
#include "support/fake_serial_port.h"
#include "support/frames.h"
#include "ui/main_window.h"
#include "ui/message_box_prompt.h"
#include "ui/port_dialog.h"

namespace {

// A controller running on load: generator on the bus, section closed, one saved alarm.
torvix::testing::StatusRegisters runningGenset() {
    torvix::testing::StatusRegisters regs{};
    regs[0] = 0x0102;                // protocol 1.02
    regs[1] = 0x020E;                // software 2.14
    regs[2] = 4002, regs[3] = 3998;  // bus and section voltage, 0.1 V
    regs[4] = 4005, regs[5] = 3991, regs[6] = 4010;
    regs[7] = 1105, regs[8] = 1098, regs[9] = 1112;  // 0.2 A
    regs[10] = 0, regs[11] = 1352;                   // active power, 0.1 kW
    regs[12] = 0, regs[13] = 1590;
    regs[14] = 0, regs[15] = 836;
    regs[16] = 5001, regs[17] = 4999, regs[18] = 5000;  // 0.01 Hz
    regs[39] = 262;                                     // battery 26.2 V
    regs[40] = 0x000F, regs[41] = 0x1A2B;
    regs[43] = 0x0004;  // saved alarm
    regs[55] = 0x00A5;
    regs[56] = 0x0103;                     // section 1, priority 3
    regs[58] = 0x0063;                     // ДГУ, Секц., ДГУ на ш, Секц.вкл
    regs[60] = 0x0001;                     // Старт relay
    regs[61] = 7200;                       // 120 h to service
    regs[62] = 0x0001, regs[63] = 0x2345;  // 74565 min
    return regs;
}

bool save(QWidget& widget, const QString& path) {
    const bool saved = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace torvix;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().size() != 2) {
        std::fputs("usage: render_screenshots OUTPUT_DIR\n", stderr);
        return 2;
    }
    const QDir out(QCoreApplication::arguments().at(1));

    testing::FakeSerialPort port;
    port.openable = {1, 3, 4};
    port.number = 3;
    port.settings = QStringLiteral("115200,e,8,1");
    port.open = true;
    MessageBoxPrompt prompt;
    MainWindow window;
    QTemporaryDir dir;
    Config config(dir.filePath(Config::kFileName), window, window, prompt);
    Modbus modbus(port, window);
    TickPresenter presenter(modbus, window, window, QLocale(QLocale::Russian));
    OperatorCommands commands(modbus, window, window, window);
    window.bind(commands);
    window.addGraphsCommand([] {});  // the menu as the program has it
    window.fillSlaveList();

    config.load();
    config.setPort(3);
    config.save();

    presenter.show(modbus.pollTick());  // sends the status read
    port.feed(testing::statusReply(runningGenset()));
    presenter.show(modbus.pollTick());  // shows it and sends the first counter write
    window.setPriorityText(QStringLiteral("3"));

    window.show();
    QCoreApplication::processEvents();
    bool ok = save(window, out.filePath(QStringLiteral("main_window.png")));

    auto* dialog = new PortDialog(port, config, window);
    dialog->show();
    QCoreApplication::processEvents();
    ok = save(*dialog, out.filePath(QStringLiteral("port_dialog.png"))) && ok;
    delete dialog;
    return ok ? 0 : 1;
}
