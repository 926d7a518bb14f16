#pragma once
// SerialPort on a Windows COM port through Win32; reopens by itself after the device went away.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>

#include "link/line_settings.h"
#include "link/port_resolver.h"
#include "link/serial_port.h"

struct _DCB;

namespace torvix {

// "COM12" -> "\\.\COM12": from COM10 on Windows finds a port only in the device namespace, and
// the prefix does no harm below. A name that already starts with "\\" is taken as it is.
QString windowsDeviceName(const QString& portName);

// The one place that turns what CreateFile or SetCommState said (GetLastError) into our number.
// Windows reports a port held by another program as access denied; there is no "dialout".
PortErrorCode windowsOpenErrorCode(unsigned long win32Error);

// Speed and framing, and no flow control of any kind: a port that another program left with
// CTS or XON/XOFF handshaking would otherwise hold our frames back.
void describeLine(_DCB& dcb, const LineSettings& settings);

class WinSerialPort : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kReopenInterval{1000};

    explicit WinSerialPort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);
    ~WinSerialPort() override;

    // Number -> port name ("COM23", "\\.\CNCA0"), filled from the configuration.
    void setPortOverrides(std::map<int, QString> overrides);

    PortStatus setPortNumber(int number) override;
    PortStatus setLineSettings(const LineSettings& settings) override;
    PortStatus setPortOpen(bool open) override;
    bool isPortOpen() const override;
    int inBufferCount() override;
    std::uint8_t input() override;
    void output(std::span<const std::uint8_t> frame) override;
    void discardInput() override;

    int portNumber() const { return number_; }
    const LineSettings& lineSettings() const { return settings_; }
    // The port name last opened, e.g. "COM5".
    QString devicePath() const { return devicePath_; }
    // True while the port, closed because its device went away, tries to reopen once per
    // kReopenInterval.
    bool isReopening() const { return reopenTimer_.isActive(); }

signals:
    // The device went away (adapter pulled); the port closed itself.
    void hungUp();
    // One try to reopen after a hang-up; ok when the link is back.
    void reopenAttempted(bool ok);
    void reopened();

private:
    PortStatus openDevice();
    void closeDevice();
    bool applySettings(const LineSettings& settings);
    void takeInWaitingBytes();
    void hangUp();
    void stopReopening();
    void attemptReopen();

    PortResolver resolver_;
    QTimer reopenTimer_;
    void* handle_;  // HANDLE; INVALID_HANDLE_VALUE while closed
    int number_ = 1;
    LineSettings settings_;  // 9600,n,8,1 until the start-up sets the configured ones
    QString devicePath_;
    std::deque<std::uint8_t> rx_;
};

}  // namespace torvix
