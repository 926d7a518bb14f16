#include "settings/config_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "settings/ini_profile.h"

namespace torvix {
namespace {

constexpr int kHighestPortNumber = 255;

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

QString ConfigFile::defaultPath() {
#ifdef TORVIX_PER_USER_DATA
    // Installed by a package, the program sits in a system folder that is no user's, even where
    // root may write it: each user keeps the file, and the recordings beside it, at home.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/torvix");
    QDir().mkpath(folder);
    return folder + u'/' + kFileName;
#else
    return QCoreApplication::applicationDirPath() + u'/' + kFileName;
#endif
}

bool ConfigFile::exists() const {
    return QFileInfo(path_).isFile();
}

std::optional<int> ConfigFile::readPort() const {
    const std::optional<QString> text =
        readIniString(path_, kPcSection, kPortKey, QString::number(kDefaultPort));
    return text ? parsePortNumber(*text) : std::nullopt;
}

std::optional<QString> ConfigFile::readSettings() const {
    return readIniString(path_, kPcSection, kSettingsKey, kDefaultSettings);
}

std::map<int, QString> ConfigFile::readPortOverrides() const {
    std::map<int, QString> overrides;
    for (int number = 1; number <= kPortOverrideCount; ++number) {
        const std::optional<QString> device =
            readIniString(path_, kPortsSection, QStringLiteral("COM%1").arg(number), QString());
        if (device && !device->isEmpty()) overrides.emplace(number, *device);
    }
    return overrides;
}

bool ConfigFile::writePort(int port) const {
    return writeIniString(path_, kPcSection, kPortKey, QString::number(port));
}

bool ConfigFile::writeSettings(const QString& settings) const {
    return writeIniString(path_, kPcSection, kSettingsKey, settings);
}

bool ConfigFile::writeSlaveAddress(int address) const {
    return writeIniString(path_, kQdlSection, kSlaveKey, QString::number(address));
}

std::optional<PortChoice> readPortChoice(const QString& path) {
    const ConfigFile file(path);
    PortChoice choice;
    const auto port = file.readPort();
    const auto settings = file.readSettings();
    if (!port || !settings) return std::nullopt;
    choice.port = *port;
    choice.settings = *settings;
    choice.overrides = file.readPortOverrides();
    return choice;
}

}  // namespace torvix
