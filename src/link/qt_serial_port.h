#pragma once
// SerialPort on a real device through Qt SerialPort; reopens by itself after a hang-up.

#include <QSerialPort>

#include "link/device_port.h"

namespace torvix {

// The one place that turns a refused open into our error number. systemError is errno as Qt
// left it; deviceAccessible tells whether we may read and write the device node at all. Qt
// says PermissionError for its lock file, for EBUSY and for EACCES alike.
PortErrorCode openErrorCode(QSerialPort::SerialPortError error, int systemError,
                            bool deviceAccessible);

// Puts the settings on a port, open or not; without parity when the device cannot have it.
bool applyLineSettings(QSerialPort& port, const LineSettings& settings, bool withoutParity = false);

class QtSerialPort : public DevicePort {
    Q_OBJECT

public:
    // Bytes Qt may hold for us between two ticks. A tick judges one reply of at most 256
    // bytes, and at 115200 baud about 1050 bytes fit between two ticks; anything beyond is
    // noise. Once full, Qt stops reading and the driver's own buffer throttles the sender, so
    // a line that floods (a babbling device, a CDC-ACM adapter with no baud limit) cannot
    // fill our memory.
    static constexpr qint64 kReadBufferSize = 4096;

    explicit QtSerialPort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool isPortOpen() const override;
    void discardInput() override;
    void output(std::span<const std::uint8_t> frame) override;

signals:
    // Bytes reached our buffer between ticks (from the event loop, as they come in).
    void bytesArrived();

protected:
    PortStatus openDevice() override;
    void closeDevice() override;
    bool applySettings(const LineSettings& settings) override;
    QString lastError() const override { return serial_.errorString(); }
    void takeInWaitingBytes() override;
    void stopReopening() override;

private:
    void onSerialError(QSerialPort::SerialPortError error);
    void finishHangUp();

    QSerialPort serial_;
    bool pseudoTerminal_ = false;
    bool opening_ = false;
    int openErrno_ = 0;
    // Set as soon as a hang-up shows; the device is closed outside Qt's notifier callback.
    bool hangUpSeen_ = false;
    int readErrorsInARow_ = 0;
};

}  // namespace torvix
