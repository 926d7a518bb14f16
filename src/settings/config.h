#pragma once
// The port choice kept in тп.ini beside the program, and the values in force for this run.

#include <QString>
#include <map>

#include "link/window_sinks.h"
#include "settings/operator_prompt.h"

namespace torvix {

class Config {
public:
    static inline const QString kFileName = QStringLiteral("тп.ini");

    // `path` is the whole file path; the program passes defaultPath().
    Config(QString path, StatusLine& status, const SlaveAddressSource& slave, OperatorPrompt& prompt);

    // The folder of the running executable joined with "тп.ini".
    static QString defaultPath();

    // Reads "COM" and "COMSettings"; creates the file when it is missing. Trouble is put to
    // the operator (Retry/Cancel); the caller goes on with port() and settings() as they stand.
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
    QString path_;
    StatusLine& status_;
    const SlaveAddressSource& slave_;
    OperatorPrompt& prompt_;
    int port_ = 0;
    QString settings_;
};

}  // namespace torvix
