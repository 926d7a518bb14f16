#pragma once
// What the port settings dialog does with the serial port and the configuration.

#include <QString>
#include <functional>
#include <vector>

#include "control/config.h"
#include "control/window_sinks.h"
#include "link/serial_port.h"
#include "protocol/defaults.h"

namespace torvix {

namespace port_chooser_text {
inline const QString kReopenFailed = QStringLiteral("Порт не выбран или некорректные настройки");
}  // namespace port_chooser_text

class PortChooser {
public:
    static constexpr int kFirstProbedPort = defaults::kFirstPort;
    static constexpr int kLastProbedPort = defaults::kLastPort;

    enum class OkResult { Close, SettingsRefused };

    // `processEvents` lets the window repaint and the poll timer tick during the probe.
    PortChooser(SerialPort& port, Config& config, StatusLine& status,
                std::function<void()> processEvents);

    // The dialog's load: keeps the configuration in force, probes ports 1..16 and opens the
    // configured port when it could be opened.
    void load();

    // Port numbers that opened during the probe, in ascending order: the list's entries.
    const std::vector<int>& ports() const { return ports_; }
    // "COM3" for port 3.
    static QString entryText(int port) { return QStringLiteral("COM%1").arg(port); }
    // Index into ports(), -1 while nothing is selected.
    int selectedIndex() const { return selected_; }

    // The operator's choice of an entry: the port is switched to it at once.
    void select(int index);
    // Takes the chosen port and `settingsText`, applies the text and saves the configuration.
    // SettingsRefused when the port refuses the text: the dialog stays open, nothing is saved.
    [[nodiscard]] OkResult ok(const QString& settingsText);
    // Отмена: the configuration taken at load is put back on closing.
    void cancel();
    // Closing in any way; runs once, later calls do nothing.
    void close();
    // The bus scan's Применить, on a chooser not loaded: `number` chosen in the list, OK with
    // `settingsText` and closing, one after the other, as the operator would in the dialog.
    [[nodiscard]] OkResult adopt(int number, const QString& settingsText);

    int savedPort() const { return savedPort_; }
    const QString& savedSettings() const { return savedSettings_; }

private:
    void closePortIfOpen();
    // Opens port `number`; a refused number leaves the port closed rather than opening
    // whichever number the port had before.
    bool openPort(int number);
    void reopenPort();
    void reopenStepFailed();

    SerialPort& port_;
    Config& config_;
    StatusLine& status_;
    std::function<void()> processEvents_;

    std::vector<int> ports_;
    int selected_ = -1;
    int savedPort_ = 0;
    QString savedSettings_;
    bool closed_ = false;
};

}  // namespace torvix
