#pragma once
// The window's side of тп.ini: the values in force for this run, loaded and saved with the
// status line telling what happens and a failed read or write put to the operator.

#include <QString>
#include <map>
#include <optional>

#include "control/operator_prompt.h"
#include "control/window_sinks.h"
#include "link/modbus.h"
#include "link/serial_port.h"
#include "protocol/line_settings.h"
#include "settings/config_file.h"

namespace torvix {

namespace config_text {
inline const QString kReading = QStringLiteral("Чтение конфигурации");
inline const QString kSaving = QStringLiteral("Сохранение конфигурации");
inline const QString kReadFailed = QStringLiteral("Ошибка открытия файла тп.ini для чтения\r\n");
inline const QString kWriteFailed = QStringLiteral("Ошибка открытия файла тп.ini для записи");
inline const QString kFailureTitle = QStringLiteral("Ошибка открытия файла ");
}  // namespace config_text

class Config {
public:
    static inline const QString& kFileName = ConfigFile::kFileName;

    // `path` is the whole file path; the program passes defaultPath().
    Config(QString path, StatusLine& status, const SlaveAddressSource& slave,
           OperatorPrompt& prompt);

    static QString defaultPath() { return ConfigFile::defaultPath(); }

    // Reads "COM" and "COMSettings"; a missing file is created with port 1 and the default
    // settings, which are then in force. Trouble is put to the operator (Retry/Cancel); the
    // caller goes on with port() and settings() as they stand.
    void load();
    // Writes "COM", "COMSettings" and "MBSLAD"; a refused write is put to the operator too.
    void save();

    int port() const { return port_; }
    void setPort(int port) { port_ = port; }
    // The line settings as тп.ini has them, written back byte for byte.
    const QString& settings() const { return settings_; }
    void setSettings(const QString& settings);
    // The same, read; empty when the text is no line settings.
    const std::optional<LineSettings>& lineSettings() const { return lineSettings_; }
    // Gives the port the settings in force, or tells why it cannot have them.
    PortStatus applyLineSettings(SerialPort& port) const;

    // Device paths or device servers the operator gave for port numbers in section "Ports"
    // ("COM3=/dev/ttyUSB1", "COM7=tcp://192.168.10.20:4001").
    std::map<int, QString> portOverrides() const { return file_.readPortOverrides(); }

    // The port dialog's OK sets it, its Отмена clears it; it outlives every showing of the dialog.
    bool settingsConfirmed = false;

    const QString& path() const { return file_.path(); }

private:
    // Puts a failed step to the operator; true for Retry.
    bool retry(const QString& prompt);

    ConfigFile file_;
    StatusLine& status_;
    const SlaveAddressSource& slave_;
    OperatorPrompt& prompt_;
    int port_ = 0;
    QString settings_;
    std::optional<LineSettings> lineSettings_;
};

}  // namespace torvix
