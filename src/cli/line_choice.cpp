#include "cli/line_choice.h"

#include <QFileInfo>

#include "cli/cli_words.h"
#include "link/port_resolver.h"
#include "settings/config_file.h"

namespace torvix::cli {

QString LineChoice::name() const {
    if (number == kPathPortNumber) return device;
    return device.isEmpty() ? QStringLiteral("COM%1").arg(number)
                            : QStringLiteral("COM%1 (%2)").arg(number).arg(device);
}

std::variant<LineChoice, Failure> chooseLine(const Invocation& run, const QString& iniPath) {
    LineChoice line;
    QString settingsText = run.settings;
    if (run.port.isEmpty() || settingsText.isEmpty()) {
        const auto stored = readPortChoice(iniPath);
        if (!stored) {
            const bool readable = ConfigFile(iniPath).readSettings().has_value();
            return Failure{ExitCode::Usage,
                           readable ? QStringLiteral("%1: COM не номер порта 0..255").arg(iniPath)
                                    : QStringLiteral("%1: файл не читается").arg(iniPath)};
        }
        line.number = stored->port;
        line.overrides = stored->overrides;
        if (settingsText.isEmpty()) settingsText = stored->settings;
    } else {
        line.overrides = ConfigFile(iniPath).readPortOverrides();
    }
    if (!run.port.isEmpty()) {
        if (const auto number = portNumberOf(run.port)) {
            line.number = *number;
        } else {
            line.number = kPathPortNumber;
            line.overrides[kPathPortNumber] = run.port;
        }
    }
    const auto settings = LineSettings::parse(settingsText);
    if (!settings)
        return Failure{
            ExitCode::Usage,
            QStringLiteral("настройки линии \"%1\" не разобраны (пример: 115200,e,8,1)%2")
                .arg(settingsText,
                     run.settings.isEmpty() ? QStringLiteral(", ") + iniPath : QString())};
    line.settings = *settings;
    PortResolver resolver;
    resolver.setOverrides(line.overrides);
    line.device = resolver.devicePath(line.number);
    return line;
}

std::optional<Failure> openLine(SerialPort& port, const LineChoice& line) {
    const auto fail = [&](const PortError& error) {
        return Failure{ExitCode::PortUnavailable, QStringLiteral("порт %1 не открывается: %2")
                                                      .arg(line.name(), portFailureReason(error))};
    };
    if (PortStatus status = port.setLineSettings(line.settings); !status)
        return fail(status.error());
    if (PortStatus status = port.setPortNumber(line.number); !status) return fail(status.error());
    if (PortStatus status = port.setPortOpen(true); !status) return fail(status.error());
    if (PortStatus status = port.finishOpening(); !status) return fail(status.error());
    return std::nullopt;
}

}  // namespace torvix::cli
