#pragma once
// The port the programs open: the serial device or the device server over TCP, whichever the
// port number stands for. Both reopen by themselves through DevicePort.

#include <QObject>
#include <map>

#include "link/platform_serial_port.h"
#include "link/tcp_port.h"

namespace torvix {

class LinePort : public QObject, public SerialPort {
    Q_OBJECT

public:
    explicit LinePort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);

    // Number -> device path or "tcp://HOST:PORT", from section "Ports" of тп.ini.
    void setPortOverrides(std::map<int, QString> overrides);

    PortStatus setPortNumber(int number) override;
    PortStatus setLineSettings(const LineSettings& settings) override;
    PortStatus setPortOpen(bool open) override;
    bool isPortOpen() const override { return active_->isPortOpen(); }
    PortStatus finishOpening() override { return active_->finishOpening(); }
    int inBufferCount() override { return active_->inBufferCount(); }
    std::uint8_t input() override { return active_->input(); }
    void discardInput() override { active_->discardInput(); }
    void output(std::span<const std::uint8_t> frame) override { active_->output(frame); }

    // The port behind the number set last.
    DevicePort& active() { return *active_; }
    bool isTcp() const { return active_ == &tcp_; }

signals:
    // Bytes came in between ticks, where the port can tell (not on a Windows COM port).
    void bytesArrived();

private:
    PortResolver resolver_;
    PlatformSerialPort device_;
    TcpPort tcp_;
    DevicePort* active_ = &device_;
};

}  // namespace torvix
