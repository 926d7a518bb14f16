#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "link/modbus.h"
#include "link/qt_serial_port.h"
#include "protocol/protocol.h"
#include "support/fixed_slave_address.h"
#include "support/pty.h"
#include "support/reference_frames.h"

namespace torvix {
namespace {

namespace reference = testing::reference;

using namespace std::chrono_literals;
using testing::FixedSlaveAddress;
using testing::Pty;
using Frame = std::vector<std::uint8_t>;

using reference::kFirstCounterWrite;
using reference::kStatusRead;

TEST(OpenErrorCode, TellsPortInUseFromOtherRefusals) {
    struct Case {
        QSerialPort::SerialPortError error;
        int systemError;
        bool deviceAccessible;
        int expected;
    };
    const Case cases[] = {
        {QSerialPort::DeviceNotFoundError, ENOENT, false, 8002},
        {QSerialPort::PermissionError, EEXIST, true, 8005},  // another program's lock file
        {QSerialPort::PermissionError, EBUSY, true, 8005},   // TIOCEXCL of another program
        {QSerialPort::PermissionError, EBUSY, false, 8005},
        {QSerialPort::PermissionError, EACCES, false, 8010},  // not in the dialout group
        {QSerialPort::OpenError, 0, true, 8012},
        {QSerialPort::UnsupportedOperationError, ENOTTY, true, 8012},  // not a terminal
        {QSerialPort::ResourceError, EIO, true, 8012},
        {QSerialPort::UnknownError, ENXIO, true, 8012},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(openErrorCode(c.error, c.systemError, c.deviceAccessible)),
                  c.expected)
            << c.error << " errno " << c.systemError;
    }
}

// Plays the controller on the master end: a 133-byte status block for function 4, an echo for
// function 6.
class FakeController {
public:
    explicit FakeController(Pty& pty) : pty_(pty), notifier_(pty.master(), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { takeRequests(); });
    }

    std::vector<Frame> requests;  // every request seen on the wire, in order
    bool silent = false;
    int repliesToCorrupt = 0;
    int lastCorrupted = -1;  // index into requests of the last request given a wrong CRC

    // Stops listening before the test closes the master.
    void detach() { notifier_.setEnabled(false); }

private:
    void takeRequests() {
        const Frame bytes = pty_.readAvailable();
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        while (pending_.size() >= 8) {  // the requests in use here are all 8 bytes long
            requests.emplace_back(pending_.begin(), pending_.begin() + 8);
            pending_.erase(pending_.begin(), pending_.begin() + 8);
            if (!silent) answer(requests.back());
        }
    }

    void answer(const Frame& request) {
        Frame reply;
        if (request[1] == 4) {
            reply = {request[0], 4, 128};
            for (int i = 0; i < 128; ++i) reply.push_back(static_cast<std::uint8_t>(i));
        } else if (request[1] == 6) {
            reply.assign(request.begin(), request.end() - 2);
        } else {
            return;
        }
        protocol::appendCrc(reply);
        if (repliesToCorrupt > 0) {
            --repliesToCorrupt;
            reply.back() ^= 0x5A;
            lastCorrupted = static_cast<int>(requests.size()) - 1;
        }
        pty_.write(reply);
    }

    Pty& pty_;
    QSocketNotifier notifier_;
    Frame pending_;
};

void runEventsFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Condition>
bool waitUntil(Condition done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout.count()) return false;
        runEventsFor(5ms);
    }
    return true;
}

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Counts what a window would show of the port's own recovery.
struct RecoveryLog {
    explicit RecoveryLog(QtSerialPort& port) {
        QObject::connect(&port, &QtSerialPort::hungUp, [this] { ++hangUps; });
        QObject::connect(&port, &QtSerialPort::reopenAttempted, [this](bool) { ++attempts; });
        QObject::connect(&port, &QtSerialPort::reopened, [this] { ++reopens; });
    }
    int hangUps = 0;
    int attempts = 0;
    int reopens = 0;
};

class PtyPort : public ::testing::Test {
protected:
    static constexpr int kLinkedNumber = 5;  // COM5 would be /dev/ttyUSB0; the override wins

    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "link_port_tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(pty_->ok());
        link_ = dir_.filePath("com5");
        ASSERT_TRUE(QFile::link(pty_->slavePath(), link_));
    }

    // The device behind the link goes away and a new one takes its place, as when an adapter
    // is pulled and plugged in again.
    Pty& replugDevice() {
        spare_ = std::move(pty_);
        pty_ = std::make_unique<Pty>();
        QFile::remove(link_);
        EXPECT_TRUE(QFile::link(pty_->slavePath(), link_));
        return *pty_;
    }

    PortStatus openLinked(QtSerialPort& port, const QString& settings = "115200,e,8,1") {
        port.setPortOverrides({{kLinkedNumber, link_}});
        if (auto s = setLineSettingsText(port, settings); !s) return s;
        if (auto s = port.setPortNumber(kLinkedNumber); !s) return s;
        return port.setPortOpen(true);
    }

    QString makeFile(const QString& name) {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return file.fileName();
    }

    // Waits, without the event loop, until the driver holds count bytes for the port.
    bool waitQueuedAtSlave(int count) const {
        int queued = 0;
        for (int i = 0; i < 1000 && queued < count; ++i) {
            ::ioctl(pty_->slave(), FIONREAD, &queued);
            if (queued < count) ::usleep(1000);
        }
        return queued == count;
    }

    termios slaveTermios() const {
        termios tio{};
        ::tcgetattr(pty_->slave(), &tio);
        return tio;
    }

    QTemporaryDir dir_;
    std::unique_ptr<Pty> spare_;
    std::unique_ptr<Pty> pty_ = std::make_unique<Pty>();
    QString link_;
};

// Runs the link as the main window does: one poll tick every 100 ms.
// Runs the poll cycle every 100 ms, as the window does, and keeps each tick's verdict.
struct Ticker {
    explicit Ticker(Modbus& modbus) {
        timer.setInterval(100ms);
        QObject::connect(&timer, &QTimer::timeout,
                         [this, &modbus] { verdicts.push_back(modbus.pollTick().verdict); });
        timer.start();
    }
    std::optional<Verdict> last() const {
        return verdicts.empty() ? std::nullopt : std::optional(verdicts.back());
    }
    QTimer timer;
    std::vector<Verdict> verdicts;
};

TEST_F(PtyPort, TakesInWhatTheDriverHoldsWithoutTheEventLoopAndWritesAtOnce) {
    ASSERT_TRUE(pty_->write({0xDE, 0xAD, 0xBE, 0xEF}));  // stale, before the port opens
    ASSERT_TRUE(waitQueuedAtSlave(4));
    QtSerialPort port;
    ASSERT_TRUE(openLinked(port));
    EXPECT_EQ(port.devicePath(), pty_->slavePath());
    EXPECT_EQ(port.inBufferCount(), 0);

    // A whole status reply reaches the driver while the UI thread never yields.
    Frame reply;
    for (int i = 0; i < 133; ++i) reply.push_back(static_cast<std::uint8_t>(255 - i));
    ASSERT_TRUE(pty_->write(reply));
    ASSERT_TRUE(waitQueuedAtSlave(133));
    ASSERT_EQ(port.inBufferCount(), 133);
    Frame received;
    while (port.inBufferCount() > 0) received.push_back(port.input());
    EXPECT_EQ(received, reply);

    port.output(kStatusRead);
    ASSERT_TRUE(pty_->waitReadable(1000));
    EXPECT_EQ(pty_->readAvailable(), kStatusRead);
}

TEST_F(PtyPort, PollsTheControllerRepeatsUnansweredFramesAndRecoversFromBadCrc) {
    FakeController controller(*pty_);
    FixedSlaveAddress slave;
    QtSerialPort port;
    ASSERT_TRUE(openLinked(port));
    Modbus modbus(port, slave);
    Ticker ticker(modbus);

    ASSERT_TRUE(waitUntil([&] { return controller.requests.size() >= 3; }, 2s));
    EXPECT_EQ(controller.requests[0], kStatusRead);
    EXPECT_EQ(controller.requests[1], kFirstCounterWrite);
    EXPECT_EQ(ticker.last(), Verdict::Answered);

    controller.silent = true;
    const std::size_t firstUnanswered = controller.requests.size();
    ASSERT_TRUE(waitUntil([&] { return controller.requests.size() >= firstUnanswered + 3; }, 2s));
    EXPECT_EQ(controller.requests[firstUnanswered + 1], controller.requests[firstUnanswered]);
    EXPECT_EQ(controller.requests[firstUnanswered + 2], controller.requests[firstUnanswered]);
    EXPECT_EQ(ticker.last(), Verdict::NoAnswer);

    controller.silent = false;
    controller.repliesToCorrupt = 1;
    const std::size_t before = ticker.verdicts.size();
    ASSERT_TRUE(waitUntil(
        [&] {
            return controller.lastCorrupted >= 0 &&
                   controller.requests.size() >
                       static_cast<std::size_t>(controller.lastCorrupted) + 1 &&
                   ticker.last() == Verdict::Answered;
        },
        2s));
    const std::vector<Verdict> after(ticker.verdicts.begin() + static_cast<long>(before),
                                     ticker.verdicts.end());
    const auto mismatch = std::find(after.begin(), after.end(), Verdict::CrcMismatch);
    ASSERT_NE(mismatch, after.end());
    EXPECT_NE(std::find(mismatch, after.end(), Verdict::Answered), after.end());
    EXPECT_EQ(controller.requests[controller.lastCorrupted + 1],
              controller.requests[controller.lastCorrupted]);
}

TEST_F(PtyPort, HangUpClosesWithoutBusyLoopAndTheLinkResumesByItself) {
    auto controller = std::make_unique<FakeController>(*pty_);
    FixedSlaveAddress slave;
    QtSerialPort port;
    RecoveryLog log(port);
    ASSERT_TRUE(openLinked(port));
    Modbus modbus(port, slave);
    Ticker ticker(modbus);
    ASSERT_TRUE(waitUntil([&] { return ticker.last() == Verdict::Answered; }, 2s));

    controller->detach();
    pty_->closeMaster();
    // Qt 6.4 takes the stale errno for the cause of a 0-byte read on the hung-up tty; unless it
    // happens to say EAGAIN or EIO, Qt reports ReadError on every event-loop pass.
    errno = 0;
    ASSERT_TRUE(waitUntil([&] { return !port.isPortOpen(); }, 1s));
    EXPECT_EQ(log.hangUps, 1);
    EXPECT_TRUE(port.isReopening());

    const double cpuBefore = processCpuSeconds();
    runEventsFor(1000ms);
    EXPECT_LT(processCpuSeconds() - cpuBefore, 0.15);  // a busy loop takes the whole second
    EXPECT_EQ(log.hangUps, 1);
    // The node is gone with the master: attempts fail and go on.
    EXPECT_TRUE(waitUntil([&] { return log.attempts >= 1; }, 500ms));
    EXPECT_EQ(log.reopens, 0);
    EXPECT_FALSE(port.isPortOpen());
    EXPECT_EQ(ticker.last(), Verdict::NoAnswer);

    controller = std::make_unique<FakeController>(replugDevice());
    ASSERT_TRUE(waitUntil([&] { return log.reopens == 1; }, 2500ms));
    EXPECT_TRUE(port.isPortOpen());
    EXPECT_FALSE(port.isReopening());
    EXPECT_EQ(port.devicePath(), pty_->slavePath());
    ASSERT_TRUE(waitUntil([&] { return ticker.last() == Verdict::Answered; }, 1s));
    EXPECT_FALSE(controller->requests.empty());
}

TEST_F(PtyPort, ClosingOrAnotherNumberStopsTheReopenAttempts) {
    QtSerialPort port;
    RecoveryLog log(port);
    ASSERT_TRUE(openLinked(port));
    port.setPortOverrides({{kLinkedNumber, link_}, {6, makeFile("other")}});
    pty_->closeMaster();
    ASSERT_TRUE(waitUntil([&] { return log.hangUps == 1; }, 1s));
    ASSERT_TRUE(port.isReopening());
    ASSERT_TRUE(port.setPortOpen(false));
    EXPECT_FALSE(port.isReopening());

    replugDevice();
    ASSERT_TRUE(port.setPortOpen(true));
    pty_->closeMaster();
    ASSERT_TRUE(waitUntil([&] { return log.hangUps == 2; }, 1s));
    ASSERT_TRUE(port.isReopening());
    ASSERT_TRUE(port.setPortNumber(6));
    EXPECT_FALSE(port.isReopening());

    replugDevice();
    runEventsFor(1200ms);
    EXPECT_EQ(log.attempts, 0);
    EXPECT_FALSE(port.isPortOpen());
}

TEST_F(PtyPort, SecondOpenOfTheSameDeviceIsPortInUse) {
    QtSerialPort first;
    ASSERT_TRUE(openLinked(first));
    QtSerialPort second;  // reaches the same device by its own path, not through the link
    second.setPortOverrides({{9, pty_->slavePath()}});
    ASSERT_TRUE(second.setPortNumber(9));
    const PortStatus status = second.setPortOpen(true);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().number(), 8005);
    EXPECT_FALSE(second.isPortOpen());
    EXPECT_TRUE(first.isPortOpen());

    ASSERT_TRUE(first.setPortOpen(false));
    EXPECT_TRUE(second.setPortOpen(true));
}

TEST_F(PtyPort, NumberAndOpenRules) {
    QtSerialPort port;
    const QString plainFile = makeFile("not-a-tty");
    const QString vanishing = makeFile("vanishing");
    ASSERT_TRUE(openLinked(port));
    port.setPortOverrides({{kLinkedNumber, link_}, {6, plainFile}, {7, vanishing}});

    EXPECT_TRUE(port.setPortNumber(kLinkedNumber));  // the number in use: no effect
    EXPECT_TRUE(port.setPortOpen(true));             // already open: no effect
    const PortStatus other = port.setPortNumber(6);
    ASSERT_FALSE(other);
    EXPECT_EQ(other.error().number(), 8000);
    EXPECT_EQ(port.portNumber(), kLinkedNumber);
    EXPECT_TRUE(port.isPortOpen());

    EXPECT_TRUE(port.setPortOpen(false));
    EXPECT_TRUE(port.setPortOpen(false));  // closed already: no-op
    EXPECT_FALSE(port.isPortOpen());

    for (const int missing : {17, 0, 256}) {
        const PortStatus status = port.setPortNumber(missing);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error().number(), 8002);
    }
    EXPECT_EQ(port.portNumber(), kLinkedNumber);

    ASSERT_TRUE(port.setPortNumber(6));
    const PortStatus notATerminal = port.setPortOpen(true);
    ASSERT_FALSE(notATerminal);
    EXPECT_EQ(notATerminal.error().number(), 8012);

    ASSERT_TRUE(port.setPortNumber(7));
    ASSERT_TRUE(QFile::remove(vanishing));
    const PortStatus gone = port.setPortOpen(true);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().number(), 8002);
}

// The pty driver forces 8 data bits without parity: only speed and stop bits show on it, and
// it refuses 7 data bits, as a real driver refuses a setting its UART lacks.
TEST_F(PtyPort, LineSettingsReachTheOpenDeviceAndRefusalsRestoreThem) {
    QtSerialPort port;
    ASSERT_TRUE(openLinked(port, "115200,e,8,1"));
    termios tio = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);

    ASSERT_TRUE(setLineSettingsText(port, u"9600,o,8,2"));
    tio = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));

    for (const char* refusedText : {"19200,n,7,1", "19200,q,8,1"}) {
        const PortStatus refused = setLineSettingsText(port, QString::fromLatin1(refusedText));
        ASSERT_FALSE(refused) << refusedText;
        EXPECT_EQ(refused.error().number(), 380);
        EXPECT_EQ(port.lineSettings().toText(), "9600,o,8,2");
        tio = slaveTermios();
        EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600)) << refusedText;
        EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
        EXPECT_TRUE(port.isPortOpen());
    }
}

// Resident set size of this process in bytes.
long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// On the master end, in its own thread: random bytes as fast as the pty takes them until
// stopped, then a well-behaved controller that answers every request it reads.
class FloodThenAnswer {
public:
    explicit FloodThenAnswer(Pty& pty) : pty_(pty), thread_([this] { run(); }) {}
    ~FloodThenAnswer() {
        quit_ = true;
        thread_.join();
    }

    void stopFlood() { flooding_ = false; }
    // When the last flood byte had been handed to the pty.
    std::chrono::steady_clock::time_point floodEnd() const { return floodEnd_.load(); }
    bool answering() const { return answering_; }
    long long flooded() const { return flooded_; }

private:
    void run() {
        std::mt19937 random(7);
        std::vector<std::uint8_t> chunk(4096);
        while (flooding_ && !quit_) {
            for (auto& b : chunk) b = static_cast<std::uint8_t>(random());
            pollfd out{pty_.master(), POLLOUT, 0};
            if (::poll(&out, 1, 10) != 1) continue;
            const ssize_t n = ::write(pty_.master(), chunk.data(), chunk.size());
            if (n > 0) flooded_ += n;
            pty_.readAvailable();  // requests sent meanwhile answer nothing
        }
        floodEnd_ = std::chrono::steady_clock::now();
        pty_.readAvailable();
        answering_ = true;
        std::vector<std::uint8_t> pending;
        while (!quit_) {
            if (!pty_.waitReadable(10)) continue;
            const auto bytes = pty_.readAvailable();
            pending.insert(pending.end(), bytes.begin(), bytes.end());
            while (pending.size() >= 8) {
                const Frame request(pending.begin(), pending.begin() + 8);
                pending.erase(pending.begin(), pending.begin() + 8);
                pty_.write(request[1] == 4 ? testing::statusReply({}) : request);
            }
        }
    }

    Pty& pty_;
    std::atomic<bool> flooding_{true};
    std::atomic<bool> quit_{false};
    std::atomic<bool> answering_{false};
    std::atomic<long long> flooded_{0};
    std::atomic<std::chrono::steady_clock::time_point> floodEnd_{};
    std::thread thread_;
};

TEST_F(PtyPort, AFloodingLineNeitherFillsMemoryNorStallsTicksNorHidesTheNextReply) {
    using Clock = std::chrono::steady_clock;
    FixedSlaveAddress slave;
    QtSerialPort port;
    ASSERT_TRUE(openLinked(port));
    Modbus modbus(port, slave);
    struct Tick {
        Clock::time_point start;
        Verdict verdict;
    };
    std::vector<Tick> ticks;
    QTimer timer;
    timer.setInterval(100ms);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto start = Clock::now();
        ticks.push_back({start, modbus.pollTick().verdict});
    });

    const long rssBefore = residentBytes();
    long rssPeak = rssBefore;
    FloodThenAnswer line(*pty_);
    timer.start();
    QElapsedTimer flood;
    flood.start();
    while (flood.elapsed() < 1500) {
        runEventsFor(50ms);
        rssPeak = std::max(rssPeak, residentBytes());
    }
    line.stopFlood();
    ASSERT_TRUE(waitUntil([&] { return line.answering(); }, 1s));
    const std::size_t ticksInFlood = ticks.size();
    ASSERT_TRUE(waitUntil([&] { return ticks.back().verdict == Verdict::Answered; }, 2s));
    runEventsFor(250ms);
    rssPeak = std::max(rssPeak, residentBytes());

    // Unbounded, Qt's buffer grew by the flood's rate: hundreds of megabytes a second.
    EXPECT_GT(line.flooded(), 64 * 1024) << "the flood never got going";
    EXPECT_LT(rssPeak - rssBefore, 16L * 1024 * 1024) << line.flooded() << " bytes flooded";
    EXPECT_GE(ticksInFlood, 10u);
    for (std::size_t i = 1; i < ticksInFlood; ++i)
        EXPECT_LT(ticks[i].start - ticks[i - 1].start, 400ms) << "tick " << i;
    // The tick after the flood's end sends a request; the next one takes its reply.
    std::size_t after = 0;
    while (after < ticks.size() && ticks[after].start <= line.floodEnd()) ++after;
    std::size_t taken = after;
    while (taken < ticks.size() && ticks[taken].verdict != Verdict::Answered) ++taken;
    ASSERT_LT(taken, ticks.size());
    EXPECT_LE(taken - after + 1, 2u);
    EXPECT_EQ(ticks.back().verdict, Verdict::Answered);
}

}  // namespace
}  // namespace torvix
