#pragma once
// "tcp://HOST:PORT", the address of a serial device server, as section "Ports" and --port name it.

#include <QString>
#include <QStringView>
#include <optional>

namespace torvix {

struct TcpAddress {
    QString host;  // a name, an IPv4 address or an IPv6 address without brackets
    quint16 port = 0;

    // Back to "tcp://HOST:PORT", with brackets around an IPv6 address.
    QString text() const;
};

// True for text that is meant as a TCP address, valid or not: it is then no device path.
bool isTcpAddressText(QStringView text);
// The address, when the text is "tcp://" with a host and a port 1..65535 and nothing else.
std::optional<TcpAddress> parseTcpAddress(QStringView text);
// "HOST:PORT" to listen on ("[::1]:4001" for IPv6); port 0 asks for any free port.
std::optional<TcpAddress> parseListenAddress(QStringView text);

}  // namespace torvix
