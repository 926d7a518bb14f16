#pragma once
// What a bus scan probes and in which order: ports, line settings, slave addresses.

#include <QString>
#include <map>
#include <variant>
#include <vector>

#include "protocol/defaults.h"
#include "protocol/line_settings.h"

namespace torvix::scan {

// One port to probe, named as the user knows it.
struct ScanPort {
    int number = 0;  // what the port object is set to; paths and device servers get free ones
    QString name;    // "COM5", a device path or "tcp://HOST:PORT"
    QString device;  // what the number stands for ("/dev/ttyUSB0"); empty where it is the name
    // A serial device server: the speed is its own, so only the addresses are probed.
    bool tcp = false;

    friend bool operator==(const ScanPort&, const ScanPort&) = default;
};

struct ScanPlan {
    std::vector<ScanPort> ports;         // in probe order
    std::vector<LineSettings> settings;  // in probe order
    int firstAddress = defaults::kLowestSlaveAddress;
    int lastAddress = defaults::kHighestSlaveAddress;
    // Tried first on every port and setting; the others follow in ascending order.
    int preferredAddress = defaults::kSlaveAddress;
    bool all = false;  // go on after the first controller found
    double replyTimeoutMs = 50;

    // The addresses in probe order.
    std::vector<int> addresses() const;
    // The settings a port is probed on: all of them, or the first alone for a device server.
    int settingsCountOf(const ScanPort& port) const;
    // A probe at `line` waits for the request and the reply on the wire, then the allowance.
    double probeWaitMs(const LineSettings& line) const;
    // The whole block read that follows a find.
    double statusWaitMs(const LineSettings& line) const;
    // Probes of one port and of the whole plan, and the time they take.
    long long probesOf(const ScanPort& port) const;
    long long probeCount() const;
    double waitMsOf(const ScanPort& port) const;
};

// The 20 settings in the order the scan tries them: 115200, 57600, 38400, 19200, 9600 baud,
// each with parity e, n and o on 8 data bits and 1 stop bit, and n with 2 stop bits.
std::vector<LineSettings> standardSettings();

// Moves `first` to the front when it is among `items`; the others keep their order.
template <class T>
void putFirst(std::vector<T>& items, const T& first) {
    for (auto it = items.begin(); it != items.end(); ++it)
        if (*it == first) {
            const T kept = *it;
            items.erase(it);
            items.insert(items.begin(), kept);
            return;
        }
}

// The port and settings of тп.ini first: the most likely place of the controller. Settings
// outside the plan's list are added in front only when `addSettings` (the default list).
void preferConfigured(ScanPlan& plan, int port, const QString& settingsText, bool addSettings);

// "115200,e,8,1;19200,e,8,1" (';' between settings); an error text for one that does not parse.
std::variant<std::vector<LineSettings>, QString> parseSettingsList(const QString& text);

// "1-247" or "7": the lowest and highest address; an error text outside 1..247.
struct AddressRange {
    int first = defaults::kLowestSlaveAddress;
    int last = defaults::kHighestSlaveAddress;
};
std::variant<AddressRange, QString> parseAddressRange(const QString& text);

// The ports of a scan and what their numbers stand for (section "Ports" of тп.ini, plus the
// numbers handed to paths and device servers named directly).
struct PortList {
    std::vector<ScanPort> ports;
    std::map<int, QString> overrides;
};
// "1-16", "5,7,23", "COM17", "/dev/ttyUSB0", "tcp://10.0.0.5:4001", separated by commas.
std::variant<PortList, QString> parsePortList(const QString& text,
                                              std::map<int, QString> overrides);
// Ports 1..16 and every other serial port the system lists (`systemPorts`: "COM17" or device
// paths); a listed device that one of the numbers already stands for is not probed twice.
PortList defaultPorts(std::map<int, QString> overrides, const QStringList& systemPorts);

}  // namespace torvix::scan
