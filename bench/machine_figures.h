#pragma once
// What a benchmark prints beside its figures: the process's memory and the machine it ran on.

#include <sys/resource.h>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace torvix::bench {

inline double rssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
    return 0;
}

// The most the process has held so far, as the kernel counts it.
inline double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

inline QString cpuModel() {
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (!info.open(QIODevice::ReadOnly)) return QStringLiteral("unknown");
    for (const QByteArray& line : info.readAll().split('\n'))
        if (line.startsWith("model name"))
            return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown");
}

// The load average line of /proc/loadavg: other builds share the cores.
inline QString loadAverage() {
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? QString::fromLatin1(load.readAll().trimmed())
                                          : QStringLiteral("unknown");
}

}  // namespace torvix::bench
