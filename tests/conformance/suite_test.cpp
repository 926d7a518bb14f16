// The whole protocol test in-process, on a clock the test steps, against the simulator's slave
// behind a port that answers each frame as it is written: conformant, then breaking one rule at
// a time, which must fail exactly the check of that rule. Expectations come from the issue's
// table of checks; the frames from pymodbus where they are checked byte for byte.

#include "conformance/suite.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <deque>
#include <map>

#include "cli/manual_clock.h"
#include "sim/simulator_core.h"
#include "support/reference_frames.h"

namespace torvix::conformance {
namespace {

using testing::ManualClock;

// The simulator's slave on a port: each frame written is judged at once, and its reply
// arrives after `replyDelayMs` (longer for a --slow-reply-every reply).
class SlavePort : public SerialPort {
public:
    SlavePort(sim::SimulatorCore& core, ManualClock& clock) : core_(core), clock_(clock) {}

    PortStatus setPortNumber(int) override { return {}; }
    PortStatus setLineSettings(const LineSettings&) override { return {}; }
    PortStatus setPortOpen(bool) override { return {}; }
    bool isPortOpen() const override { return true; }
    int inBufferCount() override { return int(rx_.size()); }
    std::uint8_t input() override {
        const auto b = rx_.front();
        rx_.pop_front();
        return b;
    }
    void discardInput() override { rx_.clear(); }
    void output(std::span<const std::uint8_t> frame) override {
        written.emplace_back(frame.begin(), frame.end());
        const auto reply = core_.onFrame(frame);
        if (reply.empty()) return;
        const double delayMs = replyDelayMs + (core_.slowReplyDue() ? slowMs : 0);
        auto timer = clock_.timer(
            [this, reply] { rx_.insert(rx_.end(), reply.begin(), reply.end()); }, false, true);
        timer->start(int(delayMs));
        pending_.push_back(std::move(timer));
    }

    double replyDelayMs = 2;
    double slowMs = 150;
    std::vector<Bytes> written;

private:
    sim::SimulatorCore& core_;
    ManualClock& clock_;
    std::deque<std::uint8_t> rx_;
    std::vector<std::unique_ptr<Timer>> pending_;
};

// The slave keeps a reference into its core: made in place, never moved.
struct SuiteRun {
    SuiteRun(const sim::GensetConfig& genset, std::uint8_t address) : core(genset, address, {}) {}
    SuiteReport report;
    std::vector<Bytes> written;
    sim::SimulatorCore core;
};

std::unique_ptr<SuiteRun> runSuite(const sim::RuleBreaks& breaks, SuiteOptions options = {},
                                   sim::GensetConfig genset = {}) {
    auto run = std::make_unique<SuiteRun>(genset, 7);
    run->core.setRuleBreaks(breaks);
    ManualClock clock;
    SlavePort port(run->core, clock);
    Runner runner(port, clock, *LineSettings::parse(u"115200,e,8,1"), 100, Policy::Probe);
    Suite suite(runner, 7, options);
    bool finished = false;
    suite.start([&](const SuiteReport& report) {
        run->report = report;
        finished = true;
    });
    for (int step = 0; step < 2'000'000 && !finished; ++step) clock.advanceMs(5);
    EXPECT_TRUE(finished);
    run->written = port.written;
    return run;
}

std::map<std::string, Result> results(const SuiteReport& report) {
    std::map<std::string, Result> out;
    for (const CheckReport& c : report.checks) out[c.info->id] = c.result;
    return out;
}

// Every check but `failing` (and those skipped) passes; `failing` fails.
void expectOnlyFailure(const SuiteReport& report, const std::string& failing) {
    for (const CheckReport& c : report.checks) {
        SCOPED_TRACE(c.info->id + std::string(": ") + c.observed.toStdString());
        if (c.info->id == failing) {
            EXPECT_EQ(c.result, Result::Fail);
        } else if (c.result != Result::Skip) {
            EXPECT_EQ(c.result, Result::Pass);
        }
    }
}

TEST(Suite, AConformantSlavePassesEveryCheckInTheFixedOrder) {
    SuiteOptions options;
    options.fuzzSeconds = 3;
    options.seed = 7;
    const auto run = runSuite({}, options);
    const SuiteReport& report = run->report;
    EXPECT_EQ(report.outcome, SuiteReport::Outcome::Completed);
    const char* const order[] = {
        "status-read",      "partial-reads",   "counter-echo",     "write-multiple-counter",
        "illegal-function", "illegal-address", "illegal-quantity", "other-address",
        "broadcast-read",   "bad-crc",         "split-frame",      "response-time",
        "robustness"};
    ASSERT_EQ(report.checks.size(), std::size(order));
    for (std::size_t i = 0; i < std::size(order); ++i) {
        SCOPED_TRACE(report.checks[i].observed.toStdString());
        EXPECT_STREQ(report.checks[i].info->id, order[i]);
        EXPECT_EQ(report.checks[i].result, Result::Pass);
    }
    ASSERT_TRUE(report.responseTime);
    EXPECT_EQ(report.turnaroundsMs.size(), 200u);
    // Nothing the suite and the fuzzer sent wrote a command or the number register.
    EXPECT_EQ(run->core.model().commandCount(), 0u);
    EXPECT_EQ(run->core.model().holdingRegister(401), 0);
    EXPECT_EQ(run->core.model().holdingRegister(402), 0);
    // The first frame is the status read pymodbus builds, byte for byte.
    EXPECT_EQ(run->written.front(), testing::reference::kStatusRead);
}

TEST(Suite, EachBrokenRuleFailsExactlyItsCheck) {
    struct Case {
        const char* check;
        sim::RuleBreaks breaks;
    };
    const Case cases[] = {
        {"bad-crc", {.answerBadCrc = true}},
        {"other-address", {.answerOtherAddress = true}},
        {"broadcast-read", {.answerBroadcast = true}},
        {"response-time", {.slowReplyEvery = 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.check);
        SuiteOptions options;
        // The broken rule's check, and two that a slave breaking only that rule still passes.
        options.only = {QString::fromLatin1(c.check), QStringLiteral("status-read"),
                        QStringLiteral("counter-echo")};
        expectOnlyFailure(runSuite(c.breaks, options)->report, c.check);
    }
}

TEST(Suite, SilenceInsteadOfAnExceptionFailsTheExceptionChecksAlone) {
    const auto run = runSuite({.silentExceptions = true});
    const auto r = results(run->report);
    // The simulator serves none of functions 1 to 3, so all four probes miss their exception.
    for (const char* id : {"illegal-function", "illegal-address", "illegal-quantity"})
        EXPECT_EQ(r.at(id), Result::Fail) << id;
    for (const auto& [id, result] : r) {
        if (id != "illegal-function" && id != "illegal-address" && id != "illegal-quantity" &&
            id != "robustness") {
            EXPECT_EQ(result, Result::Pass) << id;
        }
    }
}

TEST(Suite, AHangAfterAMalformedFrameIsTheRobustnessFailureAndNamesTheFrame) {
    SuiteOptions options;
    options.only = {QStringLiteral("robustness")};
    options.fuzzSeconds = 30;
    options.seed = 99;
    const auto run = runSuite({.hangAfterMalformed = 3}, options);
    EXPECT_EQ(run->report.outcome, SuiteReport::Outcome::ControllerLost);
    const CheckReport& robustness = run->report.checks.back();
    EXPECT_EQ(robustness.result, Result::Fail);
    EXPECT_TRUE(
        robustness.observed.startsWith(QStringLiteral("контроллер не отвечает после кадра ")))
        << robustness.observed.toStdString();
    EXPECT_TRUE(robustness.observed.contains(QStringLiteral("--seed 99")));
    // It stopped at the first unanswered health check: 20 frames and the health check.
    EXPECT_EQ(run->written.size(), 1u + 21u);
}

TEST(Suite, TheFuzzerRefusesARunningSetAfterOnlyTheStatusRead) {
    SuiteOptions options;
    options.fuzzSeconds = 5;
    sim::GensetConfig running;
    running.running = true;
    const auto run = runSuite({}, options, running);
    EXPECT_EQ(run->report.outcome, SuiteReport::Outcome::SetRunning);
    ASSERT_EQ(run->written.size(), 1u);
    EXPECT_EQ(run->written[0], testing::reference::kStatusRead);

    options.whileRunning = true;
    options.only = {QStringLiteral("robustness")};
    options.fuzzSeconds = 1;
    EXPECT_EQ(runSuite({}, options, running)->report.outcome, SuiteReport::Outcome::Completed);
}

TEST(Suite, TheJsonHasTheKeysOfTheIssueAndNothingElse) {
    SuiteOptions options;
    options.only = {QStringLiteral("counter-echo")};
    const QJsonObject json = runSuite({}, options)->report.toJson();
    EXPECT_EQ(json.keys(),
              (QStringList{"address", "checks", "response_time_ms", "settings", "summary"}));
    EXPECT_EQ(json["address"].toInt(), 7);
    EXPECT_EQ(json["settings"].toString(), QStringLiteral("115200,e,8,1"));
    const QJsonArray checks = json["checks"].toArray();
    ASSERT_EQ(checks.size(), kCheckCount);
    const QJsonObject echo = checks[2].toObject();
    EXPECT_EQ(echo.keys(), (QStringList{"expected", "frames", "id", "observed", "result"}));
    EXPECT_EQ(echo["id"].toString(), QStringLiteral("counter-echo"));
    EXPECT_EQ(echo["result"].toString(), QStringLiteral("pass"));
    const QJsonArray frames = echo["frames"].toArray();
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0]["dir"].toString(), QStringLiteral("tx"));
    EXPECT_EQ(frames[0]["hex"].toString(), QStringLiteral("07 06 01 90 00 01 49 BD"));
    EXPECT_EQ(frames[1]["dir"].toString(), QStringLiteral("rx"));
    EXPECT_EQ(frames[1]["hex"].toString(), QStringLiteral("07 06 01 90 00 01 49 BD"));
    EXPECT_LT(frames[0]["t_ms"].toDouble(), frames[1]["t_ms"].toDouble());
    EXPECT_EQ(checks[0]["result"].toString(), QStringLiteral("skip"));
    EXPECT_EQ(json["summary"].toObject(),
              (QJsonObject{{"pass", 1}, {"fail", 0}, {"warn", 0}, {"skip", 12}}));
    EXPECT_TRUE(json["response_time_ms"]["median"].isNull());
}

TEST(Suite, NoByteToTheFirstReadIsNoAnswerAndNothingElseIsSent) {
    SuiteOptions options;
    sim::GensetConfig genset;
    auto run = std::make_unique<SuiteRun>(genset, 9);
    ManualClock clock;
    SlavePort port(run->core, clock);
    Runner runner(port, clock, *LineSettings::parse(u"9600,n,8,1"), 100, Policy::Probe);
    Suite suite(runner, 7, options);
    bool finished = false;
    SuiteReport report;
    suite.start([&](const SuiteReport& r) {
        report = r;
        finished = true;
    });
    for (int step = 0; step < 1000 && !finished; ++step) clock.advanceMs(5);
    ASSERT_TRUE(finished);
    EXPECT_EQ(report.outcome, SuiteReport::Outcome::NoAnswer);
    EXPECT_EQ(port.written.size(), 1u);
}

TEST(Suite, ResponseStatsAreNearestRank) {
    std::vector<double> values;
    for (int n = 1; n <= 200; ++n) values.push_back(n);
    const auto stats = responseStats(values);
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->min, 1);
    EXPECT_EQ(stats->median, 100);
    EXPECT_EQ(stats->p99, 198);
    EXPECT_EQ(stats->max, 200);
    EXPECT_FALSE(responseStats({}));
}

}  // namespace
}  // namespace torvix::conformance
