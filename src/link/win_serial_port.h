#pragma once
// SerialPort on a Windows COM port through Win32; reopens by itself after the device went away.

#include "link/device_port.h"

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

class WinSerialPort : public DevicePort {
    Q_OBJECT

public:
    explicit WinSerialPort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);
    ~WinSerialPort() override;

    bool isPortOpen() const override;
    void output(std::span<const std::uint8_t> frame) override;
    void discardInput() override;

protected:
    PortStatus openDevice() override;
    void closeDevice() override;
    bool applySettings(const LineSettings& settings) override;
    QString lastError() const override;
    void takeInWaitingBytes() override;

private:
    void hangUp();

    void* handle_;  // HANDLE; INVALID_HANDLE_VALUE while closed
};

}  // namespace torvix
