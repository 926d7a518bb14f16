#pragma once
// Turns a port number (1 = COM1) into the device to open.
//
// On Windows a number is the port's own name, COMn. On Linux a fixed table gives the numbers
// operators know from Windows a meaning:
//   COM1  .. COM4   ->  /dev/ttyS0   .. /dev/ttyS3     on-board UARTs
//   COM5  .. COM12  ->  /dev/ttyUSB0 .. /dev/ttyUSB7   USB adapters (FTDI, CP210x, CH340, ...)
//   COM13 .. COM16  ->  /dev/ttyACM0 .. /dev/ttyACM3   USB CDC-ACM adapters
// An override (number -> path, e.g. /dev/serial/by-id/... from section "Ports" of тп.ini) wins
// over the table; on Linux numbers 17..255 exist only through overrides. An override may also
// be a serial device server, "tcp://HOST:PORT": that number then names no device.

#include <QString>
#include <functional>
#include <map>
#include <optional>

#include "link/tcp_address.h"

namespace torvix {

class PortResolver {
public:
    static constexpr int kMaxPortNumber = 255;

    // The canonical path of an existing device at path, empty when there is none. Both the
    // existence test and the canonicalisation go through it, so tests can fake the file system.
    using Lookup = std::function<QString(const QString& path)>;

    explicit PortResolver(Lookup lookup = canonicalExistingPath);

    // Numbers outside 1..kMaxPortNumber are dropped.
    void setOverrides(std::map<int, QString> overrides);

    // The path a number names, without asking whether it exists; empty when it names none.
    QString devicePath(int number) const;
    // The canonical path of the device behind number, empty when there is none. A symlink and
    // its target give the same path, so they are the same port for locking.
    QString resolve(int number) const;
    // The device server a number stands for, if it stands for one and its address is valid.
    std::optional<TcpAddress> tcpAddress(int number) const;
    // True when the number's entry is a "tcp://" address, valid or not.
    bool namesTcpAddress(int number) const { return isTcpAddressText(devicePath(number)); }

    // The fixed table alone.
    static QString tablePath(int number);
    static QString canonicalExistingPath(const QString& path);

private:
    Lookup lookup_;
    std::map<int, QString> overrides_;
};

}  // namespace torvix
