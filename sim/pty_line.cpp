#include "sim/pty_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace torvix::sim {
namespace {

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

PtyLine::~PtyLine() {
    close();
}

bool PtyLine::open(QString& error) {
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    std::array<char, 128> name{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        error = systemError("pseudo-terminal");
        close();
        return false;
    }
    slave_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0) {
        error = systemError(name.data());
        close();
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    slavePath_ = QString::fromLocal8Bit(name.data());
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PtyLine::readAvailable);
    return true;
}

void PtyLine::close() {
    notifier_.reset();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = -1;
    master_ = -1;
}

std::optional<qint32> PtyLine::masterBaudRate() const {
    termios tio{};
    if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0) return std::nullopt;
    static constexpr std::pair<speed_t, qint32> kSpeeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t speed = ::cfgetospeed(&tio);
    for (const auto& [code, baud] : kSpeeds)
        if (code == speed) return baud;
    return std::nullopt;
}

void PtyLine::readAvailable() {
    std::array<char, 512> buffer;
    for (;;) {
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n > 0) {
            emit received(QByteArray(buffer.data(), n));
            if (master_ < 0) return;  // a receiver closed the line
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // EAGAIN: drained
    }
}

void PtyLine::write(const QByteArray& bytes) {
    if (master_ < 0) return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done,
                                  static_cast<std::size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // nobody drains the line: the rest is lost, as on a real wire
        }
    }
}

}  // namespace torvix::sim
