#include "link/qt_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>

namespace torvix {
namespace {

// Qt reads at most 512 bytes per call; this bounds one catch-up under a flooding line.
constexpr int kMaxReadsPerCatchUp = 64;
// Read or write errors in a row, with no byte received in between, that count as a hang-up
// even when the driver does not say so: Qt would otherwise report them in a busy loop.
constexpr int kErrorBurst = 32;

bool deviceAccessible(const QString& path) {
    if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) == 0)
        return true;
    return errno != EACCES && errno != EPERM;
}

short pollEvents(qintptr fd) {
    if (fd < 0) return 0;
    pollfd entry{static_cast<int>(fd), POLLIN, 0};
    if (::poll(&entry, 1, 0) < 0) return 0;
    return entry.revents;
}

constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;

}  // namespace

PortErrorCode openErrorCode(QSerialPort::SerialPortError error, int systemError,
                            bool deviceAccessible) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return PortErrorCode::NoSuchPort;
        case QSerialPort::PermissionError:
            // EBUSY: another program set TIOCEXCL. Otherwise, if we may use the device node,
            // it was the lock file of another program that refused us.
            if (systemError == EBUSY) return PortErrorCode::PortInUse;
            return deviceAccessible ? PortErrorCode::PortInUse : PortErrorCode::PermissionDenied;
        case QSerialPort::NoError:
        case QSerialPort::OpenError:
        case QSerialPort::WriteError:
        case QSerialPort::ReadError:
        case QSerialPort::ResourceError:
        case QSerialPort::UnsupportedOperationError:
        case QSerialPort::UnknownError:
        case QSerialPort::TimeoutError:
        case QSerialPort::NotOpenError:
            break;
    }
    return PortErrorCode::OpenFailed;
}

QtSerialPort::QtSerialPort(PortResolver resolver, QObject* parent)
    : DevicePort(std::move(resolver), parent) {
    serial_.setReadBufferSize(kReadBufferSize);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::onSerialError);
    connect(&serial_, &QSerialPort::readyRead, this, [this] {
        readErrorsInARow_ = 0;
        emit bytesArrived();
    });
}

QtSerialPort::~QtSerialPort() {
    // serial_ outlives the members declared after it; its closing must not call back here.
    disconnect(&serial_, nullptr, this, nullptr);
    DevicePort::stopReopening();
    closeDevice();
}

bool QtSerialPort::isPortOpen() const {
    return serial_.isOpen() && !hangUpSeen_;
}

void QtSerialPort::discardInput() {
    rx_.clear();
    if (serial_.isOpen() && !hangUpSeen_) serial_.clear(QSerialPort::Input);
}

void QtSerialPort::output(std::span<const std::uint8_t> frame) {
    if (!isPortOpen()) return;
    // A frame is far smaller than the driver's buffer: write it straight, without Qt's write
    // notifier, which costs two event-loop wake-ups per frame.
    if (serial_.bytesToWrite() == 0) {
        const ssize_t n = ::write(static_cast<int>(serial_.handle()), frame.data(), frame.size());
        if (n == static_cast<ssize_t>(frame.size())) return;
        if (n > 0) frame = frame.subspan(static_cast<std::size_t>(n));
    }
    serial_.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
    // Hands the frame to the driver now instead of at the next event-loop pass; never waits.
    serial_.flush();
}

PortStatus QtSerialPort::openDevice() {
    hangUpSeen_ = false;
    closeDevice();
    // Resolved anew on every open: an adapter that came back may sit behind another node.
    const QString path = resolver_.resolve(number_);
    if (path.isEmpty()) return PortError{PortErrorCode::NoSuchPort, resolver_.devicePath(number_)};
    serial_.setPortName(path);
    pseudoTerminal_ = path.startsWith(QStringLiteral("/dev/pts/"));
    applySettings(settings_);  // only stored while closed; open applies them

    opening_ = true;
    openErrno_ = 0;
    const bool opened = serial_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!opened) {
        return PortError{openErrorCode(serial_.error(), openErrno_, deviceAccessible(path)),
                         serial_.errorString()};
    }
    devicePath_ = path;
    readErrorsInARow_ = 0;
    // Whatever reached the line before we listened answers nothing we sent.
    serial_.clear(QSerialPort::AllDirections);
    rx_.clear();
    return {};
}

void QtSerialPort::closeDevice() {
    if (serial_.isOpen()) serial_.close();
    rx_.clear();
}

bool applyLineSettings(QSerialPort& port, const LineSettings& settings, bool withoutParity) {
    using Parity = LineSettings::Parity;
    using StopBits = LineSettings::StopBits;
    const auto parity = withoutParity                      ? QSerialPort::NoParity
                        : settings.parity == Parity::Even  ? QSerialPort::EvenParity
                        : settings.parity == Parity::Odd   ? QSerialPort::OddParity
                        : settings.parity == Parity::Mark  ? QSerialPort::MarkParity
                        : settings.parity == Parity::Space ? QSerialPort::SpaceParity
                                                           : QSerialPort::NoParity;
    const auto stopBits = settings.stopBits == StopBits::Two          ? QSerialPort::TwoStop
                          : settings.stopBits == StopBits::OneAndHalf ? QSerialPort::OneAndHalfStop
                                                                      : QSerialPort::OneStop;
    return port.setBaudRate(settings.baudRate) &&
           port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)) &&
           port.setParity(parity) && port.setStopBits(stopBits);
}

bool QtSerialPort::applySettings(const LineSettings& settings) {
    // A pseudo-terminal (a simulator, a socat bridge) has no line to put parity on and Linux
    // refuses to set it, which would make the usual "115200,e,8,1" unusable there.
    return applyLineSettings(serial_, settings, pseudoTerminal_);
}

void QtSerialPort::takeInWaitingBytes() {
    if (!serial_.isOpen() || hangUpSeen_) return;
    // Qt fills its read buffer only from the event loop, and a poll tick does not yield to
    // it: read what the driver already holds, without waiting.
    for (int reads = 0; reads < kMaxReadsPerCatchUp; ++reads) {
        const short events = pollEvents(serial_.handle());
        if (events & POLLIN) {
            if (serial_.waitForReadyRead(0)) continue;
        } else if (events & kHangUpEvents) {
            hangUpSeen_ = true;
        }
        break;
    }
    const QByteArray bytes = serial_.readAll();
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
    if (hangUpSeen_) finishHangUp();
}

void QtSerialPort::onSerialError(QSerialPort::SerialPortError error) {
    const int systemError = errno;  // before anything here can change it
    if (error == QSerialPort::NoError) return;
    if (opening_) {
        openErrno_ = systemError;
        return;
    }
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError &&
        error != QSerialPort::WriteError)
        return;
    if (hangUpSeen_ || !serial_.isOpen()) return;
    // After a hang-up Qt 6.4 keeps its read notifier on and reports ReadError in a busy loop.
    const bool hungUp = (pollEvents(serial_.handle()) & kHangUpEvents) != 0;
    if (!hungUp && ++readErrorsInARow_ < kErrorBurst) return;
    hangUpSeen_ = true;
    // Closing right here would delete the notifier whose event Qt is still handling.
    QMetaObject::invokeMethod(this, &QtSerialPort::finishHangUp, Qt::QueuedConnection);
}

void QtSerialPort::finishHangUp() {
    if (!hangUpSeen_) return;  // already closed, or the caller closed the port meanwhile
    hangUpSeen_ = false;
    closeDevice();
    startReopening();
}

void QtSerialPort::stopReopening() {
    DevicePort::stopReopening();
    if (hangUpSeen_) {
        hangUpSeen_ = false;
        closeDevice();
    }
}

}  // namespace torvix
