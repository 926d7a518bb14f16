#include "scan/scan_text.h"

#include <cmath>

namespace torvix::scan {
namespace {

void addOnce(QStringList& list, const QString& name) {
    if (!list.contains(name)) list << name;
}

}  // namespace

QString portText(const ScanPort& port) {
    if (port.device.isEmpty() || port.device == port.name) return port.name;
    return QStringLiteral("%1 (%2)").arg(port.name, port.device);
}

QString foundText(const Found& found) {
    QString text =
        QStringLiteral("%1, %2, адрес %3")
            .arg(portText(found.port),
                 found.port.tcp ? QStringLiteral("скорость сервера") : found.settings.toText())
            .arg(found.address);
    if (found.exceptionCode != 0)
        text += QStringLiteral(", отказ на чтение (исключение %1)").arg(found.exceptionCode);
    if (found.softwareVersion.isEmpty()) return text + QStringLiteral(", версии не прочитаны");
    return text + QStringLiteral(", версия ПО %1, версия протокола %2")
                      .arg(found.softwareVersion, found.protocolVersion);
}

QString skippedText(const Skipped& skipped) {
    QString reason;
    switch (skipped.trouble) {
        case PortTrouble::Busy:
            reason = QStringLiteral("занят другим приложением");
            break;
        case PortTrouble::Missing:
            reason = QStringLiteral("нет такого устройства");
            break;
        case PortTrouble::Denied:
            reason = QStringLiteral("нет прав доступа");
            break;
        case PortTrouble::Failed:
            reason = QStringLiteral("не открывается: %1").arg(skipped.error.detail);
            break;
    }
    return QStringLiteral("%1: %2").arg(portText(skipped.port), reason);
}

QString activityText(const Activity& activity) {
    return QStringLiteral("на %1 есть обмен, но не на этих настройках (%2)")
        .arg(activity.port.name, activity.settings.toText());
}

QString durationText(double ms) {
    const auto seconds = static_cast<long long>(std::ceil(std::max(0.0, ms) / 1000));
    if (seconds < 60) return QStringLiteral("%1 с").arg(seconds);
    return QStringLiteral("%1 мин %2 с")
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString progressText(const Progress& p) {
    return QStringLiteral(
               "%1 %2 адрес %3 | порт %4/%5, настройки %6/%7, адрес %8/%9 | осталось %10")
        .arg(p.port.name, p.port.tcp ? QStringLiteral("(сервер)") : p.settings.toText())
        .arg(p.address)
        .arg(p.portIndex + 1)
        .arg(p.portCount)
        .arg(p.settingsIndex + 1)
        .arg(p.settingsCount)
        .arg(p.addressIndex + 1)
        .arg(p.addressCount)
        .arg(durationText(p.remainingMs));
}

QString summaryText(const ScanReport& report) {
    QString text = QStringLiteral("найдено: %1; проб: %2 за %3 с")
                       .arg(report.found.size())
                       .arg(report.probes)
                       .arg(QString::number(report.seconds, 'f', 1));
    if (report.stopped) text += QStringLiteral("; поиск остановлен");
    QStringList silent;
    for (const ScanPort& port : report.withoutController) silent << port.name;
    if (!silent.isEmpty())
        text += QStringLiteral("; без контроллера: %1").arg(silent.join(QStringLiteral(", ")));
    const QStringList activity = activityPorts(report);
    if (!activity.isEmpty())
        text += QStringLiteral("; обмен без ответа на %1").arg(activity.join(QStringLiteral(", ")));
    return text;
}

QStringList busyPorts(const ScanReport& report) {
    QStringList names;
    for (const Skipped& skipped : report.skipped)
        if (skipped.trouble == PortTrouble::Busy) addOnce(names, skipped.port.name);
    return names;
}

QStringList activityPorts(const ScanReport& report) {
    QStringList names;
    for (const Activity& activity : report.activity) addOnce(names, activity.port.name);
    return names;
}

}  // namespace torvix::scan
