#include "link/tcp_port.h"

#include <algorithm>
#include <utility>

#include "link/qt_tcp_connection.h"

namespace torvix {

TcpPort::TcpPort(PortResolver resolver, QObject* parent)
    : TcpPort(std::move(resolver), std::make_unique<QtTcpConnection>(), TcpTimings{},
              std::chrono::steady_clock::now, parent) {}

TcpPort::TcpPort(PortResolver resolver, std::unique_ptr<TcpConnection> connection,
                 TcpTimings timings, Clock clock, QObject* parent)
    : DevicePort(std::move(resolver), parent),
      connection_(std::move(connection)),
      timings_(timings),
      clock_(std::move(clock)) {
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(timings_.connectTimeout);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        onFailed(QStringLiteral("соединение не установлено за %1 мс")
                     .arg(timings_.connectTimeout.count()));
    });
    busyTimer_.setSingleShot(true);
    connect(&busyTimer_, &QTimer::timeout, this, &TcpPort::onBusyWindowOver);
    connect(connection_.get(), &TcpConnection::connected, this, &TcpPort::onConnected);
    connect(connection_.get(), &TcpConnection::failed, this, &TcpPort::onFailed);
    connect(connection_.get(), &TcpConnection::closed, this, &TcpPort::onClosed);
    connect(connection_.get(), &TcpConnection::received, this, &TcpPort::bytesArrived);
}

TcpPort::~TcpPort() {
    disconnect(connection_.get(), nullptr, this, nullptr);
    DevicePort::stopReopening();
    closeDevice();
}

bool TcpPort::isPortOpen() const {
    return state_ != State::Closed;
}

QString TcpPort::target(int number) const {
    return resolver_.tcpAddress(number) ? resolver_.devicePath(number) : QString();
}

PortStatus TcpPort::openDevice() {
    closeDevice();
    const auto address = resolver_.tcpAddress(number_);
    if (!address) return PortError{PortErrorCode::NoSuchPort, resolver_.devicePath(number_)};
    devicePath_ = address->text();
    openFailure_.reset();
    state_ = State::Connecting;
    connectStarted_ = clock_();
    connectTimer_.start();
    connection_->connectTo(*address);
    return {};
}

void TcpPort::closeDevice() {
    connection_->abort();
    state_ = State::Closed;
    connectTimer_.stop();
    busyTimer_.stop();
    rx_.clear();
    unansweredSince_.reset();
    endWait();
}

PortStatus TcpPort::finishOpening() {
    if (state_ == State::Connecting || state_ == State::Accepted) {
        QEventLoop loop;
        waiting_ = &loop;
        loop.exec();
        waiting_ = nullptr;
    }
    if (state_ == State::Closed && openFailure_) return *std::exchange(openFailure_, {});
    return {};
}

void TcpPort::endWait() {
    if (!waiting_) return;
    if (state_ == State::Closed && !openFailure_)
        openFailure_ = PortError{PortErrorCode::OpenFailed, QStringLiteral("порт закрыт")};
    waiting_->quit();
}

void TcpPort::onConnected() {
    if (state_ != State::Connecting) return;
    connectTimer_.stop();
    state_ = State::Accepted;
    using std::chrono::milliseconds;
    const auto took = std::chrono::duration_cast<milliseconds>(clock_() - connectStarted_);
    busyTimer_.start(std::clamp(2 * took, timings_.busyWindow, timings_.busyWindowCeiling));
    emit connected();
}

void TcpPort::onBusyWindowOver() {
    if (state_ != State::Accepted) return;
    state_ = State::Up;
    endWait();
}

void TcpPort::onFailed(const QString& reason) {
    if (state_ != State::Connecting) return;
    lose(PortError{PortErrorCode::OpenFailed, devicePath_ + QStringLiteral(": ") + reason});
}

void TcpPort::onClosed(const QString& reason) {
    if (state_ == State::Accepted) {
        lose(PortError{PortErrorCode::PortInUse,
                       devicePath_ + QStringLiteral(": сервер сразу закрыл соединение")});
    } else if (state_ == State::Up) {
        lose(PortError{PortErrorCode::OpenFailed, devicePath_ + QStringLiteral(": ") + reason});
    }
}

void TcpPort::lose(const PortError& error) {
    lastError_ = error.detail;
    const bool awaited = waiting_ != nullptr;
    if (awaited) openFailure_ = error;
    closeDevice();
    if (!awaited) startReopening();
}

void TcpPort::discardInput() {
    rx_.clear();
    if (isConnected()) (void)connection_->takeReceived();
}

void TcpPort::output(std::span<const std::uint8_t> frame) {
    // While connecting, or while an open is only being tried out, the frame is lost: to the
    // poll that is a request without an answer, sent again next tick.
    if (!isConnected() || waiting_) return;
    const auto now = clock_();
    if (!unansweredSince_) {
        unansweredSince_ = now;
    } else if (now - *unansweredSince_ >= timings_.silenceLimit) {
        lose(PortError{
            PortErrorCode::OpenFailed,
            devicePath_ +
                QStringLiteral(": нет ни байта за %1 мс").arg(timings_.silenceLimit.count())});
        return;
    }
    connection_->write(frame);
}

void TcpPort::takeInWaitingBytes() {
    if (!isConnected()) return;
    const QByteArray bytes = connection_->takeReceived();
    if (bytes.isEmpty()) return;
    unansweredSince_.reset();
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
}

}  // namespace torvix
