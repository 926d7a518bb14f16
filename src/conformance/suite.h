#pragma once
// The protocol test from the first status read to the last check, on a Runner: which checks
// run, the refusal to fuzz a running set, and the report of what each saw.

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "conformance/checks.h"
#include "conformance/runner.h"

namespace torvix::conformance {

struct CheckReport {
    const CheckInfo* info = nullptr;
    Result result = Result::Skip;
    QString observed;
    std::vector<FrameRecord> frames;
    double seconds = 0;
};

struct ResponseStats {
    double min = 0, median = 0, p99 = 0, max = 0;
};
// Nearest-rank percentiles; empty for no values.
std::optional<ResponseStats> responseStats(std::vector<double> values);

struct SuiteReport {
    enum class Outcome {
        Completed,
        NoAnswer,        // not a byte came to the first status read
        SetRunning,      // --fuzz on a running set without --while-running: nothing else sent
        ControllerLost,  // it stopped answering during the fuzzer
        Interrupted,     // stopped from outside before the end
    };
    Outcome outcome = Outcome::Completed;
    int address = 0;
    QString settings;
    std::vector<CheckReport> checks;
    std::vector<double> turnaroundsMs;
    std::optional<ResponseStats> responseTime;

    int count(Result result) const;
    // The JSON of --format json, key for key.
    QJsonObject toJson() const;
    // The table (id, result, expected, observed) and the summary.
    QString toText() const;
};

struct SuiteOptions {
    QSet<QString> only;  // empty: every check
    QSet<QString> skip;
    std::uint64_t seed = 1;
    std::optional<double> fuzzSeconds;
    bool allFunctions = false;
    bool whileRunning = false;
};

class Suite {
public:
    Suite(Runner& runner, std::uint8_t address, const SuiteOptions& options);
    // Runs everything and calls `done` once, on the event loop.
    void start(std::function<void(const SuiteReport&)> done);
    // Stopped from outside (Ctrl+C): the checks done so far, the others skipped.
    SuiteReport interrupted() const;
    // For progress: the check running now.
    std::function<void(const CheckInfo&)> onCheckStarted;

private:
    bool selected(const CheckInfo& info) const;
    void firstReadDone(const Exchange& exchange);
    void nextCheck();
    void nextProbe();
    void checkDone();

    Runner& runner_;
    SuiteOptions options_;
    Context context_;
    SuiteReport report_;
    std::function<void(const SuiteReport&)> done_;
    std::size_t checkIndex_ = 0;
    std::unique_ptr<Script> script_;
    std::vector<Exchange> exchanges_;
    std::size_t logStart_ = 0;
    double checkStartMs_ = 0;
};

}  // namespace torvix::conformance
