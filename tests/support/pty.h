#pragma once
// A pseudo-terminal pair in raw mode: the slave stands in for the serial device, the test plays
// the controller on the master.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QString>
#include <cstdint>
#include <vector>

namespace torvix::testing {

class Pty {
public:
    Pty() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            master_ = slave_ = -1;
            return;
        }
        char name[256] = {};
        if (::ttyname_r(slave_, name, sizeof name) == 0) slavePath_ = QString::fromLocal8Bit(name);
        makeRaw(master_);
        makeRaw(slave_);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.isEmpty(); }
    int master() const { return master_; }
    // Kept open by the test, so the master never sees the line hung up from our side.
    int slave() const { return slave_; }
    const QString& slavePath() const { return slavePath_; }

    // What pulling the adapter does to the port: its other end goes away.
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    bool write(const std::vector<std::uint8_t>& bytes) {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Everything the port has sent so far, without waiting.
    std::vector<std::uint8_t> readAvailable() {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[512];
        ssize_t n = 0;
        while ((n = ::read(master_, chunk, sizeof chunk)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        return bytes;
    }

    // Waits (without an event loop) until the master has something to read.
    bool waitReadable(int timeoutMs) {
        pollfd entry{master_, POLLIN, 0};
        return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN);
    }

private:
    static void makeRaw(int fd) {
        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) return;
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }

    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

}  // namespace torvix::testing
