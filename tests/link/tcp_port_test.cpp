// The TCP port's connection state machine against a scripted connection and a clock the test
// moves, and the "tcp://" addresses it is named by.

#include "link/tcp_port.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <vector>

#include "link/line_port.h"
#include "support/reference_frames.h"

namespace torvix {
namespace {

namespace reference = testing::reference;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class ScriptedConnection : public TcpConnection {
public:
    std::vector<TcpAddress> attempts;
    std::vector<Bytes> written;
    QByteArray waiting;
    int aborts = 0;

    void connectTo(const TcpAddress& address) override { attempts.push_back(address); }
    void abort() override {
        ++aborts;
        waiting.clear();
    }
    void write(std::span<const std::uint8_t> bytes) override {
        written.emplace_back(bytes.begin(), bytes.end());
    }
    QByteArray takeReceived() override { return std::exchange(waiting, {}); }

    void accept() { emit connected(); }
    void refuse() { emit failed(QStringLiteral("Connection refused")); }
    void serverCloses() { emit closed(QStringLiteral("The remote host closed the connection")); }
    void arrive(const QByteArray& bytes) {
        waiting += bytes;
        emit received();
    }
};

// The ports' timers and signals need an application; one for the whole executable.
void ensureApplication() {
    static int argc = 1;
    static char name[] = "tcp_port_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) static QCoreApplication app(argc, argv);
}

class TcpPortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    TcpPortTest() {
        PortResolver resolver;
        resolver.setOverrides(
            {{3, "tcp://192.0.2.10:4001"}, {4, "tcp://[::1]:4001"}, {5, "tcp://nohost"}});
        auto connection = std::make_unique<ScriptedConnection>();
        script = connection.get();
        port.emplace(resolver, std::move(connection),
                     TcpTimings{.connectTimeout = 50ms, .busyWindow = 20ms},
                     [this] { return now; });
    }

    // Connected and past the window in which a close means "busy": finishOpening() returns
    // when the port's own busy timer says so, so no test sleeps for it.
    void openConnected() {
        ASSERT_TRUE(port->setPortNumber(3).ok());
        ASSERT_TRUE(port->setPortOpen(true).ok());
        script->accept();
        ASSERT_TRUE(port->isConnected());
        ASSERT_TRUE(port->finishOpening().ok());
    }

    // What a poll tick takes in.
    QByteArray drain() {
        QByteArray bytes;
        while (port->inBufferCount() > 0) bytes += char(port->input());
        return bytes;
    }

    void send(const Bytes& frame) { port->output(frame); }

    // One beat of the port's reopen timer, sent instead of waited for: the test is of what a
    // try does, not of Qt's timing.
    void reopenBeat() {
        auto* timer = port->findChild<QTimer*>(QStringLiteral("reopenTimer"));
        ASSERT_NE(timer, nullptr);
        ASSERT_TRUE(timer->isActive()) << "no reopen pending";
        ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    }

    std::chrono::steady_clock::time_point now{};
    ScriptedConnection* script = nullptr;
    std::optional<TcpPort> port;
};

using reference::kStatusRead;

TEST_F(TcpPortTest, OpensAtOnceAndCarriesFramesOnlyOnceTheServerAccepts) {
    ASSERT_TRUE(port->setPortNumber(4).ok());
    ASSERT_TRUE(port->setPortOpen(true).ok());
    ASSERT_EQ(script->attempts.size(), 1u);
    EXPECT_EQ(script->attempts[0].host, "::1");
    EXPECT_EQ(script->attempts[0].port, 4001);
    EXPECT_EQ(port->devicePath(), "tcp://[::1]:4001");
    EXPECT_TRUE(port->isPortOpen());

    send(kStatusRead);  // still connecting: lost, as a request the line swallowed
    EXPECT_TRUE(script->written.empty());

    script->accept();
    send(kStatusRead);
    EXPECT_EQ(script->written, std::vector<Bytes>{kStatusRead});

    // A reply in two segments, taken at the next tick, is one reply.
    script->arrive(QByteArray::fromHex("07060190"));
    script->arrive(QByteArray::fromHex("000149BD"));
    EXPECT_EQ(drain().toHex(), "07060190000149bd");
}

TEST_F(TcpPortTest, FinishingTheOpenTellsRefusedFromTurnedAwayFromAccepted) {
    ASSERT_TRUE(port->setPortNumber(3).ok());

    ASSERT_TRUE(port->setPortOpen(true).ok());
    QTimer::singleShot(0, script, [this] { script->refuse(); });
    PortStatus status = port->finishOpening();
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, PortErrorCode::OpenFailed);
    EXPECT_TRUE(status.error().detail.startsWith("tcp://192.0.2.10:4001: "));
    EXPECT_FALSE(port->isPortOpen());
    EXPECT_FALSE(port->isReopening()) << "a failed start-up open is the operator's to decide";

    // A one-client server accepts a second client and closes at once.
    ASSERT_TRUE(port->setPortOpen(true).ok());
    QTimer::singleShot(0, script, [this] {
        script->accept();
        script->serverCloses();
    });
    status = port->finishOpening();
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, PortErrorCode::PortInUse);
    EXPECT_FALSE(port->isPortOpen());

    ASSERT_TRUE(port->setPortOpen(true).ok());
    QTimer::singleShot(0, script, [this] { script->accept(); });
    EXPECT_TRUE(port->finishOpening().ok());
    EXPECT_TRUE(port->isConnected());
    send(kStatusRead);
    EXPECT_EQ(script->written.size(), 1u);

    // No answer at all within the connect time-out.
    ASSERT_TRUE(port->setPortOpen(false).ok());
    ASSERT_TRUE(port->setPortOpen(true).ok());
    status = port->finishOpening();
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, PortErrorCode::OpenFailed);
}

TEST_F(TcpPortTest, AConnectionTheServerDropsIsTriedAgainUntilItIsBack) {
    ASSERT_NO_FATAL_FAILURE(openConnected());

    script->arrive(QByteArray::fromHex("0102"));
    script->serverCloses();
    EXPECT_FALSE(port->isPortOpen());
    EXPECT_TRUE(port->isReopening());
    EXPECT_EQ(drain(), QByteArray()) << "bytes of a dropped connection answer nothing";

    // The next attempt is refused (the server is restarting), the one after that succeeds.
    ASSERT_NO_FATAL_FAILURE(reopenBeat());
    ASSERT_EQ(script->attempts.size(), 2u);
    script->refuse();
    EXPECT_FALSE(port->isPortOpen());
    EXPECT_TRUE(port->isReopening());
    ASSERT_NO_FATAL_FAILURE(reopenBeat());
    ASSERT_EQ(script->attempts.size(), 3u);
    script->accept();
    EXPECT_TRUE(port->isConnected());
    ASSERT_TRUE(port->finishOpening().ok());
    EXPECT_FALSE(port->isReopening());
    send(kStatusRead);
    EXPECT_EQ(script->written, std::vector<Bytes>{kStatusRead});
}

TEST_F(TcpPortTest, AConnectionSilentForFiveSecondsWhileRequestsGoOutIsDropped) {
    ASSERT_NO_FATAL_FAILURE(openConnected());

    // Answered requests over any length of time keep the connection.
    for (int tick = 0; tick < 100; ++tick) {
        send(kStatusRead);
        script->arrive(QByteArray::fromHex("0704"));
        (void)drain();
        now += 100ms;
    }
    // No requests, no verdict: an idle connection is not a silent one.
    now += 60s;
    EXPECT_TRUE(port->isConnected());

    const std::size_t before = script->written.size();
    for (int tick = 0; tick <= 49; ++tick) {
        send(kStatusRead);
        (void)drain();
        now += 100ms;
    }
    EXPECT_TRUE(port->isConnected()) << "4.9 s of silence";
    EXPECT_EQ(script->written.size(), before + 50);
    send(kStatusRead);  // 5 s after the first unanswered request
    EXPECT_FALSE(port->isPortOpen());
    EXPECT_TRUE(port->isReopening());
    EXPECT_EQ(script->written.size(), before + 50);
}

TEST_F(TcpPortTest, ClosingOnPurposeOrAnotherNumberStopsTheRetries) {
    ASSERT_NO_FATAL_FAILURE(openConnected());
    script->serverCloses();
    ASSERT_TRUE(port->isReopening());
    ASSERT_TRUE(port->setPortNumber(4).ok());
    EXPECT_FALSE(port->isReopening());

    ASSERT_TRUE(port->setPortOpen(true).ok());
    EXPECT_EQ(port->setPortNumber(3).error().code, PortErrorCode::PortAlreadyOpen);
    EXPECT_TRUE(port->setPortNumber(4).ok());
    ASSERT_TRUE(port->setPortOpen(false).ok());
    EXPECT_FALSE(port->isPortOpen());
    const std::size_t attempts = script->attempts.size();
    script->accept();  // a late word on the attempt just closed changes nothing
    EXPECT_FALSE(port->isPortOpen());
    EXPECT_EQ(script->attempts.size(), attempts);

    // A number that names no valid address, or a device, is no port here.
    EXPECT_EQ(port->setPortNumber(5).error().code, PortErrorCode::NoSuchPort);
    EXPECT_EQ(port->setPortNumber(1).error().code, PortErrorCode::NoSuchPort);
}

TEST(TcpAddress, ParsesWhatSectionPortsAndPortMayHold) {
    struct Case {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    };
    const Case cases[] = {
        {"tcp://192.168.10.20:4001", "192.168.10.20", 4001},
        {"TCP://nport.local:950", "nport.local", 950},
        {" tcp://[::1]:4001 ", "::1", 4001},
        {"tcp://[fe80::1]:65535", "fe80::1", 65535},
        {"tcp://localhost:502/", "localhost", 502},
        {"tcp://192.168.10.20", nullptr, 0},
        {"tcp://192.168.10.20:0", nullptr, 0},
        {"tcp://192.168.10.20:65536", nullptr, 0},
        {"tcp://:4001", nullptr, 0},
        {"tcp://::1:4001", nullptr, 0},
        {"tcp://user@host:4001", nullptr, 0},
        {"tcp://host:4001/path", nullptr, 0},
        {"udp://host:4001", nullptr, 0},
        {"/dev/ttyUSB0", nullptr, 0},
    };
    for (const Case& c : cases) {
        const auto address = parseTcpAddress(QString::fromUtf8(c.text));
        if (!c.host) {
            EXPECT_FALSE(address) << c.text;
            continue;
        }
        ASSERT_TRUE(address) << c.text;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
        EXPECT_EQ(parseTcpAddress(address->text())->host, c.host) << "round trip of " << c.text;
    }
    EXPECT_TRUE(isTcpAddressText(u"tcp://nohost"));
    EXPECT_EQ(parseListenAddress(u"[::1]:0")->text(), "tcp://[::1]:0");
    EXPECT_FALSE(parseListenAddress(u"127.0.0.1"));
}

TEST(LinePort, OpensWhicheverKindOfPortTheNumberStandsFor) {
    ensureApplication();

    LinePort port(PortResolver([](const QString& path) {
        return path == "/dev/ttyS9" ? path : QString();  // one serial device, no more
    }));
    port.setPortOverrides({{2, "/dev/ttyS9"}, {7, "tcp://127.0.0.1:9"}, {8, "tcp://bad"}});

    ASSERT_TRUE(port.setPortNumber(7).ok());
    EXPECT_TRUE(port.isTcp());
    EXPECT_TRUE(port.setLineSettings(*LineSettings::parse(u"9600,n,8,1")).ok());
    ASSERT_TRUE(port.setPortNumber(2).ok());
    EXPECT_FALSE(port.isTcp());
    EXPECT_EQ(port.setPortNumber(8).error().code, PortErrorCode::NoSuchPort);
    EXPECT_EQ(port.setPortNumber(3).error().code, PortErrorCode::NoSuchPort);
    EXPECT_EQ(port.active().portNumber(), 2);

    ASSERT_TRUE(port.setPortNumber(7).ok());
    ASSERT_TRUE(port.setPortOpen(true).ok());
    EXPECT_TRUE(port.isPortOpen());
    EXPECT_EQ(port.setPortNumber(2).error().code, PortErrorCode::PortAlreadyOpen);
    EXPECT_EQ(port.active().devicePath(), "tcp://127.0.0.1:9");
    ASSERT_TRUE(port.setPortOpen(false).ok());
    EXPECT_TRUE(port.setPortNumber(2).ok());
}

}  // namespace
}  // namespace torvix
