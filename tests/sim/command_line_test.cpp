#include "sim/command_line.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace torvix::sim {
namespace {

CommandLine parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("torvix-sim"));
    return parseCommandLine(arguments);
}

TEST(SimCommandLine, DefaultsServeAPseudoTerminalAtAddressSeven) {
    const CommandLine c = parse({});
    ASSERT_EQ(c.outcome, CommandLine::Outcome::Run) << c.message.toStdString();
    EXPECT_TRUE(c.options.device.isEmpty());
    EXPECT_EQ(c.options.address, 7);
    EXPECT_EQ(c.options.settings.baudRate, 115200);
    EXPECT_EQ(c.options.settings.parity, LineSettings::Parity::Even);
    EXPECT_EQ(c.options.faults.dropEvery, 0);
    EXPECT_EQ(c.options.hangupAfterS, 0);
    EXPECT_FALSE(c.options.quiet);
    EXPECT_FALSE(c.options.pace);
    EXPECT_DOUBLE_EQ(c.options.turnaroundMs, 2);
    EXPECT_EQ(c.options.faults.exceptionCode, 6);  // busy
}

TEST(SimCommandLine, ReadsEveryOption) {
    const CommandLine c = parse({"--device",
                                 "/dev/ttyUSB0",
                                 "--settings",
                                 "9600,n,8,2",
                                 "--link",
                                 "/tmp/tty",
                                 "--address",
                                 "12",
                                 "--seed",
                                 "5",
                                 "--no-noise",
                                 "--running",
                                 "--load",
                                 "80.5",
                                 "--time-scale",
                                 "60",
                                 "--drop-every",
                                 "3",
                                 "--bad-crc-every",
                                 "4",
                                 "--exception-every",
                                 "5",
                                 "--garbage-every",
                                 "6",
                                 "--wrong-address-every",
                                 "7",
                                 "--delay",
                                 "150",
                                 "--split",
                                 "20",
                                 "--hangup-after",
                                 "2.5",
                                 "--hangup-for",
                                 "0.5",
                                 "--quiet",
                                 "--state-file",
                                 "/tmp/s.json",
                                 "--log-requests",
                                 "/tmp/r.log",
                                 "--log-replies",
                                 "/tmp/p.log",
                                 "--pace",
                                 "--turnaround-ms",
                                 "3.5",
                                 "--exception-code",
                                 "2"});
    ASSERT_EQ(c.outcome, CommandLine::Outcome::Run) << c.message.toStdString();
    const SimOptions& o = c.options;
    EXPECT_EQ(o.device, "/dev/ttyUSB0");
    EXPECT_EQ(o.settings.baudRate, 9600);
    EXPECT_EQ(o.settings.parity, LineSettings::Parity::None);
    EXPECT_EQ(o.settings.stopBits, LineSettings::StopBits::Two);
    EXPECT_EQ(o.link, "/tmp/tty");
    EXPECT_EQ(o.address, 12);
    EXPECT_EQ(o.genset.seed, 5u);
    EXPECT_FALSE(o.genset.noise);
    EXPECT_TRUE(o.genset.running);
    EXPECT_DOUBLE_EQ(o.genset.loadKw, 80.5);
    EXPECT_DOUBLE_EQ(o.timeScale, 60);
    EXPECT_EQ(o.faults.dropEvery, 3);
    EXPECT_EQ(o.faults.badCrcEvery, 4);
    EXPECT_EQ(o.faults.exceptionEvery, 5);
    EXPECT_EQ(o.faults.garbageEvery, 6);
    EXPECT_EQ(o.faults.wrongAddressEvery, 7);
    EXPECT_EQ(o.delayMs, 150);
    EXPECT_EQ(o.splitMs, 20);
    EXPECT_DOUBLE_EQ(o.hangupAfterS, 2.5);
    EXPECT_DOUBLE_EQ(o.hangupForS, 0.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.stateFile, "/tmp/s.json");
    EXPECT_EQ(o.requestLog, "/tmp/r.log");
    EXPECT_EQ(o.replyLog, "/tmp/p.log");
    EXPECT_TRUE(o.pace);
    EXPECT_DOUBLE_EQ(o.turnaroundMs, 3.5);
    EXPECT_EQ(o.faults.exceptionCode, 2);
}

TEST(SimCommandLine, VersionIsTheProjectVersionInThreeNumbers) {
    const CommandLine c = parse({"--version"});
    EXPECT_EQ(c.outcome, CommandLine::Outcome::Help);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^torvix-sim \\d+\\.\\d+\\.\\d+\n$"))
                    .match(c.message)
                    .hasMatch())
        << c.message.toStdString();
}

TEST(SimCommandLine, ServesTcpOnIpv4OrIpv6WithAnyPortAndDropsConnections) {
    const CommandLine v4 = parse({"--tcp-listen", "127.0.0.1:4001", "--tcp-close-every", "9"});
    ASSERT_EQ(v4.outcome, CommandLine::Outcome::Run) << v4.message.toStdString();
    ASSERT_TRUE(v4.options.tcpListen);
    EXPECT_EQ(v4.options.tcpListen->host, "127.0.0.1");
    EXPECT_EQ(v4.options.tcpListen->port, 4001);
    EXPECT_EQ(v4.options.tcpCloseEvery, 9);

    const CommandLine v6 = parse({"--tcp-listen", "[::1]:0"});
    ASSERT_EQ(v6.outcome, CommandLine::Outcome::Run) << v6.message.toStdString();
    EXPECT_EQ(v6.options.tcpListen->host, "::1");
    EXPECT_EQ(v6.options.tcpListen->port, 0);
    EXPECT_FALSE(parse({}).options.tcpListen);
}

TEST(SimCommandLine, RefusesBadValues) {
    const QStringList bad[] = {{"--address", "0"},
                               {"--address", "248"},
                               {"--drop-every", "x"},
                               {"--delay", "-1"},
                               {"--settings", "115200,e,8"},
                               {"--settings", "fast,e,8,1"},
                               {"--hangup-for", "0"},
                               {"--no-such-option"},
                               {"stray"},
                               {"--exception-code", "0"},
                               {"--turnaround-ms", "-1"},
                               {"--tcp-listen", "127.0.0.1"},
                               {"--tcp-listen", "127.0.0.1:70000"},
                               {"--tcp-listen", "127.0.0.1:4001", "--device", "/dev/ttyUSB0"},
                               {"--tcp-listen", "127.0.0.1:4001", "--link", "/tmp/tty"}};
    for (const QStringList& arguments : bad) {
        const CommandLine c = parse(arguments);
        EXPECT_EQ(c.outcome, CommandLine::Outcome::Error) << arguments.join(' ').toStdString();
        EXPECT_FALSE(c.message.isEmpty());
    }
}

TEST(SimLineSettings, SilentIntervalIsThreeAndAHalfCharactersAndAtLeastTwoMilliseconds) {
    using std::chrono::milliseconds;
    EXPECT_EQ(silentInterval(*LineSettings::parse(u"115200,e,8,1")), milliseconds(2));
    EXPECT_EQ(silentInterval(*LineSettings::parse(u"9600,e,8,1")), milliseconds(5));   // 4.01
    EXPECT_EQ(silentInterval(*LineSettings::parse(u"1200,n,8,1")), milliseconds(30));  // 29.2
}

}  // namespace
}  // namespace torvix::sim
