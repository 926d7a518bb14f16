// torvix-cli scan as a user runs it: three pseudo-terminals, one of them with the simulator at
// address 23 and 19200 baud behind it, timed as a real line (--pace), so that a wrong speed
// gives garbage as on a wire.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>
#include <thread>

#include "support/peer_process.h"
#include "support/pty.h"

namespace torvix::scan_e2e {
namespace {

constexpr int kStartMs = 15000;
constexpr int kRunMs = 60000;

using testing::Peer;

class ScanEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(silent_.ok());
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    // The simulator on a pseudo-terminal behind the link `name`, at `settings` and `address`.
    void startSim(std::optional<Peer>& peer, const QString& name, const QString& settings,
                  int address) {
        peer.emplace(
            QStringLiteral(TORVIX_SIM_BINARY),
            QStringList{QStringLiteral("--quiet"), QStringLiteral("--pace"),
                        QStringLiteral("--settings"), settings, QStringLiteral("--address"),
                        QString::number(address), QStringLiteral("--link"), path(name),
                        QStringLiteral("--state-file"), path(name + QStringLiteral(".json"))},
            path(name + QStringLiteral(".log")));
        ASSERT_TRUE(peer->firstLine(kStartMs).startsWith(QStringLiteral("/dev/")));
        QDeadlineTimer deadline(kStartMs);
        while (!QFileInfo::exists(path(name)) && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(QFileInfo::exists(path(name)));
    }

    // Port 1: nothing behind it. Port 2: a controller at 9600, which no probe's speed matches.
    // Port 3: the controller sought, at 19200.
    void startThreePorts() {
        startSim(other_, QStringLiteral("two"), QStringLiteral("9600,e,8,1"), 23);
        startSim(sought_, QStringLiteral("three"), QStringLiteral("19200,e,8,1"), 23);
    }
    QString one() const { return silent_.slavePath(); }
    QString two() const { return path(QStringLiteral("two")); }
    QString three() const { return path(QStringLiteral("three")); }

    QJsonObject simState(const QString& name) const {
        QFile file(path(name + QStringLiteral(".json")));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }

    testing::Finished scan(const QStringList& arguments) {
        return testing::runToEnd(QStringLiteral(TORVIX_CLI_BINARY),
                                 QStringList{QStringLiteral("scan")} + arguments,
                                 QProcessEnvironment::systemEnvironment(), kRunMs);
    }

    QTemporaryDir dir_;
    testing::Pty silent_;
    std::optional<Peer> other_;
    std::optional<Peer> sought_;
};

const QStringList kTwoSettings{QStringLiteral("--settings-list"),
                               QStringLiteral("115200,e,8,1;19200,e,8,1"),
                               QStringLiteral("--addresses"), QStringLiteral("20-25")};

// "3.07": high byte, a point, the low byte in two digits, as the record writes a version.
QString versionOf(int reg) {
    return QStringLiteral("%1.%2").arg(reg >> 8).arg(reg & 0xFF, 2, 10, QLatin1Char('0'));
}

TEST_F(ScanEndToEnd, FindsTheControllerOnTheThirdPortAndTellsTheOthersHaveNone) {
    startThreePorts();
    const auto done =
        scan(QStringList{QStringLiteral("--ports"), one() + u',' + two() + u',' + three(),
                         QStringLiteral("--format"), QStringLiteral("json")} +
             kTwoSettings);
    ASSERT_EQ(done.code, 0) << done.err.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(done.out.toUtf8()).object();
    const QJsonArray found = result[QStringLiteral("found")].toArray();
    ASSERT_EQ(found.size(), 1) << done.out.toStdString();
    const QJsonObject controller = found[0].toObject();
    EXPECT_EQ(controller[QStringLiteral("port")].toString(), three());
    EXPECT_EQ(controller[QStringLiteral("device")].toString(), three());
    EXPECT_EQ(controller[QStringLiteral("settings")].toString(), QStringLiteral("19200,e,8,1"));
    EXPECT_EQ(controller[QStringLiteral("address")].toInt(), 23);
    const QJsonArray registers =
        simState(QStringLiteral("three"))[QStringLiteral("input_registers")].toArray();
    ASSERT_EQ(registers.size(), 64);
    EXPECT_EQ(controller[QStringLiteral("protocol_version")].toString(),
              versionOf(registers[0].toInt()));
    EXPECT_EQ(controller[QStringLiteral("software_version")].toString(),
              versionOf(registers[1].toInt()));

    // The wrong speeds gave garbage on ports 2 and 3; port 1 stayed silent; none was busy.
    EXPECT_EQ(result[QStringLiteral("activity_without_reply")].toArray(),
              (QJsonArray{two(), three()}));
    EXPECT_EQ(result[QStringLiteral("busy")].toArray(), QJsonArray());
    // Ports 1 and 2: 2 settings x 6 addresses; port 3: 6 at 115200, then 20 to 23.
    EXPECT_EQ(result[QStringLiteral("probes")].toInt(), 12 + 12 + 6 + 4);
    EXPECT_GT(result[QStringLiteral("seconds")].toDouble(), 0);
    EXPECT_TRUE(done.err.contains(QStringLiteral("есть обмен, но не на этих настройках")));

    // The keys in the order the issue gives them.
    const QStringList keys{"\"found\"", "\"busy\"", "\"activity_without_reply\"", "\"probes\"",
                           "\"seconds\""};
    qsizetype at = 0;
    for (const QString& key : keys) {
        const qsizetype next = done.out.indexOf(key);
        EXPECT_GT(next, at - 1) << key.toStdString();
        at = next;
    }
    // As text: the find, and the two other ports named as without a controller.
    const auto text =
        scan(QStringList{QStringLiteral("--ports"), one() + u',' + two() + u',' + three()} +
             kTwoSettings);
    EXPECT_EQ(text.code, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.startsWith(QStringLiteral("%1, 19200,e,8,1, адрес 23, версия ПО %2")
                                        .arg(three(), versionOf(registers[1].toInt()))))
        << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("без контроллера: %1, %2").arg(one(), two())))
        << text.out.toStdString();

    // Nothing but reads of one register reached the controllers; address 0 never.
    EXPECT_EQ(simState(QStringLiteral("two"))[QStringLiteral("command_count")].toInt(), 0);
    EXPECT_EQ(simState(QStringLiteral("three"))[QStringLiteral("command_count")].toInt(), 0);
}

TEST_F(ScanEndToEnd, NoControllerExitsFourAndNoPortExitsOne) {
    startThreePorts();
    const auto none =
        scan(QStringList{QStringLiteral("--ports"), one() + u',' + two()} + kTwoSettings);
    EXPECT_EQ(none.code, 4) << none.err.toStdString();
    EXPECT_TRUE(none.out.contains(QStringLiteral("найдено: 0"))) << none.out.toStdString();
    EXPECT_TRUE(none.out.contains(QStringLiteral("без контроллера: %1, %2").arg(one(), two())))
        << none.out.toStdString();

    const auto missing =
        scan(QStringList{QStringLiteral("--ports"), path(QStringLiteral("gone"))} + kTwoSettings);
    EXPECT_EQ(missing.code, 1) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains(QStringLiteral("нет такого устройства")))
        << missing.err.toStdString();
}

TEST_F(ScanEndToEnd, CtrlCPrintsWhatWasFoundAndExits130) {
    startThreePorts();
    QProcess process;
    process.start(QStringLiteral(TORVIX_CLI_BINARY),
                  QStringList{QStringLiteral("scan"), QStringLiteral("--ports"), three(),
                              QStringLiteral("--settings-list"), QStringLiteral("19200,e,8,1"),
                              QStringLiteral("--all")});
    ASSERT_TRUE(process.waitForStarted(kStartMs));
    QString out;
    QDeadlineTimer deadline(kRunMs);
    while (!out.contains(QStringLiteral("адрес 23")) && !deadline.hasExpired() &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        out += QString::fromUtf8(process.readAllStandardOutput());
    }
    ASSERT_TRUE(out.contains(QStringLiteral("адрес 23"))) << out.toStdString();
    ASSERT_EQ(process.state(), QProcess::Running);  // --all goes on through 247 addresses
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(kStartMs));
    out += QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(out.contains(QStringLiteral("найдено: 1"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("поиск остановлен"))) << out.toStdString();
}

// A serial device server has its own speed: only the addresses are probed, once.
TEST_F(ScanEndToEnd, ADeviceServerIsProbedForAddressesOnly) {
    Peer server(
        QStringLiteral(TORVIX_SIM_BINARY),
        QStringList{QStringLiteral("--quiet"), QStringLiteral("--address"), QStringLiteral("9"),
                    QStringLiteral("--tcp-listen"), QStringLiteral("127.0.0.1:0")});
    const QString address = server.firstLine(kStartMs);
    ASSERT_TRUE(address.startsWith(QStringLiteral("tcp://"))) << address.toStdString();
    const auto done =
        scan({QStringLiteral("--ports"), address, QStringLiteral("--addresses"),
              QStringLiteral("5-9"), QStringLiteral("--format"), QStringLiteral("json")});
    ASSERT_EQ(done.code, 0) << done.err.toStdString();
    const QJsonObject result = QJsonDocument::fromJson(done.out.toUtf8()).object();
    const QJsonArray found = result[QStringLiteral("found")].toArray();
    ASSERT_EQ(found.size(), 1) << done.out.toStdString();
    EXPECT_EQ(found[0].toObject()[QStringLiteral("port")].toString(), address);
    EXPECT_EQ(found[0].toObject()[QStringLiteral("address")].toInt(), 9);
    // 7 first, then 5, 6, 8, 9 on the one setting: not 20 settings' worth.
    EXPECT_EQ(result[QStringLiteral("probes")].toInt(), 5);
}

}  // namespace
}  // namespace torvix::scan_e2e
