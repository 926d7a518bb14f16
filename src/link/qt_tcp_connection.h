#pragma once
// TcpConnection through QTcpSocket, with no proxy and a bounded read buffer.

#include <QTcpSocket>

#include "link/tcp_connection.h"

namespace torvix {

class QtTcpConnection final : public TcpConnection {
    Q_OBJECT

public:
    // As on a serial port: once this much waits, Qt stops reading and TCP's own flow control
    // holds a flooding server back, so it cannot fill our memory.
    static constexpr qint64 kReadBufferSize = 4096;
    // The system's own buffer, kept small as a serial driver's: a flood that filled a large
    // one would take the drain limit many ticks to clear before the next reply shows.
    static constexpr int kSystemReceiveBuffer = 32 * 1024;

    explicit QtTcpConnection(QObject* parent = nullptr);
    ~QtTcpConnection() override;

    void connectTo(const TcpAddress& address) override;
    void abort() override;
    void write(std::span<const std::uint8_t> bytes) override;
    QByteArray takeReceived() override;

private:
    void ended(const QString& reason);

    QTcpSocket socket_;
    quint64 attempt_ = 0;  // what is queued for an earlier attempt is dropped
    bool established_ = false;
    bool endReported_ = false;
};

}  // namespace torvix
