#include "scan/system_ports.h"

#ifdef Q_OS_WIN
#include <QSettings>
#else
#include <QSerialPortInfo>
#endif

namespace torvix::scan {

QStringList systemSerialPorts() {
    QStringList ports;
#ifdef Q_OS_WIN
    // Every serial port driver registers its ports here; the values are the names, "COM17".
    const QSettings map(QStringLiteral(R"(HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM)"),
                        QSettings::NativeFormat);
    for (const QString& key : map.allKeys()) ports << map.value(key).toString();
#else
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports << info.systemLocation();
#endif
    return ports;
}

}  // namespace torvix::scan
