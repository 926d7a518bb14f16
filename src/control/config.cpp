#include "control/config.h"

#include <array>
#include <functional>
#include <optional>

namespace torvix {

Config::Config(QString path, StatusLine& status, const SlaveAddressSource& slave,
               OperatorPrompt& prompt)
    : file_(std::move(path)), status_(status), slave_(slave), prompt_(prompt) {}

bool Config::retry(const QString& prompt) {
    return prompt_.askRetryCancel(prompt, config_text::kFailureTitle) ==
           OperatorPrompt::Answer::Retry;
}

void Config::setSettings(const QString& settings) {
    settings_ = settings;
    lineSettings_ = LineSettings::parse(settings);
}

PortStatus Config::applyLineSettings(SerialPort& port) const {
    // The port is told of settings that do not read as it would be of settings it refuses.
    if (!lineSettings_) return PortError{PortErrorCode::InvalidSettings, settings_};
    return port.setLineSettings(*lineSettings_);
}

void Config::load() {
    port_ = ConfigFile::kDefaultPort;
    if (!file_.exists()) {
        // First start: the new file holds what missing keys would stand for, and so does
        // this run, rather than an empty settings text no port accepts.
        setSettings(ConfigFile::kDefaultSettings);
        save();
        status_.setStatusText(QString());
        return;
    }

    status_.setStatusText(config_text::kReading);
    status_.repaintNow();
    for (;;) {
        if (const std::optional<int> number = file_.readPort()) {
            port_ = *number;
            break;
        }
        if (!retry(config_text::kReadFailed)) return;
    }
    for (;;) {
        if (const std::optional<QString> text = file_.readSettings()) {
            setSettings(*text);
            break;
        }
        if (!retry(config_text::kReadFailed)) return;
    }
    status_.setStatusText(QString());
}

void Config::save() {
    status_.setStatusText(config_text::kSaving);
    status_.repaintNow();

    const std::array<std::function<bool()>, 3> writes{
        [this] { return file_.writePort(port_); },
        [this] { return file_.writeSettings(settings_); },
        [this] { return file_.writeSlaveAddress(slave_.slaveAddress()); },
    };
    for (const auto& write : writes) {
        while (!write()) {
            if (!retry(config_text::kWriteFailed)) {
                status_.setStatusText(QString());
                return;
            }
        }
    }
    status_.setStatusText(QString());
}

}  // namespace torvix
