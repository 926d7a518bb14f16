#include "settings/config.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <array>
#include <optional>

#include "settings/ini_profile.h"

namespace torvix {

namespace {

constexpr int kHighestPortNumber = 255;
constexpr int kPortOverrideCount = 16;

// "COM" holds a whole number 0..255; anything else, a fraction included, is an error.
std::optional<int> parsePortNumber(const QString& text) {
    const QString digits = text.trimmed();
    if (digits.isEmpty()) return std::nullopt;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9') return std::nullopt;
    bool ok = false;
    const uint number = digits.toUInt(&ok);
    if (!ok || number > kHighestPortNumber) return std::nullopt;
    return int(number);
}

}  // namespace

Config::Config(QString path, StatusLine& status, const SlaveAddressSource& slave,
               OperatorPrompt& prompt)
    : path_(std::move(path)), status_(status), slave_(slave), prompt_(prompt) {}

QString Config::defaultPath() {
    return QCoreApplication::applicationDirPath() + u'/' + kFileName;
}

bool Config::retry(const QString& prompt) {
    return prompt_.askRetryCancel(prompt, config_text::kFailureTitle) ==
           OperatorPrompt::Answer::Retry;
}

void Config::load() {
    port_ = 1;
    if (!QFileInfo(path_).isFile()) {
        // First start: the new file holds what missing keys would stand for, and so does
        // this run, rather than an empty settings text no port accepts.
        settings_ = kDefaultSettings;
        save();
        status_.setStatusText(QString());
        return;
    }

    status_.setStatusText(config_text::kReading);
    status_.repaintNow();
    for (;;) {
        const std::optional<QString> text =
            readIniString(path_, kPcSection, kPortKey, kDefaultPort);
        if (const std::optional<int> number = text ? parsePortNumber(*text) : std::nullopt) {
            port_ = *number;
            break;
        }
        if (!retry(config_text::kReadFailed)) return;
    }
    for (;;) {
        if (const std::optional<QString> text =
                readIniString(path_, kPcSection, kSettingsKey, kDefaultSettings)) {
            settings_ = *text;
            break;
        }
        if (!retry(config_text::kReadFailed)) return;
    }
    status_.setStatusText(QString());
}

void Config::save() {
    status_.setStatusText(config_text::kSaving);
    status_.repaintNow();

    struct Entry {
        const QString& section;
        const QString& key;
        QString value;
    };
    const std::array<Entry, 3> entries{{
        {kPcSection, kPortKey, QString::number(port_)},
        {kPcSection, kSettingsKey, settings_},
        {kQdlSection, kSlaveKey, QString::number(slave_.slaveAddress())},
    }};
    for (const Entry& entry : entries) {
        while (!writeIniString(path_, entry.section, entry.key, entry.value)) {
            if (!retry(config_text::kWriteFailed)) {
                status_.setStatusText(QString());
                return;
            }
        }
    }
    status_.setStatusText(QString());
}

std::map<int, QString> Config::portOverrides() const {
    std::map<int, QString> overrides;
    for (int number = 1; number <= kPortOverrideCount; ++number) {
        const std::optional<QString> device =
            readIniString(path_, kPortsSection, QStringLiteral("COM%1").arg(number), QString());
        if (device && !device->isEmpty()) overrides.emplace(number, *device);
    }
    return overrides;
}

}  // namespace torvix
