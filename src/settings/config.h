#pragma once
// The port choice kept in тп.ini beside the program, and the values in force for this run.

#include <QString>
#include <map>

#include "control/operator_prompt.h"
#include "control/window_sinks.h"
#include "link/modbus.h"

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
    static inline const QString kFileName = QStringLiteral("тп.ini");
    static inline const QString kPcSection = QStringLiteral("PC config");
    static inline const QString kPortKey = QStringLiteral("COM");
    static inline const QString kSettingsKey = QStringLiteral("COMSettings");
    static inline const QString kQdlSection = QStringLiteral("QDL config");
    static inline const QString kSlaveKey = QStringLiteral("MBSLAD");
    static inline const QString kPortsSection = QStringLiteral("Ports");
    // What a missing key stands for, and what a new file is given.
    static inline const QString kDefaultPort = QStringLiteral("1");
    static inline const QString kDefaultSettings = QStringLiteral("115200,e,8,1");

    // `path` is the whole file path; the program passes defaultPath().
    Config(QString path, StatusLine& status, const SlaveAddressSource& slave,
           OperatorPrompt& prompt);

    // The folder of the running executable joined with "тп.ini".
    static QString defaultPath();

    // Reads "COM" and "COMSettings"; a missing file is created with port 1 and the default
    // settings, which are then in force. Trouble is put to the operator (Retry/Cancel); the
    // caller goes on with port() and settings() as they stand.
    void load();
    // Writes "COM", "COMSettings" and "MBSLAD"; a refused write is put to the operator too.
    void save();

    int port() const { return port_; }
    void setPort(int port) { port_ = port; }
    const QString& settings() const { return settings_; }
    void setSettings(const QString& settings) { settings_ = settings; }

    // Device paths the operator gave for port numbers in section "Ports" ("COM3=/dev/ttyUSB1").
    std::map<int, QString> portOverrides() const;

    // The port dialog's OK sets it, its Отмена clears it; it outlives every showing of the dialog.
    bool settingsConfirmed = false;

    const QString& path() const { return path_; }

private:
    // Puts a failed step to the operator; true for Retry.
    bool retry(const QString& prompt);

    QString path_;
    StatusLine& status_;
    const SlaveAddressSource& slave_;
    OperatorPrompt& prompt_;
    int port_ = 0;
    QString settings_;
};

}  // namespace torvix
