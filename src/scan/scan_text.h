#pragma once
// What the window and the command line say of a scan, in Russian, in one place.

#include <QString>
#include <QStringList>

#include "scan/scanner.h"

namespace torvix::scan {

// "COM5 (/dev/ttyUSB0)", or the name alone where it says everything.
QString portText(const ScanPort& port);
// "COM3 (/dev/ttyUSB0), 19200,e,8,1, адрес 23, версия ПО 3.07, версия протокола 2.05"
QString foundText(const Found& found);
// "COM4: занят другим приложением"
QString skippedText(const Skipped& skipped);
// "на COM5 есть обмен, но не на этих настройках (115200,e,8,1)"
QString activityText(const Activity& activity);
// "COM3 19200,e,8,1 адрес 23 | порт 3/3, настройки 1/20, адрес 5/247 | осталось 4 мин 10 с"
QString progressText(const Progress& progress);
// "1 мин 05 с", "12 с"
QString durationText(double ms);
// "найдено: 1; проб: 512 за 27.3 с", the ports probed to the end without a controller and
// those with traffic but no reply.
QString summaryText(const ScanReport& report);

// Port names, each once, in the order they came up.
QStringList busyPorts(const ScanReport& report);
QStringList activityPorts(const ScanReport& report);

}  // namespace torvix::scan
