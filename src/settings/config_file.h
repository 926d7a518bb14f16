#pragma once
// тп.ini beside the program (at home for a packaged one): the port choice it keeps, read and
// written value by value.

#include <QString>
#include <map>
#include <optional>

#include "protocol/defaults.h"

namespace torvix {

class ConfigFile {
public:
    static inline const QString kFileName = QStringLiteral("тп.ini");
    static inline const QString kPcSection = QStringLiteral("PC config");
    static inline const QString kPortKey = QStringLiteral("COM");
    static inline const QString kSettingsKey = QStringLiteral("COMSettings");
    static inline const QString kQdlSection = QStringLiteral("QDL config");
    static inline const QString kSlaveKey = QStringLiteral("MBSLAD");
    static inline const QString kPortsSection = QStringLiteral("Ports");
    // What a missing key stands for, and what a new file is given.
    static inline const int kDefaultPort = defaults::kPort;
    static inline const QString kDefaultSettings = QString::fromLatin1(defaults::kLineSettings);
    // Section "Ports" names devices for these numbers.
    static constexpr int kPortOverrideCount = defaults::kLastPort;

    explicit ConfigFile(QString path) : path_(std::move(path)) {}
    // The folder of the running executable joined with "тп.ini"; in a build for a system-wide
    // package (TORVIX_PER_USER_DATA), the user's data folder "torvix" instead.
    static QString defaultPath();

    const QString& path() const { return path_; }
    bool exists() const;

    // "COM": a whole number 0..255 in decimal digits. Empty when the file cannot be read or
    // the value is no such number; a missing key reads kDefaultPort.
    std::optional<int> readPort() const;
    // "COMSettings" as written, not parsed; empty when the file cannot be read.
    std::optional<QString> readSettings() const;
    // Device paths the operator gave for port numbers in section "Ports" ("COM3=/dev/ttyUSB1").
    std::map<int, QString> readPortOverrides() const;

    // False when the system refused; the file is then as it was.
    [[nodiscard]] bool writePort(int port) const;
    [[nodiscard]] bool writeSettings(const QString& settings) const;
    [[nodiscard]] bool writeSlaveAddress(int address) const;

private:
    QString path_;
};

// What a program that only reads the file needs to reach the controller.
struct PortChoice {
    int port = ConfigFile::kDefaultPort;
    QString settings = ConfigFile::kDefaultSettings;
    std::map<int, QString> overrides;
};

// The port choice of the file at `path`, which is never created or written: defaults for a
// missing file or key, empty when the file cannot be read or "COM" is no port number.
std::optional<PortChoice> readPortChoice(const QString& path);

}  // namespace torvix
