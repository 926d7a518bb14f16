#include "scan/scan_plan.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <set>

#include "link/port_resolver.h"
#include "link/tcp_address.h"
#include "protocol/request_table.h"

namespace torvix::scan {
namespace {

// Around a PDU on the line: the slave address before it, the CRC after it.
constexpr std::size_t kAddressAndCrcBytes = 3;

std::optional<int> numberOf(const QString& text) {
    static const QRegularExpression kNumber(QStringLiteral(R"(^(?:[Cc][Oo][Mm])?(\d{1,3})$)"));
    const auto match = kNumber.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const int number = match.captured(1).toInt();
    if (number < 1 || number > PortResolver::kMaxPortNumber) return std::nullopt;
    return number;
}

ScanPort numberedPort(int number, const PortResolver& resolver) {
    return {number, QStringLiteral("COM%1").arg(number), resolver.devicePath(number),
            resolver.namesTcpAddress(number)};
}

// A path or a device server named directly takes the highest number nothing else uses.
std::optional<int> freeNumber(const std::map<int, QString>& overrides, const std::set<int>& used) {
    for (int n = PortResolver::kMaxPortNumber; n > defaults::kLastPort; --n)
        if (!overrides.contains(n) && !used.contains(n)) return n;
    return std::nullopt;
}

}  // namespace

std::vector<int> ScanPlan::addresses() const {
    std::vector<int> order;
    for (int address = firstAddress; address <= lastAddress; ++address) order.push_back(address);
    putFirst(order, preferredAddress);
    return order;
}

int ScanPlan::settingsCountOf(const ScanPort& port) const {
    if (settings.empty()) return 0;
    return port.tcp ? 1 : int(settings.size());
}

double ScanPlan::probeWaitMs(const LineSettings& line) const {
    const std::size_t request = requests::probeReadPdu().size() + kAddressAndCrcBytes;
    return line.wireMicroseconds(request + requests::kProbeReplyBytes) / 1000 + replyTimeoutMs;
}

double ScanPlan::statusWaitMs(const LineSettings& line) const {
    const std::size_t request = requests::statusReadPdu().size() + kAddressAndCrcBytes;
    return line.wireMicroseconds(request + protocol::kStatusReplyBytes) / 1000 + replyTimeoutMs;
}

long long ScanPlan::probesOf(const ScanPort& port) const {
    return (long long)settingsCountOf(port) * std::max(0, lastAddress - firstAddress + 1);
}

long long ScanPlan::probeCount() const {
    long long count = 0;
    for (const ScanPort& port : ports) count += probesOf(port);
    return count;
}

double ScanPlan::waitMsOf(const ScanPort& port) const {
    double ms = 0;
    for (int i = 0; i < settingsCountOf(port); ++i)
        ms += probeWaitMs(settings[size_t(i)]) * std::max(0, lastAddress - firstAddress + 1);
    return ms;
}

std::vector<LineSettings> standardSettings() {
    using P = LineSettings::Parity;
    using S = LineSettings::StopBits;
    std::vector<LineSettings> list;
    for (qint32 baud : {115200, 57600, 38400, 19200, 9600})
        for (auto [parity, stop] : {std::pair{P::Even, S::One}, std::pair{P::None, S::One},
                                    std::pair{P::Odd, S::One}, std::pair{P::None, S::Two}})
            list.push_back({baud, parity, 8, stop});
    return list;
}

void preferConfigured(ScanPlan& plan, int port, const QString& settingsText, bool addSettings) {
    for (auto it = plan.ports.begin(); it != plan.ports.end(); ++it)
        if (it->number == port) {
            std::rotate(plan.ports.begin(), it, it + 1);
            break;
        }
    const auto settings = LineSettings::parse(settingsText);
    if (!settings) return;
    if (addSettings &&
        std::find(plan.settings.begin(), plan.settings.end(), *settings) == plan.settings.end())
        plan.settings.insert(plan.settings.begin(), *settings);
    putFirst(plan.settings, *settings);
}

std::variant<std::vector<LineSettings>, QString> parseSettingsList(const QString& text) {
    std::vector<LineSettings> list;
    for (const QString& item : text.split(u';', Qt::SkipEmptyParts)) {
        const auto settings = LineSettings::parse(item);
        if (!settings)
            return QStringLiteral("настройки линии \"%1\" не разобраны (пример: %2)")
                .arg(item.trimmed(), QString::fromLatin1(defaults::kLineSettings));
        if (std::find(list.begin(), list.end(), *settings) == list.end()) list.push_back(*settings);
    }
    if (list.empty()) return QStringLiteral("список настроек линии пуст");
    return list;
}

std::variant<AddressRange, QString> parseAddressRange(const QString& text) {
    static const QRegularExpression kRange(
        QStringLiteral(R"(^\s*(\d{1,3})\s*(?:-\s*(\d{1,3})\s*)?$)"));
    const auto match = kRange.match(text);
    const QString bad = QStringLiteral("адреса \"%1\": нужен диапазон внутри %2-%3")
                            .arg(text)
                            .arg(defaults::kLowestSlaveAddress)
                            .arg(defaults::kHighestSlaveAddress);
    if (!match.hasMatch()) return bad;
    AddressRange range;
    range.first = match.captured(1).toInt();
    range.last = match.captured(2).isEmpty() ? range.first : match.captured(2).toInt();
    // Never 0, the broadcast: every controller on the bus would act and none answer.
    if (range.first < defaults::kLowestSlaveAddress ||
        range.last > defaults::kHighestSlaveAddress || range.first > range.last)
        return bad;
    return range;
}

std::variant<PortList, QString> parsePortList(const QString& text,
                                              std::map<int, QString> overrides) {
    PortList list;
    std::set<int> used;
    std::vector<QString> named;  // paths and device servers, numbered once the numbers are known
    static const QRegularExpression kRange(QStringLiteral(R"(^(\d{1,3})\s*-\s*(\d{1,3})$)"));
    std::vector<std::variant<int, QString>> items;
    for (const QString& raw : text.split(u',', Qt::SkipEmptyParts)) {
        const QString item = raw.trimmed();
        if (item.isEmpty()) continue;
        if (const auto match = kRange.match(item); match.hasMatch()) {
            const int first = match.captured(1).toInt();
            const int last = match.captured(2).toInt();
            if (first < 1 || last > PortResolver::kMaxPortNumber || first > last)
                return QStringLiteral("порты \"%1\": номера от 1 до %2")
                    .arg(item)
                    .arg(PortResolver::kMaxPortNumber);
            for (int n = first; n <= last; ++n) items.emplace_back(n);
        } else if (const auto number = numberOf(item)) {
            items.emplace_back(*number);
        } else if (item.contains(u'/') || item.contains(u'\\')) {
            if (isTcpAddressText(item) && !parseTcpAddress(item))
                return QStringLiteral("порт \"%1\": нужен tcp://HOST:PORT").arg(item);
            items.emplace_back(item);
        } else {
            return QStringLiteral("порт \"%1\" не номер 1..%2, не путь к устройству и не tcp://")
                .arg(item)
                .arg(PortResolver::kMaxPortNumber);
        }
    }
    for (const auto& item : items)
        if (const int* n = std::get_if<int>(&item)) used.insert(*n);
    std::set<int> listed;
    std::set<QString> listedNames;
    for (const auto& item : items) {
        if (const int* n = std::get_if<int>(&item)) {
            if (listed.insert(*n).second) list.ports.push_back({*n, {}, {}, false});
            continue;
        }
        const QString& name = std::get<QString>(item);
        if (!listedNames.insert(name).second) continue;
        const auto number = freeNumber(overrides, used);
        if (!number) return QStringLiteral("слишком много портов");
        overrides[*number] = name;
        used.insert(*number);
        list.ports.push_back({*number, name, {}, false});
    }
    if (list.ports.empty()) return QStringLiteral("список портов пуст");
    PortResolver resolver;
    resolver.setOverrides(overrides);
    for (ScanPort& port : list.ports) {
        if (port.name.isEmpty()) {
            port = numberedPort(port.number, resolver);
        } else {
            port.device = port.name;
            port.tcp = resolver.namesTcpAddress(port.number);
        }
    }
    list.overrides = std::move(overrides);
    return list;
}

PortList defaultPorts(std::map<int, QString> overrides, const QStringList& systemPorts) {
    PortResolver resolver;
    resolver.setOverrides(overrides);
    PortList list;
    std::set<QString> covered;  // canonical devices the numbers stand for
    std::set<int> used;
    for (int n = defaults::kFirstPort; n <= defaults::kLastPort; ++n) {
        list.ports.push_back(numberedPort(n, resolver));
        used.insert(n);
        if (const QString device = resolver.resolve(n); !device.isEmpty()) covered.insert(device);
    }
    for (const QString& system : systemPorts) {
        if (const auto number = numberOf(system)) {
            // A Windows port name: the number is the port.
            if (used.insert(*number).second) list.ports.push_back(numberedPort(*number, resolver));
            continue;
        }
        const QString canonical = PortResolver::canonicalExistingPath(system);
        if (canonical.isEmpty() || !covered.insert(canonical).second) continue;
        const auto number = freeNumber(overrides, used);
        if (!number) break;
        overrides[*number] = system;
        used.insert(*number);
        list.ports.push_back({*number, system, system, false});
    }
    list.overrides = std::move(overrides);
    return list;
}

}  // namespace torvix::scan
