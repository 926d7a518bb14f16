// The whole program, run in-process as torvix-tp runs it, against the virtual controller
// torvix-sim and against a controller made of pymodbus, over pseudo-terminals.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "link/tcp_address.h"
#include "status_block_texts.h"
#include "support/peer_process.h"
#include "support/qt_printers.h"
#include "support/window_controls.h"
#include "ui/program.h"

namespace torvix::e2e {
namespace {

const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
const QString kCrcMismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString kNoAnswer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");

// Generous, for a loaded two-core machine and the sanitizer build; a passing run waits far less.
constexpr int kPeerStartMs = 15000;
constexpr int kLinkMs = 8000;
constexpr int kSettleMs = 6000;

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 255, 0);

using testing::Peer;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject readJson(const QString& path) {
    return QJsonDocument::fromJson(readAll(path)).object();
}

std::optional<Registers> registersOf(const QJsonArray& values) {
    if (values.size() != 64) return std::nullopt;
    Registers registers{};
    for (int n = 0; n < 64; ++n) registers[n] = static_cast<std::uint16_t>(values[n].toInt());
    return registers;
}

QString joined(const std::vector<QString>& lines) {
    QStringList list(lines.begin(), lines.end());
    return list.join(u'\n');
}

std::string hexCodes(const std::vector<int>& codes) {
    QStringList list;
    for (int code : codes) list << hex(static_cast<std::uint32_t>(code), 4);
    return list.join(u' ').toStdString();
}

// A reply later than the next tick makes the program send the request again, and the peer then
// acts on it twice; the order of the commands is what counts.
std::vector<int> withoutRepeats(const QJsonArray& values) {
    std::vector<int> codes;
    for (const auto& value : values)
        if (codes.empty() || codes.back() != value.toInt()) codes.push_back(value.toInt());
    return codes;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // The expected texts are written with the Russian decimal comma.
        ASSERT_EQ(QLocale::system().decimalPoint(), QStringLiteral(","))
            << "run with LC_ALL=ru_RU.UTF-8 (ctest sets it)";
    }

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString line() const { return path(QStringLiteral("line")); }
    QString simStateFile() const { return path(QStringLiteral("sim.json")); }
    QString controllerStateFile() const { return path(QStringLiteral("controller.json")); }
    // pymodbus logs every frame; kept out of the test output unless the peer fails to start.
    QString controllerLog() const { return path(QStringLiteral("controller.log")); }

    QString writeConfig(const QString& device) const {
        const QString file = path(QStringLiteral("тп.ini"));
        QFile ini(file);
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[PC config]\r\nCOM=1\r\nCOMSettings=115200,e,8,1\r\n"
                                 "[Ports]\r\nCOM1=%1\r\n")
                      .arg(device)
                      .toUtf8());
        return file;
    }

    void startSim(QStringList options) {
        options << QStringLiteral("--quiet") << QStringLiteral("--link") << line()
                << QStringLiteral("--state-file") << simStateFile();
        peer_.emplace(QStringLiteral(TORVIX_SIM_BINARY), options);
        const QString device = peer_->firstLine(kPeerStartMs);
        ASSERT_TRUE(device.startsWith(QStringLiteral("/dev/"))) << device.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(line()); }, kPeerStartMs));
    }

    void startController(const Registers& registers) {
        QStringList values;
        for (auto value : registers) values << QString::number(value);
        peer_.emplace(
            QStringLiteral(TORVIX_PYTHON),
            QStringList{QStringLiteral(TORVIX_PYMODBUS_CONTROLLER), QStringLiteral("--link"),
                        line(), QStringLiteral("--state"), controllerStateFile(),
                        QStringLiteral("--registers"), values.join(u',')});
        ASSERT_EQ(peer_->firstLine(kPeerStartMs), QStringLiteral("ready"));
        ASSERT_TRUE(QFileInfo::exists(line()));
    }

    // The simulator as a device server on `listen`; the address it prints, "tcp://...".
    QString startSimOverTcp(QStringList options, const QString& listen) {
        options << QStringLiteral("--quiet") << QStringLiteral("--tcp-listen") << listen
                << QStringLiteral("--state-file") << simStateFile();
        peer_.emplace(QStringLiteral(TORVIX_SIM_BINARY), options);
        return peer_->firstLine(kPeerStartMs);
    }

    // pymodbus's server with its RTU framer over TCP; the address it serves on.
    QString startControllerOverTcp(const Registers& registers) {
        QStringList values;
        for (auto value : registers) values << QString::number(value);
        peer_.emplace(
            QStringLiteral(TORVIX_PYTHON),
            QStringList{QStringLiteral(TORVIX_PYMODBUS_CONTROLLER), QStringLiteral("--tcp"),
                        QStringLiteral("127.0.0.1:0"), QStringLiteral("--state"),
                        controllerStateFile(), QStringLiteral("--registers"), values.join(u',')},
            controllerLog());
        const QString ready = peer_->firstLine(kPeerStartMs);
        return ready.startsWith(QStringLiteral("ready ")) ? ready.section(u' ', 1) : QString();
    }

    void stopPeer() { peer_.reset(); }

    Program& makeProgram(const QString& device) { return program_.emplace(writeConfig(device)); }

    void startProgram() {
        ASSERT_TRUE(makeProgram(line()).start());
        ASSERT_TRUE(window().isVisible());
    }

    MainWindow& window() { return program_->window(); }
    Program& program() { return *program_; }

    QWidget* control(const QString& name, int index = -1) {
        return testing::findControl(window(), name, index);
    }
    QString caption(const QString& name, int index = -1) {
        return testing::labelText(window(), name, index);
    }
    QString status() { return testing::statusLineText(window()); }
    bool waitForStatus(const QString& text, int ms = kLinkMs) {
        return testing::waitForStatusLine(window(), text, ms);
    }

    QLineEdit* priorityBox() { return qobject_cast<QLineEdit*>(control("txt_prior_sec")); }

    void click(const QString& name, int index, const QString& buttonCaption) {
        auto* button = qobject_cast<QAbstractButton*>(control(name, index));
        ASSERT_NE(button, nullptr);
        ASSERT_EQ(button->text(), buttonCaption);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Types into txt_prior_sec over whatever it holds.
    void typeNumber(const QString& text) {
        QLineEdit* box = priorityBox();
        ASSERT_NE(box, nullptr);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
        ASSERT_EQ(box->text(), text);
    }

    // Every caption and lamp of the status block that differs from what `registers` give.
    std::vector<QString> mismatches(const Registers& registers) {
        std::vector<QString> found;
        for (const auto& expected : expectedCaptions(registers)) {
            const QString shown = caption(expected.name, expected.index);
            if (shown != expected.text)
                found.push_back(QStringLiteral("%1(%2): \"%3\" shown, \"%4\" expected")
                                    .arg(expected.name)
                                    .arg(expected.index)
                                    .arg(shown, expected.text));
        }
        if (!found.empty()) return found;
        // A lamp as the operator sees it: its colour inside the border, or the window's own.
        const QImage shot = window().grab().toImage();
        const QColor background = window().palette().color(QPalette::Window);
        for (const auto& lamp : expectedLamps(registers)) {
            QWidget* widget = control(lamp.name, lamp.index);
            if (!widget) continue;
            const QPoint inside = widget->mapTo(&window(), QPoint(3, 3)) * shot.devicePixelRatio();
            const QColor seen = shot.pixelColor(inside);
            const QColor want = lamp.lit ? lamp.colour : background;
            if (seen != want)
                found.push_back(
                    QStringLiteral("%1(%2): %3 seen, %4 expected (%5)")
                        .arg(lamp.name)
                        .arg(lamp.index)
                        .arg(seen.name(), want.name(),
                             lamp.lit ? QStringLiteral("lit") : QStringLiteral("dark")));
        }
        return found;
    }

    QJsonObject simState() { return readJson(simStateFile()); }
    QJsonObject controllerState() { return readJson(controllerStateFile()); }

    // The simulator's registers can move on between two polls, so both sides are read anew
    // until they agree. `ready` holds back until the simulator has reached a wanted state.
    void expectWindowShowsSim(const std::function<bool(const Registers&)>& ready = {}) {
        std::vector<QString> last{QStringLiteral("no state from the simulator")};
        const bool agreed = QTest::qWaitFor(
            [&] {
                const auto registers = registersOf(simState()["input_registers"].toArray());
                if (!registers || (ready && !ready(*registers))) return false;
                last = mismatches(*registers);
                return last.empty();
            },
            kSettleMs);
        EXPECT_TRUE(agreed) << joined(last).toStdString();
    }

    // The simulator runs with --hangup-after: the outage shows, then polling goes on by itself.
    void expectPollingToResumeAfterTheSimulatorsHangUp() {
        EXPECT_TRUE(waitForStatus(kNoAnswer)) << status().toStdString();
        const int requestsDuringOutage = simCount("requests");
        EXPECT_TRUE(waitForStatus(kLinkUp, 3 * kLinkMs / 2)) << status().toStdString();
        EXPECT_GE(simFault("hangups"), 1);
        EXPECT_GT(simCount("requests"), requestsDuringOutage);
        expectWindowShowsSim();
    }

    // Registers that do not change, such as pymodbus serves.
    void expectWindowShowsRegisters(const Registers& registers) {
        std::vector<QString> last;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                last = mismatches(registers);
                return last.empty();
            },
            kSettleMs))
            << joined(last).toStdString();
    }

    // Samples the status line while waiting, so that every text a tick writes is seen.
    bool waitWhileRecordingStatus(const std::function<bool()>& done, QSet<QString>& seen, int ms) {
        return QTest::qWaitFor(
            [&] {
                seen.insert(status());
                return done();
            },
            ms);
    }

    int simCount(const char* key) { return simState()[QLatin1String(key)].toInt(); }
    int simFault(const char* key) {
        return simState()["faults"].toObject()[QLatin1String(key)].toInt();
    }
    int simHolding(int address) {
        return simState()["holding_registers"].toObject()[QString::number(address)].toInt();
    }

private:
    QTemporaryDir dir_;
    // Declared after the directory and before the program: the program goes first, the peer
    // next, the directory with the line and the files last.
    std::optional<Peer> peer_;
    std::optional<Program> program_;
};

TEST_F(EndToEnd, StatusBlockOfTheSimulatorReachesEveryCaptionAndLamp) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--running"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    expectWindowShowsSim();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const int counter = simHolding(400);
            return counter > 0 && caption("lbl_tr_id") == QString::number(counter);
        },
        kSettleMs))
        << caption("lbl_tr_id").toStdString() << " shown, the simulator holds " << simHolding(400);

    // Load on: currents and powers, with their fractions, come up in the next polls.
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 7, "1"));
    expectWindowShowsSim([](const Registers& r) { return r[7] != 0 && u32(r, 12) != 0; });
}

TEST_F(EndToEnd, ClickedCommandsReachTheSimulatorInClickOrder) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 2, "КВИТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 4, "1/0"));  // row "Секция"
    ASSERT_NO_FATAL_FAILURE(typeNumber("3"));
    EXPECT_EQ(priorityBox()->palette().color(QPalette::Base), kWhite);
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode_pr", 0, "Приоритет"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return simHolding(402) == 0xEE55; }, kSettleMs));
    const QJsonObject state = simState();
    const std::vector<int> commands = withoutRepeats(state["commands"].toArray());
    EXPECT_EQ(commands, (std::vector<int>{0x1231, 0x7893, 0xABCC, 0xEE55})) << hexCodes(commands);
    EXPECT_EQ(simHolding(401), 0x5503);
    EXPECT_TRUE(state["running"].toBool());

    // The controller's answer to function 16 turns the box green; the next poll shows the
    // priority in register 356.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return priorityBox()->palette().color(QPalette::Base) == kGreen; }, kSettleMs));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto registers = registersOf(simState()["input_registers"].toArray());
            return registers && ((*registers)[56] & 0xFF) == 3 &&
                   caption("lbl_priority") == QStringLiteral("3 ");
        },
        kSettleMs))
        << caption("lbl_priority").toStdString();
}

TEST_F(EndToEnd, StatusLineReportsBadChecksumsAndRecovers) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--bad-crc-every", "4"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    EXPECT_TRUE(waitForStatus(kCrcMismatch)) << status().toStdString();
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    EXPECT_GE(simFault("bad_crc"), 1);
    expectWindowShowsSim();
}

TEST_F(EndToEnd, StatusLineReportsMissingRepliesAndRecovers) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--drop-every", "4"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    EXPECT_TRUE(waitForStatus(kNoAnswer)) << status().toStdString();
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    EXPECT_GE(simFault("dropped"), 1);
    expectWindowShowsSim();
}

TEST_F(EndToEnd, GarbageInsteadOfRepliesIsReportedAndPollingGoesOn) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--garbage-every", "3"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    QSet<QString> seen;
    EXPECT_TRUE(waitWhileRecordingStatus([&] { return simFault("garbage") >= 4; }, seen, kSettleMs))
        << simFault("garbage");
    EXPECT_TRUE(seen.contains(kCrcMismatch) || seen.contains(kNoAnswer));
    seen -= QSet<QString>{kLinkUp, kCrcMismatch, kNoAnswer};
    EXPECT_TRUE(seen.isEmpty()) << QStringList(seen.begin(), seen.end()).join(u'|').toStdString();

    const int replies = simCount("replies");
    EXPECT_TRUE(QTest::qWaitFor([&] { return simCount("replies") >= replies + 5; }, kSettleMs));
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    expectWindowShowsSim();
}

TEST_F(EndToEnd, PollingResumesByItselfWhenTheLineComesBack) {
    // The port retries the device once a second: an outage of 1.5 s and an up time of 2 s leave
    // a retry well inside the line's next up time, rather than racing its ends.
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--hangup-after", "2", "--hangup-for", "1.5"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    expectPollingToResumeAfterTheSimulatorsHangUp();
}

// The operator's load test in one program: the companion from the menu, a recording, START and
// the load clicked in the main window; the file and the trends show them.
TEST_F(EndToEnd, TheCompanionRecordsTheCommandsClickedInTheWindow) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--load", "120", "--exception-every", "7"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    const QList<QAction*> menu = window().menuBar()->actions();
    ASSERT_EQ(menu.size(), 3);  // the scan's command last
    EXPECT_EQ(menu[0]->objectName(), QStringLiteral("mnu_settings"));
    EXPECT_EQ(menu[1]->objectName(), QStringLiteral("mnu_graphs"));
    EXPECT_EQ(menu[1]->text(), QStringLiteral("&Графики"));
    menu[1]->trigger();
    QPointer<CompanionWindow> companion = program().companion();
    ASSERT_FALSE(companion.isNull());
    EXPECT_TRUE(companion->isVisible());
    EXPECT_EQ(companion->parentWidget(), nullptr);
    menu[1]->trigger();
    EXPECT_EQ(program().companion(), companion.data());

    auto* record = companion->findChild<QPushButton*>(QStringLiteral("cmd_record"));
    QTest::mouseClick(record, Qt::LeftButton);
    const trends::RecordingSession& recording = program().companionLog().recording();
    ASSERT_TRUE(recording.isActive());
    EXPECT_EQ(QFileInfo(recording.path()).dir().dirName(), QStringLiteral("записи"));
    EXPECT_EQ(QFileInfo(recording.path()).dir().absolutePath(),
              QFileInfo(path(QStringLiteral("записи"))).absoluteFilePath());

    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return simState()["running"].toBool(); }, kSettleMs));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 7, "1"));  // Нагрузка
    ASSERT_TRUE(QTest::qWaitFor([&] { return simState()["load"].toBool(); }, kSettleMs));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 6, "0"));  // Нагрузка
    ASSERT_TRUE(QTest::qWaitFor([&] { return !simState()["load"].toBool(); }, kSettleMs));
    const long long records = recording.records();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.records() >= records + 3; }, kSettleMs));
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_FALSE(recording.isActive());

    const QStringList rows =
        QString::fromUtf8(readAll(recording.path())).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), recording.records() + 1);
    QStringList executed;
    for (const QString& row : rows.mid(1))
        for (const QString& event : row.section(u',', -1).remove(u'"').split(QStringLiteral(" | ")))
            if (event.endsWith(QStringLiteral(": выполнено")))
                executed << event.section(u']', 1).trimmed();
    EXPECT_EQ(executed, (QStringList{QStringLiteral("send start: выполнено"),
                                     QStringLiteral("send load on: выполнено"),
                                     QStringLiteral("send load off: выполнено")}));

    QStringList markers;
    for (const auto& marker : program().companionLog().markers().all()) markers << marker.text;
    EXPECT_EQ(markers, (QStringList{QStringLiteral("СТАРТ"), QStringLiteral("Нагрузка 1"),
                                    QStringLiteral("Нагрузка 0")}));
    // The trends took the controller's values: the generator's phase A, in 0.1 V. The set's
    // answer to the load step moves it, so both are read anew until they agree.
    float shown = 0;
    int held = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto latest = program().companionLog().series().readingAt(
                program().companionLog().series().lastTime());
            if (!latest) return false;
            shown = latest->low[0];
            held = simState()["input_registers"].toArray()[4].toInt();
            return qRound(shown * 10) == held;
        },
        kSettleMs))
        << "trend " << shown << " V, simulator " << held << " (0.1 V)";
}

int occurrences(const QJsonArray& values, int code) {
    return static_cast<int>(std::count(values.begin(), values.end(), QJsonValue(code)));
}

TEST_F(EndToEnd, SplitAndDelayedRepliesInsideATickAreTakenWhole) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--delay", "25", "--split", "25"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    expectWindowShowsSim();

    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 2, "КВИТ"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return withoutRepeats(simState()["commands"].toArray()).size() >= 2; }, kSettleMs));
    const std::vector<int> commands = withoutRepeats(simState()["commands"].toArray());
    EXPECT_EQ(commands, (std::vector<int>{0x1231, 0x7893})) << hexCodes(commands);
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
}

// A reply with a good CRC is taken for the controller's answer whatever address it carries:
// the program is the only master and talks to one controller.
TEST_F(EndToEnd, RepliesFromAnotherAddressKeepThePollingGoing) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--wrong-address-every", "3"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    QSet<QString> seen;
    EXPECT_TRUE(
        waitWhileRecordingStatus([&] { return simFault("wrong_address") >= 4; }, seen, kSettleMs));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 2, "КВИТ"));
    EXPECT_TRUE(waitWhileRecordingStatus(
        [&] { return withoutRepeats(simState()["commands"].toArray()).size() >= 2; }, seen,
        kSettleMs));
    const std::vector<int> commands = withoutRepeats(simState()["commands"].toArray());
    EXPECT_EQ(commands, (std::vector<int>{0x1231, 0x7893})) << hexCodes(commands);
    seen -= QSet<QString>{kLinkUp};
    EXPECT_TRUE(seen.isEmpty()) << QStringList(seen.begin(), seen.end()).join(u'|').toStdString();
    expectWindowShowsSim();
}

// Exception 6 says the controller is busy and did not act: the request goes out again, so a
// command refused that way still lands.
TEST_F(EndToEnd, CommandsRefusedAsBusyAreRepeatedUntilTheyLand) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--exception-every", "3"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(QTest::qWaitFor([&] { return simFault("exception") >= 2; }, kLinkMs));

    // Four commands in a row: with every third request refused, at least one of them is.
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 2, "КВИТ"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 7, "1"));  // Нагрузка
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 9, "1"));  // Секция
    const int requestsAtClicks = simCount("requests");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return withoutRepeats(simState()["commands"].toArray()).size() >= 4 ||
                   simCount("requests") > requestsAtClicks + 30;
        },
        kSettleMs));
    const std::vector<int> commands = withoutRepeats(simState()["commands"].toArray());
    EXPECT_EQ(commands, (std::vector<int>{0x1231, 0x7893, 0x5BC4, 0x5BCC})) << hexCodes(commands);
    expectWindowShowsSim();
}

// The controller acts on a command and its reply is corrupted on the way back: the program
// cannot tell this from a lost request and sends the command again. With every second reply
// corrupted, the request after each good reply is always the corrupted one, so each command
// runs exactly twice: a toggle cancels itself, "1" stays on.
TEST_F(EndToEnd, ACommandWhoseReplyIsCorruptedRunsTwice) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise", "--bad-crc-every", "2"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    ASSERT_FALSE(simState()["autostart"].toBool());

    const auto settleAfter = [&](int code) {
        int requestsSeen = -1;
        return QTest::qWaitFor(
            [&] {
                const QJsonObject state = simState();
                if (requestsSeen < 0 && occurrences(state["commands"].toArray(), code) > 0)
                    requestsSeen = state["requests"].toInt();
                // The repeat goes out on the next tick; wait a few more requests beyond it.
                return requestsSeen >= 0 && state["requests"].toInt() >= requestsSeen + 4;
            },
            kSettleMs);
    };
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 5, "1/0"));  // Автозапуск
    ASSERT_TRUE(settleAfter(0xAB10));
    QJsonObject state = simState();
    EXPECT_EQ(occurrences(state["commands"].toArray(), 0xAB10), 2);
    EXPECT_FALSE(state["autostart"].toBool()) << "the toggle ran an odd number of times";

    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 11, "1"));  // Автозапуск
    ASSERT_TRUE(settleAfter(0x5B10));
    state = simState();
    EXPECT_EQ(occurrences(state["commands"].toArray(), 0x5B10), 2);
    EXPECT_TRUE(state["autostart"].toBool());
}

// Registers that tell a misplaced byte, a wrong sign or width, or a wrong rounding apart.
Registers distinctiveRegisters() {
    Registers r{};
    for (int n = 0; n < 64; ++n) r[n] = static_cast<std::uint16_t>(0x5A00 + n);  // not shown
    r[0] = 0x0209;
    r[1] = 0x030E;
    r[2] = 2305;
    r[3] = 2298;
    r[4] = 2310;
    r[5] = 2315;
    r[6] = 2291;
    r[7] = 1087;
    r[8] = 5;
    r[9] = 1093;
    r[10] = 0xFFFF, r[11] = 0xFF9C;
    r[12] = 0x8000, r[13] = 0x0000;
    r[14] = 0x0001, r[15] = 0x0002;
    r[16] = 4998;
    r[17] = 5001;
    r[18] = 5000;
    r[29] = 0x0000, r[30] = 0x00FF;
    r[35] = 0x1234, r[36] = 0x5678;
    r[39] = 0xFF38;
    r[40] = 0x000F;
    r[41] = 0x1A2B;
    const std::uint16_t faults[9] = {0x0000, 0x1234, 0xABCD, 0x0001, 0x8000,
                                     0x00F0, 0xFFFF, 0x0A0B, 0x7FFF};
    for (int i = 0; i < 9; ++i) r[42 + i] = faults[i];
    r[51] = 0x8000, r[52] = 0x0001;
    r[55] = 0x00A5;
    r[56] = 0x0203;
    r[58] = 0xFD55;  // lamps 0, 2, 4, 6, 8; bits 10 to 15 are not lamps
    r[60] = 0xFFFD;  // Старт and Сирена; bits 3 to 15 are not lamps
    r[61] = 0xFFC4;
    r[62] = 0xFFFF, r[63] = 0xFFFF;
    return r;
}

bool holdsWrite(const QJsonObject& state, int address, const std::vector<int>& values) {
    for (const auto& write : state["writes"].toArray()) {
        const QJsonArray entry = write.toArray();
        if (entry.size() != 2 || entry[0].toInt() != address) continue;
        std::vector<int> written;
        for (const auto& value : entry[1].toArray()) written.push_back(value.toInt());
        if (written == values) return true;
    }
    return false;
}

std::vector<int> holdingOf(const QJsonObject& state) {
    std::vector<int> holding;
    for (const auto& value : state["holding"].toArray()) holding.push_back(value.toInt());
    return holding;
}

TEST_F(EndToEnd, AnIndependentModbusStackAcceptsTheFramesAndIsShownTruly) {
    const Registers registers = distinctiveRegisters();
    ASSERT_NO_FATAL_FAILURE(startController(registers));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    expectWindowShowsRegisters(registers);
    EXPECT_EQ(caption("lbl_phAU"), QStringLiteral("231 "));
    EXPECT_EQ(caption("lbl_ap"), QStringLiteral("-10 "));
    EXPECT_EQ(caption("lbl_fp"), QStringLiteral("214748364,8 "));
    EXPECT_EQ(caption("lbl_acc"), QStringLiteral("-20 "));
    EXPECT_EQ(caption("lbl_service"), QStringLiteral("-1 мч"));
    EXPECT_EQ(caption("lbl_motomin"), QStringLiteral("71582788 мч"));
    EXPECT_EQ(caption("lbl_faults", 11), QStringLiteral("80000001"));

    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return holdsWrite(controllerState(), 402, {4657}); }, kSettleMs));
    EXPECT_EQ(holdingOf(controllerState()).at(2), 4657);

    ASSERT_NO_FATAL_FAILURE(typeNumber("5"));
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode_pr", 0, "Приоритет"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return holdsWrite(controllerState(), 401, {0x5505, 0xEE55});
        },
        kSettleMs));
    const std::vector<int> holding = holdingOf(controllerState());
    ASSERT_EQ(holding.size(), 3u);
    EXPECT_EQ(holding[1], 0x5505);
    EXPECT_EQ(holding[2], 0xEE55);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return priorityBox()->palette().color(QPalette::Base) == kGreen; }, kSettleMs));

    // Every request the controller answered, status reads and writes alike.
    const auto polls = [&] {
        const QJsonObject state = controllerState();
        return state["reads"].toInt() + static_cast<int>(state["writes"].toArray().size());
    };
    const int readsBefore = controllerState()["reads"].toInt();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return polls() >= 20 && controllerState()["reads"].toInt() > readsBefore; },
        2 * kSettleMs))
        << polls();
    EXPECT_EQ(controllerState()["rejected_frames"].toInt(), 0);
    EXPECT_EQ(status(), kLinkUp);
}

// Notes whether a widget has ever been shown.
class ShowWatcher : public QObject {
public:
    explicit ShowWatcher(QWidget& widget) { widget.installEventFilter(this); }
    bool shown = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) shown = true;
        return QObject::eventFilter(watched, event);
    }
};

struct MessageBoxSeen {
    bool found = false;
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString cancelCaption;
};

// Runs the start-up and answers its box with Отмена from inside the box's own event loop.
struct StartUpBox {
    bool started = true;
    MessageBoxSeen seen;
};

StartUpBox startAndCancelTheBox(Program& program) {
    StartUpBox result;
    QDeadlineTimer deadline(kLinkMs);
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible()) continue;
            answer.stop();
            result.seen = {true, box->text(), box->windowTitle(), box->icon(),
                           box->button(QMessageBox::Cancel)
                               ? box->button(QMessageBox::Cancel)->text()
                               : QString()};
            QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
            return;
        }
        if (!deadline.hasExpired()) return;
        answer.stop();  // fail rather than hang on whatever is modal instead
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    answer.start();
    result.started = program.start();
    return result;
}

TEST_F(EndToEnd, MissingPortIsPutToTheOperatorAndCancelEndsTheStartUp) {
    Program& program = makeProgram(path(QStringLiteral("missing")));
    const ShowWatcher windowWatcher(program.window());

    const StartUpBox box = startAndCancelTheBox(program);
    const MessageBoxSeen& seen = box.seen;
    const bool started = box.started;

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, QStringLiteral("Порт COM1 не доступен\r\nВыберите другой порт"));
    EXPECT_EQ(seen.title, QStringLiteral("Ошибка открытия порта"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.cancelCaption, QStringLiteral("Отмена"));
    EXPECT_FALSE(started);
    EXPECT_FALSE(windowWatcher.shown);
    auto* timer = window().findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
}

TEST_F(EndToEnd, ClosingTheWindowEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(startSim({"--no-noise"}));
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    bool endedByClosing = true;
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, [&] {
        endedByClosing = false;
        QCoreApplication::exit(1);
    });
    stuck.start(kSettleMs);
    QTimer::singleShot(0, &window(), [&] { window().close(); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(endedByClosing);
    EXPECT_FALSE(window().isVisible());
}

// ---- Through a serial device server: the same RTU frames in a TCP connection ----

TEST_F(EndToEnd, OverTcpTheWindowShowsAndCommandsTheSimulatorOnIpv4AndIpv6) {
    for (const char* listen : {"127.0.0.1:0", "[::1]:0"}) {
        SCOPED_TRACE(listen);
        const QString address =
            startSimOverTcp({"--no-noise", "--running"}, QString::fromLatin1(listen));
        ASSERT_TRUE(address.startsWith(QStringLiteral("tcp://"))) << address.toStdString();
        ASSERT_TRUE(makeProgram(address).start());
        ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
        expectWindowShowsSim();

        ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return simHolding(402) == 0x1231; }, kSettleMs));
        stopPeer();
    }
}

TEST_F(EndToEnd, OverTcpPollingResumesWhenTheServerClosesAndComesBack) {
    const QString address =
        startSimOverTcp({"--no-noise", "--hangup-after", "2", "--hangup-for", "1.5"},
                        QStringLiteral("127.0.0.1:0"));
    ASSERT_TRUE(address.startsWith(QStringLiteral("tcp://"))) << address.toStdString();
    ASSERT_TRUE(makeProgram(address).start());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    expectPollingToResumeAfterTheSimulatorsHangUp();
}

TEST_F(EndToEnd, OverTcpARefusedOrTakenServerIsPutToTheOperatorNamingItsAddress) {
    const QString gone = startSimOverTcp({}, QStringLiteral("127.0.0.1:0"));
    ASSERT_TRUE(gone.startsWith(QStringLiteral("tcp://")));
    stopPeer();
    StartUpBox refused = startAndCancelTheBox(makeProgram(gone));
    ASSERT_TRUE(refused.seen.found);
    EXPECT_EQ(refused.seen.text,
              QStringLiteral("Порт COM1 (%1) не доступен\r\nВыберите другой порт").arg(gone));
    EXPECT_EQ(refused.seen.title, QStringLiteral("Ошибка открытия порта"));
    EXPECT_FALSE(refused.started);

    // Another client holds the one-client server, which closes us at once.
    const QString address = startSimOverTcp({"--no-noise"}, QStringLiteral("127.0.0.1:0"));
    const auto server = parseTcpAddress(address);
    ASSERT_TRUE(server);
    QTcpSocket other;
    other.connectToHost(server->host, server->port);
    ASSERT_TRUE(other.waitForConnected(kLinkMs));
    // Answered: the server has taken this client, not only the system its connection.
    const QByteArray statusRead = QByteArray::fromHex("0704012C004031A9");
    other.write(statusRead);
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.bytesAvailable() > 0; }, kLinkMs));
    StartUpBox taken = startAndCancelTheBox(makeProgram(address));
    ASSERT_TRUE(taken.seen.found);
    EXPECT_EQ(taken.seen.text,
              QStringLiteral("Порт COM1 (%1) занят другим приложением\r\nВыберите другой порт")
                  .arg(address));
    EXPECT_FALSE(taken.started);
}

TEST_F(EndToEnd, OverTcpAnIndependentModbusStackWithTheRtuFramerIsShownTruly) {
    const Registers registers = distinctiveRegisters();
    const QString address = startControllerOverTcp(registers);
    ASSERT_TRUE(address.startsWith(QStringLiteral("tcp://"))) << address.toStdString();
    ASSERT_TRUE(makeProgram(address).start());
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();

    expectWindowShowsRegisters(registers);
    ASSERT_NO_FATAL_FAILURE(click("cmd_mode", 0, "СТАРТ"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return holdsWrite(controllerState(), 402, {4657}); }, kSettleMs));
    EXPECT_EQ(controllerState()["rejected_frames"].toInt(), 0);
}

}  // namespace
}  // namespace torvix::e2e
