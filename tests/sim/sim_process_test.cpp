// Runs the real torvix-sim binary and talks to it over the line it serves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "support/reference_frames.h"

namespace torvix::sim {
namespace {

using namespace testing;
using reference::kStatusRead;
using Clock = std::chrono::steady_clock;

class RawFd {
public:
    explicit RawFd(int fd) : fd_(fd) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    static RawFd open(const QString& path) {
        return RawFd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    }
    RawFd(RawFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    RawFd& operator=(RawFd&&) = delete;
    ~RawFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

    void send(const Bytes& bytes) const {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `want` bytes arrived or the time is up.
    Bytes receive(std::size_t want, std::chrono::milliseconds within) const {
        Bytes out;
        const auto deadline = Clock::now() + within;
        while (out.size() < want && Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (::poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

private:
    int fd_;
};

class SimProcess {
public:
    explicit SimProcess(QStringList arguments) {
        EXPECT_TRUE(dir.isValid());
        process.setProgram(QStringLiteral(TORVIX_SIM_BINARY));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        EXPECT_TRUE(process.waitForStarted(5000));
        device = nextLine();
    }
    ~SimProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString nextLine(int timeoutMs = 5000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!process.canReadLine() && Clock::now() < deadline) process.waitForReadyRead(50);
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
    QProcess process;
    QString device;
};

QString linkTarget(const QString& link) {
    return QFile::symLinkTarget(link);
}

bool exists(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QJsonObject waitForState(const QString& file, int requests) {
    QJsonObject state;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) {
            state = QJsonDocument::fromJson(f.readAll()).object();
            if (state["requests"].toInt() >= requests) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return state;
}

void expectStatusReply(const Bytes& reply) {
    ASSERT_EQ(reply.size(), 133u);
    EXPECT_EQ(reply[0], 7);
    EXPECT_EQ(reply[1], 4);
    EXPECT_EQ(reply[2], 128);
    EXPECT_TRUE(crcHolds(reply));
    EXPECT_EQ(statusRegister(reply, 0), 0x020E);
}

TEST(SimProcess, AnswersOnItsPseudoTerminalAndRemovesItsLinkOnSigterm) {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTorvix");
    const QString stateFile = dir.filePath("state.json");
    const QString log = dir.filePath("requests.log");
    SimProcess sim({"--link", link, "--quiet", "--state-file", stateFile, "--log-requests", log});
    ASSERT_TRUE(sim.device.startsWith("/dev/pts/")) << sim.device.toStdString();
    EXPECT_EQ(linkTarget(link), sim.device);

    {
        const RawFd line = RawFd::open(link);
        ASSERT_GE(line.get(), 0);
        line.send(kStatusRead);
        expectStatusReply(line.receive(133, std::chrono::seconds(3)));
        EXPECT_TRUE(line.receive(1, std::chrono::milliseconds(30)).empty());
    }

    const QJsonObject state = waitForState(stateFile, 1);
    EXPECT_EQ(state["requests"].toInt(), 1);
    EXPECT_EQ(state["replies"].toInt(), 1);
    EXPECT_EQ(state["device"].toString(), sim.device);
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = logFile.readAll().trimmed().split(' ');
    ASSERT_EQ(fields.size(), 9);
    EXPECT_GT(fields[0].toLongLong(), 0);
    EXPECT_EQ(fields.mid(1).join(' '), "07 04 01 2C 00 40 31 A9");

    sim.process.terminate();
    ASSERT_TRUE(sim.process.waitForFinished(5000));
    EXPECT_EQ(sim.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_FALSE(exists(link));
}

TEST(SimProcess, HangUpClosesTheLineAndComesBackBehindTheLink) {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyTorvix");
    SimProcess sim({"--link", link, "--quiet", "--hangup-after", "0.4", "--hangup-for", "0.6"});
    const RawFd before = RawFd::open(link);
    ASSERT_GE(before.get(), 0);

    pollfd p{before.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    // While the line is down the name is gone, as with an unplugged adapter.
    EXPECT_FALSE(exists(link));

    const QString renewed = sim.nextLine();
    ASSERT_TRUE(renewed.startsWith("/dev/pts/")) << renewed.toStdString();
    EXPECT_EQ(linkTarget(link), renewed);

    const RawFd after = RawFd::open(link);
    ASSERT_GE(after.get(), 0);
    after.send(kStatusRead);
    expectStatusReply(after.receive(133, std::chrono::seconds(3)));

    sim.process.terminate();
    ASSERT_TRUE(sim.process.waitForFinished(5000));
    EXPECT_FALSE(exists(link));
}

TEST(SimProcess, ServesASerialDeviceGivenByPath) {
    // The far end of a pseudo-terminal stands in for the wire to the tool.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    const RawFd wire(master);
    {
        const RawFd keep = RawFd::open(slave);  // raw before the simulator takes it
    }
    SimProcess sim({"--device", slave, "--settings", "9600,n,8,1", "--quiet", "--address", "9"});
    EXPECT_EQ(sim.device, slave);

    wire.send(framed({9, 6, 0x01, 0x92, 0x12, 0x31}));
    EXPECT_EQ(wire.receive(8, std::chrono::seconds(3)), framed({9, 6, 0x01, 0x92, 0x12, 0x31}));
    wire.send(kStatusRead);  // for address 7: not ours
    EXPECT_TRUE(wire.receive(1, std::chrono::milliseconds(100)).empty());
}

TEST(SimProcess, DelayedAndSplitReplies) {
    {
        SimProcess sim({"--quiet", "--delay", "150"});
        const RawFd line = RawFd::open(sim.device);
        line.send(kStatusRead);
        EXPECT_TRUE(line.receive(1, std::chrono::milliseconds(100)).empty());
        expectStatusReply(line.receive(133, std::chrono::seconds(3)));
    }
    {
        SimProcess sim({"--quiet", "--split", "250"});
        const RawFd line = RawFd::open(sim.device);
        line.send(kStatusRead);
        const Bytes first = line.receive(133, std::chrono::milliseconds(120));
        EXPECT_EQ(first.size(), 66u);
        Bytes whole = first;
        const Bytes rest = line.receive(133 - first.size(), std::chrono::seconds(3));
        whole.insert(whole.end(), rest.begin(), rest.end());
        expectStatusReply(whole);
    }
}

}  // namespace
}  // namespace torvix::sim
