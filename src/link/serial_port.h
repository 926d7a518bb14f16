#pragma once
// The serial line to the controller as the link, the start-up and the port dialog use it.

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/line_settings.h"

namespace torvix {

// Numbers follow the Windows comm control the operators know; the start-up only tells
// PortInUse apart ("занят другим приложением") from everything else ("не доступен").
enum class PortErrorCode : int {
    InvalidSettings = 380,    // line settings that do not parse or that the device refuses
    PortAlreadyOpen = 8000,   // another port number asked for while the port is open
    NoSuchPort = 8002,        // the number maps to no device
    PortInUse = 8005,         // another application holds the port
    PermissionDenied = 8010,  // the device exists but we may not open it (dialout group)
    OpenFailed = 8012,        // any other refusal of the operating system
};

struct PortError {
    PortErrorCode code;
    QString detail;  // what the operating system said, for logs and tooltips

    int number() const { return static_cast<int>(code); }
};

// Outcome of one port operation: success, or the error the operation raised.
class [[nodiscard]] PortStatus {
public:
    PortStatus() = default;
    PortStatus(PortError error) : error_(std::move(error)) {}  // NOLINT: implicit by design

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const PortError& error() const { return *error_; }

private:
    std::optional<PortError> error_;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // 1 is the first port. Refused when no such port exists, or when the port is open on
    // another number; the number already in use is accepted without effect.
    virtual PortStatus setPortNumber(int number) = 0;
    // Settings the open device refuses leave the last accepted ones in force.
    virtual PortStatus setLineSettings(const LineSettings& settings) = 0;
    // true opens with the current number and settings (no effect when already open).
    virtual PortStatus setPortOpen(bool open) = 0;
    virtual bool isPortOpen() const = 0;
    // Waits, with the event loop running, for an open that completes later (a connection to
    // a device server) and tells its outcome; the port is closed when it failed. A port that
    // opens at once has nothing to wait for.
    virtual PortStatus finishOpening() { return {}; }

    // Received bytes waiting to be taken with input().
    virtual int inBufferCount() = 0;
    // Removes and returns the next received byte; call only while inBufferCount() > 0.
    virtual std::uint8_t input() = 0;
    // Throws away every received byte not yet taken, the driver's too.
    virtual void discardInput() = 0;
    // Writes one whole frame.
    virtual void output(std::span<const std::uint8_t> frame) = 0;
};

// The settings text of тп.ini, the dialog or the command line, parsed once here: a text that
// does not parse is refused as the port refuses settings it cannot apply.
PortStatus setLineSettingsText(SerialPort& port, QStringView text);

}  // namespace torvix
