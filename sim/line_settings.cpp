#include "sim/line_settings.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace torvix::sim {

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    const QStringList parts = text.trimmed().toLower().split(QLatin1Char(','));
    if (parts.size() != 4) return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud < 50 || s.baud > 4000000) return std::nullopt;
    const QString parity = parts[1].trimmed();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity)) return std::nullopt;
    s.parity = parity[0].toLatin1();
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8) return std::nullopt;
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = 1;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = 1.5;
    else if (stop == QLatin1String("2"))
        s.stopBits = 2;
    else
        return std::nullopt;
    return s;
}

std::chrono::milliseconds LineSettings::silentInterval() const {
    const double bits = 1 + dataBits + (parity == 'n' ? 0 : 1) + stopBits;
    const double ms = 3.5 * bits * 1000.0 / baud;
    return std::chrono::milliseconds(std::max(2L, static_cast<long>(std::ceil(ms))));
}

}  // namespace torvix::sim
