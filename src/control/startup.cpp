#include "control/startup.h"

#include "control/status_words.h"

namespace torvix {
namespace {

void call(const std::function<void()>& step) {
    if (step) step();
}

}  // namespace

bool Startup::run() {
    config_.load();
    call(steps_.configLoaded);
    call(steps_.fillSlaveList);
    if (!openPort()) return false;
    call(steps_.showWindow);
    call(steps_.startPolling);
    return true;
}

bool Startup::openPort() {
    // Each step runs once; after the dialog the sequence goes on with the step after the one
    // that failed, with whatever port and settings the dialog left in the configuration.
    const std::function<PortStatus()> guarded[] = {
        [this] { return config_.applyLineSettings(port_); },
        [this] { return port_.setPortNumber(config_.port()); },
        [this] { return port_.setPortOpen(true); },
        [this] { return port_.finishOpening(); },
    };
    for (const auto& step : guarded) {
        const PortStatus status = step();
        if (!status.ok() && !offerAnotherPort(status.error())) return false;
    }
    return true;
}

bool Startup::offerAnotherPort(const PortError& error) {
    const auto overrides = config_.portOverrides();
    const auto entry = overrides.find(config_.port());
    const QString address =
        entry != overrides.end() && isTcpAddressText(entry->second) ? entry->second : QString();
    const auto answer =
        prompt_.askOkCancel(portFailurePrompt(config_.port(), error, address), kFailureTitle);
    if (answer != OperatorPrompt::Answer::Ok) return false;
    call(steps_.showPortDialogModal);
    return true;
}

QStringList Startup::slaveAddressEntries() {
    QStringList entries;
    entries.reserve(kSlaveAddresses);
    for (int address = 0; address < kSlaveAddresses; ++address)
        entries.append(QString::number(address));
    return entries;
}

QString Startup::portFailurePrompt(int port, const PortError& error, const QString& tcpAddress) {
    const QString where =
        tcpAddress.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(tcpAddress.trimmed());
    return QStringLiteral("Порт COM") + QString::number(port) + where +
           status_text::portFailure(error) + QStringLiteral("\r\nВыберите другой порт");
}

}  // namespace torvix
