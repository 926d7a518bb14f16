#pragma once
// The controller's end of the line served over TCP, as a serial device server serves it: one
// client at a time; another one is accepted and closed at once.

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "link/tcp_address.h"
#include "sim/line.h"

namespace torvix::sim {

class TcpLine final : public Line {
    Q_OBJECT
public:
    // `closeEvery`: the client's connection is closed after every that many frames; 0 never.
    TcpLine(TcpAddress listenOn, int closeEvery, QObject* parent = nullptr);
    ~TcpLine() override;

    bool open(QString& error) override;
    void close() override;
    bool isOpen() const override { return server_.isListening(); }
    void write(const QByteArray& bytes) override;
    // "tcp://HOST:PORT" with the port really listened on.
    QString devicePath() const override { return address_.text(); }
    void frameHandled() override;

private:
    void acceptClients();
    void dropClient();

    TcpAddress address_;  // port 0 until the first listen picks one; kept for reopening
    int closeEvery_;
    int framesOnConnection_ = 0;
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
};

}  // namespace torvix::sim
