// The poll cycle on a real TCP connection over loopback, against servers that misbehave the
// ways device servers do: a reply in several segments, a flood, a serial side that hangs.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>
#include <random>
#include <vector>

#include "link/line_port.h"
#include "link/modbus.h"
#include "support/fixed_slave_address.h"
#include "support/frames.h"

namespace torvix {
namespace {

using namespace std::chrono_literals;
using testing::FixedSlaveAddress;

constexpr int kWaitMs = 10000;  // only ever waited out by a failing run

QByteArray bytesOf(const testing::Frame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

long residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4096 : 0;
}

// A device server on loopback whose behaviour each test sets.
class Server : public QObject {
public:
    enum class Mode { Answer, AnswerInTwoSegments, Flood, Silent };

    Server() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0))
            << server_.errorString().toStdString();
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                connectedAt.push_back(clock_.elapsed());
                client_ = socket;
                // As small as an embedded device server's: what the flood leaves in it is
                // drained within a few ticks once it stops.
                socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 32 * 1024);
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket] { onRequest(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 n) {
                    flooded += mode == Mode::Flood ? n : 0;
                    keepFlooding(socket);
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                if (mode == Mode::Flood) keepFlooding(socket);
            }
        });
        clock_.start();
    }

    QString address() const {
        return QStringLiteral("tcp://127.0.0.1:%1").arg(server_.serverPort());
    }

    void setMode(Mode wanted) {
        mode = wanted;
        if (mode == Mode::Flood && client_) keepFlooding(client_);
    }

    // Waits on the accepted connection alone, as the system sees it: no event loop runs, so
    // nothing the client left for its next event-loop pass can arrive here.
    bool requestArrivesWithoutEventLoop() { return client_ && client_->waitForReadyRead(kWaitMs); }

    Mode mode = Mode::Answer;
    int connections = 0;
    int requests = 0;
    std::vector<qint64> connectedAt;  // ms since the server started
    qint64 flooded = 0;               // bytes the flood got into the connection

private:
    void onRequest(QTcpSocket* socket) {
        const QByteArray request = socket->readAll();
        if (mode == Mode::Flood || mode == Mode::Silent) return;
        ++requests;
        const QByteArray reply = request.size() >= 2 && request[1] == 4
                                     ? bytesOf(testing::statusReply({}))
                                     : request;  // a write is answered by its echo
        if (mode == Mode::Answer) {
            socket->write(reply);
            return;
        }
        socket->write(reply.first(reply.size() / 2));
        socket->flush();
        QTimer::singleShot(
            30, socket, [socket, rest = reply.sliced(reply.size() / 2)] { socket->write(rest); });
    }

    void keepFlooding(QTcpSocket* socket) {
        // Tops up what waits in Qt's buffer; how much of it leaves is up to the reader.
        if (mode != Mode::Flood || socket->bytesToWrite() > 0) return;
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        for (char& b : chunk) b = char(random_());
        socket->write(chunk);
    }

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QElapsedTimer clock_;
    std::mt19937 random_{7};
};

class TcpLink : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "tcp_socket_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) static QCoreApplication app(argc, argv);
    }

    void startPolling() {
        port.setPortOverrides({{1, server.address()}});
        ASSERT_TRUE(port.setPortNumber(1).ok());
        ASSERT_TRUE(port.setPortOpen(true).ok());
        ASSERT_TRUE(port.finishOpening().ok());
        timer.setInterval(100ms);
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { verdicts.push_back(modbus.pollTick().verdict); });
        timer.start();
    }

    bool answeredSince(std::size_t tick) const {
        for (std::size_t i = tick; i < verdicts.size(); ++i)
            if (verdicts[i] == Verdict::Answered) return true;
        return false;
    }

    Server server;
    LinePort port;
    FixedSlaveAddress slave;
    Modbus modbus{port, slave};
    QTimer timer;
    std::vector<Verdict> verdicts;
};

TEST_F(TcpLink, AReplyInTwoSegmentsInsideATickIsOneAnswer) {
    server.setMode(Server::Mode::AnswerInTwoSegments);
    ASSERT_NO_FATAL_FAILURE(startPolling());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests >= 8; }, kWaitMs));
    // The first tick has nothing to judge yet.
    const std::vector<Verdict> judged(verdicts.begin() + 1, verdicts.end());
    EXPECT_EQ(std::count(judged.begin(), judged.end(), Verdict::Answered), qsizetype(judged.size()))
        << "a tick late by more than 70 ms on a loaded machine would also show here";
}

TEST_F(TcpLink, ARequestLeavesDuringItsTickNotAfterWhateverTheEventLoopDoesNext) {
    ASSERT_NO_FATAL_FAILURE(startPolling());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests >= 1; }, kWaitMs));
    timer.stop();
    const int before = server.requests;
    modbus.pollTick();  // in the window, a repaint follows before the loop runs again
    ASSERT_TRUE(server.requestArrivesWithoutEventLoop());
    EXPECT_EQ(server.requests, before + 1);
}

TEST_F(TcpLink, AFloodIsHeldBackByTheReadLimitAndTheNextReplyIsTaken) {
    server.setMode(Server::Mode::Flood);
    ASSERT_NO_FATAL_FAILURE(startPolling());
    const long rssBefore = residentBytes();
    long rssPeak = rssBefore;
    QElapsedTimer flood;
    flood.start();
    while (flood.elapsed() < 1500) {
        QTest::qWait(50);
        rssPeak = std::max(rssPeak, residentBytes());
    }
    const std::size_t ticksInFlood = verdicts.size();
    const qint64 flooded = server.flooded;
    // Each tick drains at most the drain limit; what the kernel buffers on both sides comes on
    // top. A reader without a limit takes in hundreds of megabytes a second on loopback.
    const qint64 bound = qint64(ticksInFlood + 1) * (Modbus::kDrainLimit + 4096) + 16 * 1024 * 1024;
    EXPECT_GT(flooded, 64 * 1024) << "the flood never got going";
    EXPECT_LT(flooded, bound) << ticksInFlood << " ticks";
    EXPECT_LT(rssPeak - rssBefore, 16L * 1024 * 1024);
    EXPECT_GE(ticksInFlood, 5u) << "the flood held the ticks up";

    // The flood stops; what it left in the buffers is drained within a few ticks, then the
    // requests are answered again.
    server.setMode(Server::Mode::Answer);
    const std::size_t stopped = verdicts.size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return answeredSince(stopped); }, kWaitMs));
}

TEST_F(TcpLink, AServerWhoseSerialSideHangsIsDroppedAfterFiveSilentSecondsAndJoinedAgain) {
    server.setMode(Server::Mode::Silent);
    ASSERT_NO_FATAL_FAILURE(startPolling());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections >= 2; }, kWaitMs));
    // Never sooner than the silence allows; later only by the reconnect's second.
    EXPECT_GE(server.connectedAt[1] - server.connectedAt[0], 5000);
    EXPECT_EQ(std::count(verdicts.begin(), verdicts.end(), Verdict::Answered), 0);

    server.setMode(Server::Mode::Answer);
    const std::size_t answering = verdicts.size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return answeredSince(answering); }, kWaitMs));
    EXPECT_EQ(server.connections, 2) << "an answering connection is kept";
}

}  // namespace
}  // namespace torvix
