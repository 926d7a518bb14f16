#include "link/qt_tcp_connection.h"

#include <QNetworkProxy>

namespace torvix {

QtTcpConnection::QtTcpConnection(QObject* parent) : TcpConnection(parent) {
    // A system or environment proxy would send the controller's frames somewhere else.
    socket_.setProxy(QNetworkProxy::NoProxy);
    socket_.setReadBufferSize(kReadBufferSize);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        established_ = true;
        // A request is one small write that must leave now, not wait for Nagle.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket_.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                kSystemReceiveBuffer);
        QMetaObject::invokeMethod(
            this,
            [this, attempt = attempt_] {
                if (attempt == attempt_) emit connected();
            },
            Qt::QueuedConnection);
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SocketTimeoutError ||
            error == QAbstractSocket::TemporaryError)
            return;
        ended(socket_.errorString());
    });
    connect(&socket_, &QTcpSocket::disconnected, this,
            [this] { ended(QStringLiteral("соединение закрыто")); });
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpConnection::received);
}

QtTcpConnection::~QtTcpConnection() {
    disconnect(&socket_, nullptr, this, nullptr);
    socket_.abort();
}

void QtTcpConnection::connectTo(const TcpAddress& address) {
    abort();
    socket_.connectToHost(address.host, address.port);
}

void QtTcpConnection::abort() {
    endReported_ = true;  // what the socket says about its own abort is no news
    socket_.abort();
    ++attempt_;
    established_ = false;
    endReported_ = false;
}

void QtTcpConnection::write(std::span<const std::uint8_t> bytes) {
    if (socket_.state() != QAbstractSocket::ConnectedState) return;
    socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // Out now, not at the next event-loop pass: in the window that pass repaints first, and
    // the request would leave as late as the drawing takes.
    socket_.flush();
}

QByteArray QtTcpConnection::takeReceived() {
    // Qt reads from the system only in the event loop, which a poll tick does not yield to:
    // take what the system already holds, without waiting.
    if (socket_.bytesAvailable() == 0 && socket_.state() == QAbstractSocket::ConnectedState)
        socket_.waitForReadyRead(0);
    return socket_.readAll();
}

void QtTcpConnection::ended(const QString& reason) {
    if (endReported_) return;
    endReported_ = true;
    // Reported from the event loop: the socket is still inside its own signal here.
    QMetaObject::invokeMethod(
        this,
        [this, attempt = attempt_, wasEstablished = established_, reason] {
            if (attempt != attempt_) return;
            if (wasEstablished)
                emit closed(reason);
            else
                emit failed(reason);
        },
        Qt::QueuedConnection);
}

}  // namespace torvix
