#pragma once
// SerialPort on a serial device server: the RTU frames as they are, in a TCP connection.
//
// Opening only starts connecting and the port reads open at once; until the server accepts,
// frames are dropped and the poll sees no answer. A connection that fails, is closed by the
// server or stays silent while requests go out is dropped and tried again once a second, as
// a serial adapter that went away. What can be told at open: refused, unreachable or no
// answer within the connect time-out ("не доступен"), and closed by the server right after
// accepting, which is how a one-client device server turns a second client away ("занят").
// A server that keeps a second client waiting, or lets it take the line from the first,
// cannot be told from a silent controller.

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "link/device_port.h"
#include "link/tcp_connection.h"

namespace torvix {

struct TcpTimings {
    std::chrono::milliseconds connectTimeout{3000};
    // A server that closes a new connection within this time, or twice the time the
    // connection took (one round trip and a little), has turned us away. A loaded ser2net box
    // takes tens of milliseconds to do so; one tick is all the start-up gives it.
    std::chrono::milliseconds busyWindow{100};
    std::chrono::milliseconds busyWindowCeiling{500};
    // Requests going out this long with no byte coming back: the server's serial side hangs.
    std::chrono::milliseconds silenceLimit{5000};
};

// Of DevicePort's signals, reopened() means connecting again has begun; connected() below
// says when the server has taken us.
class TcpPort : public DevicePort {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit TcpPort(PortResolver resolver = PortResolver(), QObject* parent = nullptr);
    TcpPort(PortResolver resolver, std::unique_ptr<TcpConnection> connection, TcpTimings timings,
            Clock clock, QObject* parent = nullptr);
    ~TcpPort() override;

    bool isPortOpen() const override;
    PortStatus finishOpening() override;
    void discardInput() override;
    void output(std::span<const std::uint8_t> frame) override;

    // The server has accepted us and the connection carries frames.
    bool isConnected() const { return state_ == State::Accepted || state_ == State::Up; }

signals:
    void bytesArrived();
    void connected();

protected:
    QString target(int number) const override;
    PortStatus openDevice() override;
    void closeDevice() override;
    bool applySettings(const LineSettings&) override { return true; }  // the server has its own
    QString lastError() const override { return lastError_; }
    void takeInWaitingBytes() override;

private:
    enum class State { Closed, Connecting, Accepted, Up };

    void onConnected();
    void onBusyWindowOver();
    void onFailed(const QString& reason);
    void onClosed(const QString& reason);
    // Closes; an open being waited for fails with `error`, otherwise the port tries again.
    void lose(const PortError& error);
    void endWait();

    std::unique_ptr<TcpConnection> connection_;
    TcpTimings timings_;
    Clock clock_;
    State state_ = State::Closed;
    QTimer connectTimer_;
    // Leaves the open undecided long enough for a server that turns clients away to say so;
    // the first request waits for it at start-up, later ones do not.
    QTimer busyTimer_;
    std::chrono::steady_clock::time_point connectStarted_;
    std::optional<std::chrono::steady_clock::time_point> unansweredSince_;
    QEventLoop* waiting_ = nullptr;  // finishOpening() in progress
    std::optional<PortError> openFailure_;
    QString lastError_;
};

}  // namespace torvix
