#pragma once
// What the simulator does with each frame: the slave, the generator set and the injected faults.

#include <QJsonObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "sim/genset_model.h"
#include "sim/rtu_slave.h"
#include "sim/rule_breaks.h"

namespace torvix::sim {

// Each "every N" applies to the Nth, 2Nth, ... request addressed to us (0 = never). When
// several fall on the same request, the first in this order wins: drop, exception, garbage,
// bad CRC, wrong address.
struct FaultOptions {
    int dropEvery = 0;
    int exceptionEvery = 0;
    int garbageEvery = 0;
    int badCrcEvery = 0;
    int wrongAddressEvery = 0;
    std::uint8_t exceptionCode = 6;  // of the exceptionEvery replies; 6 is busy
};

enum class Fault { None, Drop, Exception, Garbage, BadCrc, WrongAddress };

Fault faultFor(std::uint64_t requestNumber, const FaultOptions& options);

struct SimCounters {
    std::uint64_t frames = 0;    // everything the assembler handed over
    std::uint64_t requests = 0;  // good CRC, addressed to us
    std::uint64_t broadcasts = 0;
    std::uint64_t badCrc = 0;  // includes frames too short to carry a CRC
    std::uint64_t otherAddress = 0;
    std::uint64_t replies = 0;     // frames handed back to the line, garbage included
    std::uint64_t exceptions = 0;  // genuine exception replies, not injected ones
    std::uint64_t dropped = 0;
    std::uint64_t injectedExceptions = 0;
    std::uint64_t garbage = 0;
    std::uint64_t corruptedCrc = 0;
    std::uint64_t wrongAddress = 0;
    std::uint64_t hangups = 0;

    std::uint64_t faultsInjected() const {
        return dropped + injectedExceptions + garbage + corruptedCrc + wrongAddress + hangups;
    }
};

class SimulatorCore {
public:
    SimulatorCore(const GensetConfig& genset, std::uint8_t address, const FaultOptions& faults);

    // The reply to put on the line, empty for none.
    std::vector<std::uint8_t> onFrame(std::span<const std::uint8_t> frame);
    void advance(std::chrono::milliseconds simulated) { model_.advance(simulated); }
    void noteHangup() { ++counters_.hangups; }
    void setRuleBreaks(const RuleBreaks& breaks) { breaks_ = breaks; }
    // Whether the reply to the request just served goes out late (--slow-reply-every).
    bool slowReplyDue() const;
    bool hung() const { return hung_; }

    const GensetModel& model() const { return model_; }
    const SimCounters& counters() const { return counters_; }
    std::uint8_t address() const { return slave_.address(); }

    // Everything a test may want to check, as one JSON object.
    QJsonObject state() const;
    QString summaryLine() const;

private:
    std::vector<std::uint8_t> garbageBytes();
    // The reply a broken rule gives to a frame a conformant slave leaves unanswered; empty when
    // no switch applies. Sets hung_ for --hang-after-malformed.
    std::vector<std::uint8_t> ruleBroken(FrameVerdict verdict, std::span<const std::uint8_t> frame);

    GensetModel model_;
    RtuSlave slave_;
    FaultOptions faults_;
    std::mt19937 garbageRng_;
    SimCounters counters_;
    RuleBreaks breaks_;
    std::uint64_t malformed_ = 0;
    bool hung_ = false;
};

}  // namespace torvix::sim
