#pragma once
// The byte stream under a TcpPort: a QTcpSocket in the programs, a script in tests.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <span>

#include "link/tcp_address.h"

namespace torvix {

// Its signals come from the event loop, never from inside one of its calls, and none comes
// for an attempt that abort() ended.
class TcpConnection : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts connecting, the host name looked up without blocking; the outcome is connected()
    // or failed().
    virtual void connectTo(const TcpAddress& address) = 0;
    // Drops the connection or the attempt at once.
    virtual void abort() = 0;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // The bytes received and not yet taken, without waiting.
    virtual QByteArray takeReceived() = 0;

signals:
    void connected();
    void failed(const QString& reason);  // the attempt came to nothing (refused, unreachable)
    void closed(const QString& reason);  // the server closed or reset an established connection
    void received();                     // bytes came in for takeReceived()
};

}  // namespace torvix
