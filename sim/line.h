#pragma once
// The simulator's end of the serial line: a pseudo-terminal it creates, a real serial port, or
// a TCP port served as a serial device server serves one.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

namespace torvix::sim {

class Line : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool open(QString& error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // The path the master opens; a pseudo-terminal gets a new one at every open.
    virtual QString devicePath() const = 0;
    // A frame was taken and, if it gets one, its reply handed to write().
    virtual void frameHandled() {}
    // The speed the master set on its end, where the line can tell (a pseudo-terminal).
    virtual std::optional<qint32> masterBaudRate() const { return std::nullopt; }

signals:
    void received(const QByteArray& bytes);
};

}  // namespace torvix::sim
