#pragma once
// What every SerialPort on a real device shares: the port number and its device, the line
// settings, the bytes taken in, and reopening once a second after the device went away.

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>

#include "link/port_resolver.h"
#include "link/serial_port.h"
#include "protocol/line_settings.h"

namespace torvix {

class DevicePort : public QObject, public SerialPort {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kReopenInterval{1000};

    // Number -> device, filled from the configuration; wins over the platform's own naming.
    void setPortOverrides(std::map<int, QString> overrides);

    PortStatus setPortNumber(int number) override;
    PortStatus setLineSettings(const LineSettings& settings) override;
    PortStatus setPortOpen(bool open) override;
    int inBufferCount() override;
    std::uint8_t input() override;

    int portNumber() const { return number_; }
    const LineSettings& lineSettings() const { return settings_; }
    // The device last opened.
    QString devicePath() const { return devicePath_; }
    // True while the port, closed because its device went away, tries to reopen once per
    // kReopenInterval.
    bool isReopening() const { return reopenTimer_.isActive(); }

signals:
    // The device went away (adapter pulled, other end closed); the port closed itself.
    void hungUp();
    // One try to reopen after a hang-up; ok when the link is back.
    void reopenAttempted(bool ok);
    void reopened();

protected:
    DevicePort(PortResolver resolver, QObject* parent);

    // What a number stands for on this kind of port; empty when it stands for nothing here.
    virtual QString target(int number) const { return resolver_.resolve(number); }
    // Opens the device resolved for number_ with settings_, and sets devicePath_.
    virtual PortStatus openDevice() = 0;
    virtual void closeDevice() = 0;
    // Puts the settings on the open device; true while closed (open applies them).
    virtual bool applySettings(const LineSettings& settings) = 0;
    // Why the device refused the last operation, in the system's words.
    virtual QString lastError() const = 0;
    // Adds to rx_ what the driver already holds, without waiting.
    virtual void takeInWaitingBytes() = 0;
    // Closing on purpose, or another number: no more attempts.
    virtual void stopReopening() { reopenTimer_.stop(); }

    // The device went away and is closed: try again once per kReopenInterval.
    void startReopening();

    PortResolver resolver_;
    int number_ = 1;
    LineSettings settings_;  // 9600,n,8,1 until the start-up sets the configured ones
    QString devicePath_;
    std::deque<std::uint8_t> rx_;

private:
    void attemptReopen();

    QTimer reopenTimer_;
};

}  // namespace torvix
