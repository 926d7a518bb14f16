// The bus scan against a scripted bus of fake ports, on a clock the test steps: what goes on
// the line and when, what counts as a controller, and what a stop keeps.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "cli/manual_clock.h"
#include "scan/scan_plan.h"
#include "scan/scanner.h"
#include "support/fake_serial_port.h"
#include "support/frames.h"

namespace torvix::scan {
namespace {

using testing::Frame;
using testing::framed;

struct Sent {
    int port;
    QString settings;
    Frame frame;
    double atMs;
};

// Every port of the plan on one fake: `answer` plays whatever sits on the port's line.
class Bus : public testing::FakeSerialPort {
public:
    explicit Bus(testing::ManualClock& clock) : clock_(clock) {}
    std::function<Frame(int port, const QString& settings, const Frame& request)> answer;
    std::vector<Sent> sent;

    void output(std::span<const std::uint8_t> frame) override {
        FakeSerialPort::output(frame);
        const Frame request(frame.begin(), frame.end());
        sent.push_back({number, settings, request, clock_.nowMs()});
        if (answer) feed(answer(number, settings, request));
    }

private:
    testing::ManualClock& clock_;
};

LineSettings settingsOf(const char* text) {
    return LineSettings::parse(QString::fromLatin1(text)).value();
}

// The probe as the issue states it: function 4, register 300, one register.
Frame probe(int address) {
    return framed({address, 0x04, 0x01, 0x2C, 0x00, 0x01});
}

Frame statusRead(int address) {
    return framed({address, 0x04, 0x01, 0x2C, 0x00, 0x40});
}

class ScanTest : public ::testing::Test {
protected:
    ScanTest() : bus(clock) { bus.openable = {1, 2, 3}; }

    ScanPlan plan(std::vector<int> ports, std::vector<const char*> settings, int first, int last) {
        ScanPlan p;
        for (int n : ports) p.ports.push_back({n, QStringLiteral("COM%1").arg(n), {}, false});
        for (const char* s : settings) p.settings.push_back(settingsOf(s));
        p.firstAddress = first;
        p.lastAddress = last;
        return p;
    }

    void run(Scanner& scanner, double ms = 1e7) {
        scanner.start();
        clock.advanceMs(ms);
    }

    // A controller at `port`, `address` and `settings`; garbage on that port at other settings.
    void controllerAt(int port, const char* settings, int address) {
        bus.answer = [=](int n, const QString& s, const Frame& request) -> Frame {
            if (n != port) return {};
            if (s != QLatin1String(settings))
                return request[0] == address ? Frame{0xF8, 0x80} : Frame{};
            if (request[0] != address) return {};
            if (request == probe(address)) return framed({address, 0x04, 0x02, 0x02, 0x0E});
            testing::StatusRegisters registers{};
            registers[0] = 0x020E;  // protocol 2.14
            registers[1] = 0x0307;  // software 3.07
            return testing::statusReply(registers, static_cast<std::uint8_t>(address));
        };
    }

    testing::ManualClock clock;
    Bus bus;
    std::vector<int> wanted, released;
    Scanner::Hooks hooks{
        .progress = {},
        .found = {},
        .skipped = {},
        .activity = {},
        .portWanted = [this](const ScanPort& p) { wanted.push_back(p.number); },
        .portReleased = [this](const ScanPort& p) { released.push_back(p.number); },
        .finished = {}};
};

TEST_F(ScanTest, ProbesInOrderWithOnlyTheOneRegisterReadEachWaitingItsLineTime) {
    Scanner scanner(bus, clock, plan({2, 1}, {"115200,e,8,1", "19200,n,8,2"}, 5, 9), hooks);
    run(scanner);

    // Address 7 first on every port and setting, then the others; the ports as planned.
    const std::vector<int> order = {7, 5, 6, 8, 9};
    std::vector<Sent> expected;
    for (int port : {2, 1})
        for (const char* s : {"115200,e,8,1", "19200,n,8,2"})
            for (int address : order)
                expected.push_back({port, QLatin1String(s), probe(address), 0});
    ASSERT_EQ(bus.sent.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(bus.sent[i].port, expected[i].port) << i;
        EXPECT_EQ(bus.sent[i].settings, expected[i].settings) << i;
        EXPECT_EQ(bus.sent[i].frame, expected[i].frame) << i;
    }
    // Request (8 bytes) and reply (7) on the wire, 11 bits a character, plus 50 ms.
    const double fast = 15 * 11 / 115200.0 * 1000 + 50;
    const double slow = 15 * 11 / 19200.0 * 1000 + 50;
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_NEAR(bus.sent[i].atMs - bus.sent[i - 1].atMs, fast, 0.01) << i;
    for (std::size_t i = 6; i < 10; ++i)
        EXPECT_NEAR(bus.sent[i].atMs - bus.sent[i - 1].atMs, slow, 0.01) << i;

    const ScanReport& report = scanner.report();
    EXPECT_FALSE(scanner.running());
    EXPECT_TRUE(report.found.empty());
    EXPECT_EQ(report.probes, 20);
    EXPECT_EQ(report.portsOpened, 2);
    EXPECT_NEAR(report.lineMs, 10 * fast + 10 * slow, 0.01);
    EXPECT_FALSE(bus.open);
    EXPECT_EQ(wanted, (std::vector<int>{2, 1}));
    EXPECT_EQ(released, wanted);
}

TEST_F(ScanTest, FindsTheControllerReadsItsVersionsAndStopsThere) {
    controllerAt(3, "19200,e,8,1", 23);
    std::vector<Activity> activity;
    hooks.activity = [&](const Activity& a) { activity.push_back(a); };
    Scanner scanner(bus, clock, plan({1, 3, 2}, {"115200,e,8,1", "19200,e,8,1"}, 20, 30), hooks);
    run(scanner);

    const ScanReport& report = scanner.report();
    ASSERT_EQ(report.found.size(), 1u);
    const Found& found = report.found[0];
    EXPECT_EQ(found.port.number, 3);
    EXPECT_EQ(found.settings.toText(), QStringLiteral("19200,e,8,1"));
    EXPECT_EQ(found.address, 23);
    EXPECT_EQ(found.softwareVersion, QStringLiteral("3.07"));
    EXPECT_EQ(found.protocolVersion, QStringLiteral("2.14"));
    // Port 1 silent, the wrong speed on port 3 heard as traffic; port 2 never reached.
    ASSERT_EQ(activity.size(), 1u);
    EXPECT_EQ(activity[0].port.number, 3);
    EXPECT_EQ(activity[0].settings.toText(), QStringLiteral("115200,e,8,1"));
    EXPECT_EQ(released, (std::vector<int>{1, 3}));
    ASSERT_EQ(report.withoutController.size(), 1u);
    EXPECT_EQ(report.withoutController[0].number, 1);
    // The last frame is the whole block read that gave the versions; nothing after it.
    EXPECT_EQ(bus.sent.back().frame, statusRead(23));
    EXPECT_EQ(report.probes, 2 * 11 + 11 + 4);  // 20, 21, 22, 23 on the last settings
    for (const Sent& s : bus.sent) EXPECT_NE(s.frame[0], 0);
}

TEST_F(ScanTest, AllGoesOnAndAnExceptionFromTheAddressIsAController) {
    bus.answer = [](int port, const QString&, const Frame& request) -> Frame {
        if (port == 1 && request[0] == 4) return framed({4, 0x84, 0x02});
        return {};
    };
    ScanPlan p = plan({1, 2}, {"9600,e,8,1"}, 1, 6);
    p.all = true;
    Scanner scanner(bus, clock, p, hooks);
    run(scanner);
    const ScanReport& report = scanner.report();
    EXPECT_EQ(report.probes, 12);
    ASSERT_EQ(report.found.size(), 1u);
    EXPECT_EQ(report.found[0].address, 4);
    EXPECT_EQ(report.found[0].exceptionCode, 2);
    EXPECT_TRUE(report.found[0].softwareVersion.isEmpty());  // the block read was refused too
    // The refused block read was tried twice, and the scan went on with the next addresses.
    EXPECT_EQ(std::count_if(bus.sent.begin(), bus.sent.end(),
                            [](const Sent& s) { return s.frame == statusRead(4); }),
              2);
}

TEST_F(ScanTest, AReplyFromAnotherAddressOrWithABadCrcIsOnlyTraffic) {
    bus.answer = [](int, const QString&, const Frame& request) -> Frame {
        if (request[0] == 7) return framed({8, 0x04, 0x02, 0x00, 0x01});  // someone else
        Frame bad = framed({request[0], 0x04, 0x02, 0x00, 0x01});
        bad.back() ^= 0xFF;
        return bad;
    };
    Scanner scanner(bus, clock, plan({1}, {"115200,e,8,1"}, 6, 8), hooks);
    run(scanner);
    EXPECT_TRUE(scanner.report().found.empty());
    ASSERT_EQ(scanner.report().activity.size(), 1u);
}

TEST_F(ScanTest, StopHalfwayKeepsWhatWasFoundAndLetsThePortGo) {
    controllerAt(1, "115200,e,8,1", 7);
    ScanPlan p = plan({1, 2}, {"115200,e,8,1", "9600,e,8,1"}, 1, 247);
    p.all = true;
    int finished = 0;
    hooks.finished = [&] { ++finished; };
    Scanner scanner(bus, clock, p, hooks);
    scanner.start();
    clock.advanceMs(2000);
    ASSERT_TRUE(scanner.running());
    ASSERT_EQ(scanner.report().found.size(), 1u);
    const std::size_t sentBefore = bus.sent.size();
    scanner.stop();
    EXPECT_FALSE(scanner.running());
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(scanner.report().stopped);
    EXPECT_EQ(scanner.report().found.size(), 1u);
    EXPECT_FALSE(bus.open);
    EXPECT_EQ(released, std::vector<int>{1});
    clock.advanceMs(60000);
    EXPECT_EQ(bus.sent.size(), sentBefore);
    EXPECT_EQ(clock.activeTimers(), 0);
}

TEST_F(ScanTest, BusyAndMissingPortsAreReportedAndSkipped) {
    bus.openErrorForPort[2] = PortErrorCode::PortInUse;
    std::vector<Skipped> skipped;
    hooks.skipped = [&](const Skipped& s) { skipped.push_back(s); };
    Scanner scanner(bus, clock, plan({2, 9, 1}, {"115200,e,8,1"}, 1, 2), hooks);
    run(scanner);
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].trouble, PortTrouble::Busy);
    EXPECT_EQ(skipped[1].trouble, PortTrouble::Missing);
    EXPECT_EQ(scanner.report().portsOpened, 1);
    for (const Sent& s : bus.sent) EXPECT_EQ(s.port, 1);
    EXPECT_EQ(released, wanted);  // the window gets every port back, opened or not
}

TEST_F(ScanTest, ProgressCountsDownTheTimeLeft) {
    std::vector<Progress> seen;
    hooks.progress = [&](const Progress& p) { seen.push_back(p); };
    Scanner scanner(bus, clock, plan({1, 2}, {"115200,e,8,1", "9600,e,8,1"}, 1, 3), hooks);
    run(scanner);
    ASSERT_EQ(seen.size(), 12u);
    const double fast = 15 * 11 / 115200.0 * 1000 + 50;
    const double slow = 15 * 11 / 9600.0 * 1000 + 50;
    EXPECT_NEAR(seen.front().remainingMs, 6 * fast + 6 * slow, 0.01);
    EXPECT_NEAR(seen.back().remainingMs, slow, 0.01);
    EXPECT_EQ(seen.back().probesTotal, 12);
    EXPECT_EQ(seen[7].portIndex, 1);
    EXPECT_EQ(seen[7].settingsIndex, 0);
    EXPECT_EQ(seen[7].addressIndex, 1);
}

TEST(ScanPlanTest, TheTwentySettingsInTheirOrder) {
    QStringList texts;
    for (const LineSettings& s : standardSettings()) texts << s.toText();
    QStringList expected;
    for (const char* baud : {"115200", "57600", "38400", "19200", "9600"})
        for (const char* rest : {",e,8,1", ",n,8,1", ",o,8,1", ",n,8,2"})
            expected << QLatin1String(baud) + QLatin1String(rest);
    EXPECT_EQ(texts, expected);
}

TEST(ScanPlanTest, ListsAndRangesAsTheCommandLineTakesThem) {
    const auto ports = parsePortList(QStringLiteral("1-3, COM17,/dev/ttyAMA0,tcp://10.0.0.5:4001"),
                                     {{2, QStringLiteral("tcp://10.0.0.9:4001")}});
    ASSERT_TRUE(std::holds_alternative<PortList>(ports));
    const PortList& list = std::get<PortList>(ports);
    ASSERT_EQ(list.ports.size(), 6u);
    EXPECT_EQ(list.ports[1].name, QStringLiteral("COM2"));
    EXPECT_TRUE(list.ports[1].tcp);
    EXPECT_EQ(list.ports[3].number, 17);
    EXPECT_EQ(list.ports[4].name, QStringLiteral("/dev/ttyAMA0"));
    EXPECT_EQ(list.overrides.at(list.ports[4].number), QStringLiteral("/dev/ttyAMA0"));
    EXPECT_TRUE(list.ports[5].tcp);
    EXPECT_NE(list.ports[4].number, list.ports[5].number);
    EXPECT_TRUE(std::holds_alternative<QString>(parsePortList(QStringLiteral("0-3"), {})));
    EXPECT_TRUE(std::holds_alternative<QString>(parsePortList(QStringLiteral("x"), {})));

    // Never address 0, the broadcast, nor the reserved ones above 247.
    for (const char* bad : {"0-10", "0", "1-248", "9-3", "a"})
        EXPECT_TRUE(std::holds_alternative<QString>(parseAddressRange(QLatin1String(bad)))) << bad;
    const auto range = std::get<AddressRange>(parseAddressRange(QStringLiteral("1-247")));
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 247);

    EXPECT_TRUE(std::holds_alternative<QString>(parseSettingsList(QStringLiteral("115200,x,8,1"))));
    EXPECT_EQ(std::get<std::vector<LineSettings>>(
                  parseSettingsList(QStringLiteral("115200,e,8,1;19200,e,8,1")))
                  .size(),
              2u);
}

TEST(ScanPlanTest, TheConfiguredPortAndSettingsGoFirst) {
    ScanPlan p;
    for (int n = 1; n <= 4; ++n) p.ports.push_back({n, QStringLiteral("COM%1").arg(n), {}, false});
    p.settings = standardSettings();
    preferConfigured(p, 3, QStringLiteral("19200,o,8,1"), true);
    EXPECT_EQ(p.ports[0].number, 3);
    EXPECT_EQ(p.ports[1].number, 1);
    EXPECT_EQ(p.settings[0].toText(), QStringLiteral("19200,o,8,1"));
    EXPECT_EQ(p.settings.size(), 20u);
    preferConfigured(p, 3, QStringLiteral("4800,e,8,1"), true);
    EXPECT_EQ(p.settings[0].toText(), QStringLiteral("4800,e,8,1"));
    EXPECT_EQ(p.settings.size(), 21u);
}

}  // namespace
}  // namespace torvix::scan
