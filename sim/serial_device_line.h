#pragma once
// A real serial port, for a controller simulated on a second machine or a null-modem pair.

#include <QSerialPort>

#include "sim/line.h"
#include "sim/line_settings.h"

namespace torvix::sim {

class SerialDeviceLine final : public Line {
    Q_OBJECT
public:
    SerialDeviceLine(QString path, LineSettings settings, QObject* parent = nullptr);

    bool open(QString& error) override;
    void close() override { port_.close(); }
    bool isOpen() const override { return port_.isOpen(); }
    void write(const QByteArray& bytes) override;
    QString devicePath() const override { return path_; }

private:
    QString path_;
    LineSettings settings_;
    QSerialPort port_;
};

}  // namespace torvix::sim
