#include "sim/tcp_line.h"

#include <QTimer>

namespace torvix::sim {

TcpLine::TcpLine(TcpAddress listenOn, int closeEvery, QObject* parent)
    : Line(parent), address_(std::move(listenOn)), closeEvery_(closeEvery) {
    connect(&server_, &QTcpServer::newConnection, this, &TcpLine::acceptClients);
}

TcpLine::~TcpLine() {
    close();
}

bool TcpLine::open(QString& error) {
    const QHostAddress host = address_.host == u"localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                            : QHostAddress(address_.host);
    if (host.isNull()) {
        error = QStringLiteral("%1: not an IP address to listen on").arg(address_.host);
        return false;
    }
    if (!server_.listen(host, address_.port)) {
        error = QStringLiteral("%1: %2").arg(address_.text(), server_.errorString());
        return false;
    }
    address_.port = server_.serverPort();
    return true;
}

void TcpLine::close() {
    dropClient();
    server_.close();
}

void TcpLine::acceptClients() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (client_) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        client_ = socket;
        framesOnConnection_ = 0;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket == client_) emit received(socket->readAll());
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TcpLine::write(const QByteArray& bytes) {
    if (client_ && client_->state() == QAbstractSocket::ConnectedState) client_->write(bytes);
}

void TcpLine::frameHandled() {
    if (closeEvery_ <= 0 || !client_) return;
    if (++framesOnConnection_ < closeEvery_) return;
    // After the reply that is on its way now: the client sees it, then the end.
    client_->disconnectFromHost();
    client_ = nullptr;
}

void TcpLine::dropClient() {
    if (!client_) return;
    client_->abort();
    client_->deleteLater();
    client_ = nullptr;
}

}  // namespace torvix::sim
