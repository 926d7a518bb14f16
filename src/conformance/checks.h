#pragma once
// The checks of the protocol test, as a table in their fixed order: the id, what each sends,
// what passes, whether the standard only recommends it (then it may warn), and the script that
// makes its probes and judges what came back.

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "conformance/probe.h"
#include "conformance/safety_gate.h"
#include "protocol/line_settings.h"
#include "protocol/status_registers.h"

namespace torvix::conformance {

enum class Result { Pass, Fail, Warn, Skip };
// "pass", "fail", "warn", "skip".
QString resultName(Result result);

// What the checks know before they start.
struct Context {
    std::uint8_t address = 7;
    LineSettings settings;
    // The block of the first status read; empty when it did not come whole.
    std::optional<protocol::StatusRegisters> block;
    std::uint64_t seed = 0;
    std::optional<double> fuzzMs;  // robustness runs only with --fuzz
    Policy fuzzPolicy = Policy::Probe;
    std::function<double()> nowMs;  // for how long the fuzzer has run
};

struct Verdict {
    Verdict() = default;
    Verdict(Result r, QString text) : result(r), observed(std::move(text)) {}

    Result result = Result::Pass;
    QString observed;
    // The controller stopped answering the health checks (robustness).
    bool controllerLost = false;
    // The turnarounds of the timed replies (response-time), wire times taken off.
    std::vector<double> turnaroundsMs;
};

// Hands out the probes of one check, each after the exchange of the one before, and judges.
class Script {
public:
    virtual ~Script() = default;
    // The next probe, or nothing when the check has all it needs.
    virtual std::optional<Probe> next(const std::vector<Exchange>& done) = 0;
    virtual Verdict judge(const std::vector<Exchange>& done) const = 0;
};

struct CheckInfo {
    const char* id;
    const char* sends;     // for --help and the docs
    const char* expected;  // what passes, as the report states it
    bool mayWarn;          // the standard only recommends it
    std::unique_ptr<Script> (*make)(const Context&);
};

inline constexpr int kCheckCount = 13;
extern const std::array<CheckInfo, kCheckCount> kChecks;
const CheckInfo* findCheck(const QString& id);

// The frames of the checks, address to CRC.
Bytes statusRead(std::uint8_t address);
// The address that is surely not the controller's: the next one, 1 after the highest.
std::uint8_t otherAddress(std::uint8_t address);

// The first status read, before any check: the health check of the fuzzer too.
Probe statusProbe(std::uint8_t address);
// A whole, right status reply from `address`.
bool statusAnswered(const Exchange& exchange, std::uint8_t address);

// What the fuzzer's running set refusal reads: generator frequency above 0 or the lamp ДГУ.
bool setRunning(const protocol::StatusRegisters& block);

}  // namespace torvix::conformance
