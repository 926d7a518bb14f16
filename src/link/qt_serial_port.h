#pragma once
// SerialPort on a real device through Qt SerialPort; reopens by itself after a hang-up.

#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>

#include "link/line_settings.h"
#include "link/port_resolver.h"
#include "link/serial_port.h"

namespace torvix {

// The one place that turns a refused open into our error number. systemError is errno as Qt
// left it; deviceAccessible tells whether we may read and write the device node at all. Qt
// says PermissionError for its lock file, for EBUSY and for EACCES alike.
PortErrorCode openErrorCode(QSerialPort::SerialPortError error, int systemError,
                            bool deviceAccessible);

// Puts the settings on a port, open or not; without parity when the device cannot have it.
bool applyLineSettings(QSerialPort& port, const LineSettings& settings, bool withoutParity = false);

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kReopenInterval{1000};
    // Bytes Qt may hold for us between two ticks. A tick judges one reply of at most 256
    // bytes, and at 115200 baud about 1050 bytes fit between two ticks; anything beyond is
    // noise. Once full, Qt stops reading and the driver's own buffer throttles the sender, so
    // a line that floods (a babbling device, a CDC-ACM adapter with no baud limit) cannot
    // fill our memory.
    static constexpr qint64 kReadBufferSize = 4096;

    explicit QtSerialPort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);
    ~QtSerialPort() override;

    // Number -> device path, filled from the configuration; wins over the fixed table.
    void setPortOverrides(std::map<int, QString> overrides);

    PortStatus setPortNumber(int number) override;
    PortStatus setLineSettings(const LineSettings& settings) override;
    PortStatus setPortOpen(bool open) override;
    bool isPortOpen() const override;
    int inBufferCount() override;
    std::uint8_t input() override;
    void discardInput() override;
    void output(std::span<const std::uint8_t> frame) override;

    int portNumber() const { return number_; }
    const LineSettings& lineSettings() const { return settings_; }
    // The canonical path of the device last opened.
    QString devicePath() const { return devicePath_; }
    // True while the port, closed by a hang-up, tries to reopen once per kReopenInterval.
    bool isReopening() const { return reopenTimer_.isActive(); }

signals:
    // Bytes reached our buffer between ticks (from the event loop, as they come in).
    void bytesArrived();
    // The device went away (adapter pulled, other end closed); the port closed itself.
    void hungUp();
    // One try to reopen after a hang-up; ok when the link is back.
    void reopenAttempted(bool ok);
    void reopened();

private:
    PortStatus openDevice();
    void closeDevice();
    bool applySettings(const LineSettings& settings);
    void takeInWaitingBytes();
    void onSerialError(QSerialPort::SerialPortError error);
    void finishHangUp();
    void stopReopening();
    void attemptReopen();

    PortResolver resolver_;
    QSerialPort serial_;
    QTimer reopenTimer_;
    int number_ = 1;
    LineSettings settings_;  // 9600,n,8,1 until the start-up sets the configured ones
    QString devicePath_;
    std::deque<std::uint8_t> rx_;

    bool pseudoTerminal_ = false;
    bool opening_ = false;
    int openErrno_ = 0;
    // Set as soon as a hang-up shows; the device is closed outside Qt's notifier callback.
    bool hangUpSeen_ = false;
    int readErrorsInARow_ = 0;
};

}  // namespace torvix
