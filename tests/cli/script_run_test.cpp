// The script runner of `run` against a scripted controller on the fake port, on a clock the
// test steps: every wait and time-out is reached without real waiting. Expected frames are the
// reference frames of tests/protocol (checked there against pymodbus' CRC), the register
// scaling is the README's (gen_f_hz = register 318 / 100, gen_u_a_v = register 304 / 10).

#include "cli/script_run.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <deque>

#include "captured_stderr.h"
#include "manual_clock.h"
#include "support/fake_serial_port.h"
#include "support/frames.h"
#include "support/qt_printers.h"

namespace torvix::cli {
namespace {

using testing::Frame;
using testing::ManualClock;

const Frame kStart{0x07, 0x06, 0x01, 0x92, 0x12, 0x31, 0xE4, 0xC9};
const Frame kAck{0x07, 0x06, 0x01, 0x92, 0x78, 0x93, 0x4B, 0xD0};
const Frame kLoadOn{0x07, 0x06, 0x01, 0x92, 0x5B, 0xC4, 0x13, 0x1E};
const Frame kStatusRead{0x07, 0x04, 0x01, 0x2C, 0x00, 0x40, 0x31, 0xA9};
constexpr int kFrequencyRegister = 18;  // 318, in 0.01 Hz
constexpr int kVoltageRegister = 4;     // 304, in 0.1 V

// The controller: the status block for a status read, the echo of a write; what it does with a
// command can be scripted, one reply per command frame in turn.
class ControllerPort : public testing::FakeSerialPort {
public:
    enum Reply { Echo, Silence, Busy, Refused };
    std::deque<Reply> commandReplies;  // when empty: Echo
    Reply everyCommand = Echo;
    bool silent = false;
    testing::StatusRegisters regs{};
    std::function<void(ControllerPort&)> beforeReply;
    std::vector<Frame> commands;  // command frames received, in order
    // With a delay, the reply arrives that much later, with the port's notice.
    int replyDelayMs = 0;
    std::unique_ptr<Timer> delivery;
    std::function<void()> arrived;

    void output(std::span<const std::uint8_t> frame) override {
        FakeSerialPort::output(frame);
        if (replyDelayMs > 0) {
            const std::size_t before = rx.size();
            reply();
            pending.assign(rx.begin() + std::ptrdiff_t(before), rx.end());
            rx.resize(before);
            if (!pending.empty()) delivery->start(replyDelayMs);
            return;
        }
        reply();
    }

    void deliver() {
        feed(pending);
        pending.clear();
        if (arrived) arrived();
    }

private:
    Frame pending;

    void reply() {
        const Frame request = written.back();
        if (beforeReply) beforeReply(*this);
        if (silent) return;
        if (request[1] == 4) {
            feed(testing::statusReply(regs));
            return;
        }
        if ((request[2] << 8 | request[3]) != 0x192) {
            feed(request);
            return;
        }
        commands.push_back(request);
        Reply answer = everyCommand;
        if (!commandReplies.empty()) {
            answer = commandReplies.front();
            commandReplies.pop_front();
        }
        if (answer == Echo) feed(request);
        if (answer == Busy) feed(testing::withCrc({7, 0x86, 6}));
        if (answer == Refused) feed(testing::withCrc({7, 0x86, 2}));
    }
};

// A device that takes nothing: the records cannot be written.
class FullDisk : public QIODevice {
protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

LineChoice testLine() {
    LineChoice line;
    line.number = 1;
    line.settings = *LineSettings::parse(QStringLiteral("115200,e,8,1"));
    return line;
}

class ScriptRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        run.command = Command::Run;
        run.format = Format::Csv;
        run.script = QStringLiteral("seq.tvx");
        records.open(QIODevice::WriteOnly);
    }

    // Plays `text` with the clock stepped 1 ms at a time (the poll tick comes every 100 ms),
    // at most `limitMs`; `during` runs at each step.
    int play(const QString& text, QIODevice* out = nullptr, double limitMs = 120000,
             const std::function<void(ScriptRun&)>& during = {}) {
        parsed = script::parse(text);
        EXPECT_TRUE(parsed.errors.empty());
        PollSession session(testLine(), 7, port, clock);
        port.delivery = clock.timer([this] { port.deliver(); }, false, true);
        port.arrived = [&session] { session.bytesArrived(); };
        EXPECT_FALSE(session.open());
        session.setCadence(run);
        Recorder recorder(run, out ? *out : records, false, session);
        return playScript(run, parsed.steps, session, recorder, [&](ScriptRun& sequence) {
            while (!sequence.ended() && clock.nowMs() < limitMs) {
                clock.advanceMs(1);
                if (during) during(sequence);
            }
            ended = sequence.ended();
            endedMs = clock.nowMs();
            checks = sequence.checks();
            stepsDone = sequence.stepsDone();
        });
    }

    // The events column of every record, in order, without their times.
    QStringList events() const {
        QStringList found;
        const QRegularExpression event(QStringLiteral(R"(\[(\d+\.\d) s\] ([^|"]*?)(?= \||"|$))"));
        for (const QString& line : QString::fromUtf8(records.data()).split(u'\n').mid(1)) {
            auto matches = event.globalMatch(line);
            while (matches.hasNext()) found << matches.next().captured(2);
        }
        return found;
    }
    QString csv() const { return QString::fromUtf8(records.data()); }

    Invocation run;
    ManualClock clock;  // before the port, whose delivery timer runs on it
    ControllerPort port;
    QBuffer records;
    script::Parsed parsed;
    bool ended = false;
    double endedMs = 0;
    std::vector<CheckResult> checks;
    std::size_t stepsDone = 0;
};

TEST_F(ScriptRunTest, AnAnsweredSendGoesOnAndEndsWithZero) {
    EXPECT_EQ(play(QStringLiteral("send start\nmark \"after start\"\n")), 0);
    EXPECT_TRUE(ended);
    EXPECT_EQ(stepsDone, 2u);
    EXPECT_EQ(port.commands, (std::vector<Frame>{kStart}));
    EXPECT_EQ(port.written.front(), kStatusRead);
    EXPECT_EQ(events(), (QStringList{"send start: выполнено", "mark after start"}));
    EXPECT_TRUE(csv().startsWith(QStringLiteral("time,")));
    EXPECT_FALSE(port.open) << "the session closes the port at the end";
}

TEST_F(ScriptRunTest, ABusyCommandIsRepeatedUntilAnswered) {
    port.commandReplies = {ControllerPort::Busy, ControllerPort::Busy};
    EXPECT_EQ(play(QStringLiteral("send ack\n")), 0);
    EXPECT_EQ(port.commands, (std::vector<Frame>(3, kAck)));
    EXPECT_EQ(events(), (QStringList{"send ack: занят, повтор", "send ack: занят, повтор",
                                     "send ack: выполнено"}));
}

TEST_F(ScriptRunTest, ARefusedCommandEndsWithThreeAndTheRestDoesNotRun) {
    port.everyCommand = ControllerPort::Refused;
    QTemporaryDir dir;
    testing::CapturedStderr err(dir.filePath(QStringLiteral("err")));
    EXPECT_EQ(play(QStringLiteral("send start\nmark after\nsend load on\n")), 3);
    const QString told = err.text();
    EXPECT_TRUE(told.startsWith(
        QStringLiteral("[   0.2 s] send start: отказ: исключение 2 (недопустимый адрес данных)\n")))
        << told.toStdString();
    EXPECT_TRUE(
        told.endsWith(QStringLiteral("Шагов выполнено: 0 из 3; проверок: 0, не выполнено: 0\n")))
        << told.toStdString();
    EXPECT_EQ(port.commands, (std::vector<Frame>{kStart}));
    EXPECT_EQ(stepsDone, 0u);
    EXPECT_EQ(events(),
              (QStringList{"send start: отказ: исключение 2 (недопустимый адрес данных)"}));
}

TEST_F(ScriptRunTest, AnUnansweredSendEndsWithFourAfterTheTimeout) {
    port.everyCommand = ControllerPort::Silence;
    run.timeoutSeconds = 2;
    EXPECT_EQ(play(QStringLiteral("send start\nmark after\n")), 4);
    EXPECT_GE(port.commands.size(), 2u) << "the command is repeated while unanswered";
    for (const Frame& command : port.commands) EXPECT_EQ(command, kStart);
    // The link repeats the command and reads no status meanwhile: no record comes to carry the
    // event (it is on stderr), and the run ends a second after the timeout.
    EXPECT_EQ(port.written.size(), 31u);
    EXPECT_TRUE(events().isEmpty());
    EXPECT_EQ(endedMs, 3000);
}

TEST_F(ScriptRunTest, UntilMetInTimeTellsHowLongItTook) {
    // The frequency comes up 1.5 s into the run.
    port.beforeReply = [&](ControllerPort& controller) {
        controller.regs[kFrequencyRegister] = clock.nowMs() >= 1500 ? 4990 : 0;
    };
    EXPECT_EQ(play(QStringLiteral("until gen_f_hz >= 49.5 within 5s\nmark up\n")), 0);
    EXPECT_EQ(checks[0].state, CheckResult::Passed);
    EXPECT_NEAR(checks[0].seconds, 1.6, 0.15);
    ASSERT_EQ(events().size(), 2);
    EXPECT_TRUE(events()[0].startsWith(QStringLiteral("until gen_f_hz >= 49.5: выполнено за 1.")))
        << events()[0].toStdString();
    EXPECT_EQ(events()[1], QStringLiteral("mark up"));
    EXPECT_LT(endedMs, 2000);
}

TEST_F(ScriptRunTest, UntilNotMetInTimeEndsWithFourAndSendsNothingMore) {
    EXPECT_EQ(play(QStringLiteral(
                  "until gen_f_hz > 40 within 500ms\nsend load on\nexpect gen_f_hz > 1\n")),
              4);
    EXPECT_TRUE(port.commands.empty()) << "the load went on after the failed until";
    EXPECT_EQ(checks[0].state, CheckResult::Failed);
    EXPECT_EQ(checks[0].message, QStringLiteral("не выполнено за 0.5 с (gen_f_hz = 0)"));
    EXPECT_EQ(checks[2].state, CheckResult::NotRun);
    EXPECT_EQ(events(), (QStringList{"until gen_f_hz > 40: не выполнено за 0.5 с (gen_f_hz = 0)"}));
    EXPECT_TRUE(csv().contains(QStringLiteral("[0.5 s] until gen_f_hz > 40")));
    EXPECT_NEAR(endedMs, 600, 101);
}

TEST_F(ScriptRunTest, AFailedExpectIsReportedAndTheSequenceGoesOnToFive) {
    port.regs[kVoltageRegister] = 2304;  // 230.4 V
    EXPECT_EQ(play(QStringLiteral("expect gen_u_a_v > 231\nsend ack\nexpect gen_u_a_v between "
                                  "230 and 231\n")),
              5);
    EXPECT_EQ(port.commands, (std::vector<Frame>{kAck}));
    EXPECT_EQ(events(), (QStringList{"expect gen_u_a_v > 231: не выполнено (gen_u_a_v = 230.4)",
                                     "send ack: выполнено",
                                     "expect gen_u_a_v between 230 and 231: выполнено"}));
    EXPECT_EQ(checks[0].state, CheckResult::Failed);
    EXPECT_EQ(checks[2].state, CheckResult::Passed);
    EXPECT_EQ(stepsDone, 3u);
}

TEST_F(ScriptRunTest, AnExpectWithoutAnyRecordFailsWithFourAfterTheTimeout) {
    port.silent = true;
    run.timeoutSeconds = 1;
    EXPECT_EQ(play(QStringLiteral("expect gen_u_a_v > 1\n")), 4);
    EXPECT_EQ(checks[0].state, CheckResult::Failed);
    EXPECT_EQ(checks[0].message, QStringLiteral("не выполнено (нет записей)"));
    // No record came to carry the event: the run waits a second more for one, then ends.
    EXPECT_NEAR(endedMs, 2000, 2);
    EXPECT_TRUE(records.data().isEmpty());
}

TEST_F(ScriptRunTest, WaitsAndMarksLandInTheRecordsAtTheirTimes) {
    EXPECT_EQ(play(QStringLiteral("mark \"a, 1 %\"\nwait 300ms\nmark b\nwait 2s\nmark c\n")), 0);
    EXPECT_EQ(events(), (QStringList{"mark a, 1 %", "wait 300ms", "mark b", "wait 2s", "mark c"}));
    const QString text = csv();
    EXPECT_TRUE(text.contains(QStringLiteral("[0.0 s] mark a, 1 % | [0.0 s] wait 300ms")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("[0.3 s] mark b | [0.3 s] wait 2s")));
    EXPECT_TRUE(text.contains(QStringLiteral("[2.3 s] mark c")));
    EXPECT_NEAR(endedMs, 2400, 101);
}

TEST_F(ScriptRunTest, AFailedWriteOfTheRecordsStopsWith130) {
    FullDisk full;
    full.open(QIODevice::WriteOnly);
    EXPECT_EQ(play(QStringLiteral("wait 10s\nsend start\n"), &full), 130);
    EXPECT_LE(endedMs, 200);
    EXPECT_TRUE(port.commands.empty());
}

TEST_F(ScriptRunTest, AnInterruptStopsAtOnceWith130AndTheCheckUnderWayIsSkipped) {
    const int code = play(QStringLiteral("until gen_f_hz > 40 within 30s\nsend start\n"), nullptr,
                          120000, [&](ScriptRun& sequence) {
                              if (clock.nowMs() >= 1000) sequence.interrupt();
                          });
    EXPECT_EQ(code, 130);
    EXPECT_NEAR(endedMs, 1000, 1);
    EXPECT_EQ(checks[0].state, CheckResult::Interrupted);
    EXPECT_EQ(checks[0].message, QStringLiteral("прервано (Ctrl+C)"));
    EXPECT_TRUE(port.commands.empty());
}

TEST_F(ScriptRunTest, FastCadenceRunsTheSameSequenceWithoutTheTick) {
    run.fast = true;
    port.replyDelayMs = 2;
    port.commandReplies = {ControllerPort::Busy};
    port.regs[kFrequencyRegister] = 5000;
    std::vector<double> counterAt{0};
    port.beforeReply = [&](ControllerPort& controller) {
        const Frame& frame = controller.written.back();
        if (frame[1] == 6 && frame[3] == 0x90) counterAt.push_back(clock.nowMs());
    };
    EXPECT_EQ(play(QStringLiteral("send start\nuntil gen_f_hz == 50 within 1s\nwait 600ms\n")), 0);
    EXPECT_EQ(port.commands, (std::vector<Frame>(2, kStart)));
    // The next request goes as soon as the reply is in (2 ms), not every 100 ms.
    EXPECT_GT(port.written.size(), 100u);
    EXPECT_LT(endedMs, 700);
    // The counter still goes out at least every 200 ms.
    EXPECT_GE(counterAt.size(), 4u);
    for (std::size_t i = 1; i < counterAt.size(); ++i)
        EXPECT_LE(counterAt[i] - counterAt[i - 1], 200) << i;
}

TEST_F(ScriptRunTest, TheJunitReportFollowsTheRun) {
    QTemporaryDir dir;
    run.junit = dir.filePath(QStringLiteral("j.xml"));
    run.script = QStringLiteral("/some/where/seq.tvx");
    EXPECT_EQ(play(QStringLiteral("expect gen_f_hz > 1\nuntil gen_f_hz > 1 within 200ms\n"
                                  "expect gen_f_hz == 0\n")),
              4);
    QFile file(run.junit);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList outcomes;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"testsuite") {
            EXPECT_EQ(xml.attributes().value(QStringLiteral("name")).toString(),
                      QStringLiteral("seq.tvx"));
            EXPECT_EQ(xml.attributes().value(QStringLiteral("tests")).toString(),
                      QStringLiteral("3"));
            EXPECT_EQ(xml.attributes().value(QStringLiteral("failures")).toString(),
                      QStringLiteral("2"));
            EXPECT_EQ(xml.attributes().value(QStringLiteral("skipped")).toString(),
                      QStringLiteral("1"));
        }
        if (xml.name() == u"testcase") outcomes << QStringLiteral("case");
        if (xml.name() == u"failure" || xml.name() == u"skipped") outcomes << xml.name().toString();
    }
    EXPECT_FALSE(xml.hasError());
    EXPECT_EQ(outcomes, (QStringList{"case", "failure", "case", "failure", "case", "skipped"}));
}

TEST_F(ScriptRunTest, AReportThatCannotBeWrittenTurnsSuccessIntoTwo) {
    run.junit = QStringLiteral("/no/such/dir/j.xml");
    EXPECT_EQ(play(QStringLiteral("mark m\n")), 2);
    run.junit = QStringLiteral("/no/such/dir/j.xml");
    port.everyCommand = ControllerPort::Refused;
    EXPECT_EQ(play(QStringLiteral("send start\n")), 3) << "a failure keeps its own code";
}

}  // namespace
}  // namespace torvix::cli
