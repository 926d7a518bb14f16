#include "link/port_resolver.h"

#include <QFileInfo>
#include <array>

#include "protocol/defaults.h"

namespace torvix {
#ifndef Q_OS_WIN
namespace {

struct TableRange {
    int firstNumber;
    int lastNumber;
    const char* devicePrefix;  // the first number of the range maps to index 0
};

constexpr std::array<TableRange, 3> kPortTable{{
    {defaults::kFirstPort, 4, "/dev/ttyS"},
    {5, 12, "/dev/ttyUSB"},
    {13, defaults::kLastPort, "/dev/ttyACM"},
}};

}  // namespace
#endif

PortResolver::PortResolver(Lookup lookup) : lookup_(std::move(lookup)) {}

void PortResolver::setOverrides(std::map<int, QString> overrides) {
    std::erase_if(overrides, [](const auto& entry) {
        return entry.first < 1 || entry.first > kMaxPortNumber || entry.second.isEmpty();
    });
    overrides_ = std::move(overrides);
}

QString PortResolver::tablePath(int number) {
#ifdef Q_OS_WIN
    if (number >= 1 && number <= kMaxPortNumber) return QStringLiteral("COM%1").arg(number);
#else
    for (const TableRange& range : kPortTable) {
        if (number >= range.firstNumber && number <= range.lastNumber)
            return QLatin1String(range.devicePrefix) + QString::number(number - range.firstNumber);
    }
#endif
    return {};
}

QString PortResolver::devicePath(int number) const {
    if (const auto it = overrides_.find(number); it != overrides_.end()) return it->second;
    return tablePath(number);
}

QString PortResolver::resolve(int number) const {
    const QString path = devicePath(number);
    return path.isEmpty() || isTcpAddressText(path) ? QString() : lookup_(path);
}

std::optional<TcpAddress> PortResolver::tcpAddress(int number) const {
    return parseTcpAddress(devicePath(number));
}

QString PortResolver::canonicalExistingPath(const QString& path) {
#ifdef Q_OS_WIN
    // A COM name is no file: only opening the port tells whether it is there.
    return path;
#else
    return QFileInfo(path).canonicalFilePath();
#endif
}

}  // namespace torvix
