#include "sim/genset_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace torvix::sim {
namespace {

constexpr int kNominalVoltage = 2300;    // 0.1 V
constexpr int kNominalFrequency = 5000;  // 0.01 Hz
constexpr int kBatteryCharging = 276;    // 0.1 V, alternator running
constexpr int kBatteryResting = 254;
constexpr double kPowerFactor = 0.8;
constexpr double kPhaseVoltageVolts = 230.0;

std::uint16_t highWord(std::uint32_t v) {
    return static_cast<std::uint16_t>(v >> 16);
}
std::uint16_t lowWord(std::uint32_t v) {
    return static_cast<std::uint16_t>(v & 0xFFFFu);
}

std::uint16_t clampToU16(long v) {
    return static_cast<std::uint16_t>(std::clamp(v, 0L, 0xFFFFL));
}

}  // namespace

GensetModel::GensetModel(const GensetConfig& config)
    : config_(config),
      rng_(config.seed),
      running_(config.running),
      frequencyResponse_(config.frequencyResponse),
      voltageResponse_(config.voltageResponse) {
    rebuild();
}

void GensetModel::advance(std::chrono::milliseconds simulated) {
    using namespace std::chrono_literals;
    if (simulated <= 0ms) return;
    clockS_ += std::chrono::duration<double>(simulated).count();
    const double settled =
        std::max(frequencyResponse_.settledAfterS(), voltageResponse_.settledAfterS());
    std::erase_if(loadSteps_, [&](const LoadStep& s) { return clockS_ - s.atS > settled; });
    if (running_) {
        runningIntoMinute_ += simulated;
        while (runningIntoMinute_ >= 1min) {
            runningIntoMinute_ -= 1min;
            ++runningMinutes_;  // wraps like the controller's 32-bit counter
            if (minutesToService_ > std::numeric_limits<std::int16_t>::min()) --minutesToService_;
        }
    }
    rebuild();
}

double GensetModel::transientPct(const StepResponse& response) const {
    double sum = 0;
    for (const LoadStep& step : loadSteps_)
        sum += step.sign * response.deviationPct(clockS_ - step.atS);
    return sum;
}

int GensetModel::noise(int amplitude) {
    // Raw engine output, so the same seed gives the same values with every standard library.
    const auto span = static_cast<std::uint32_t>(2 * amplitude + 1);
    return static_cast<int>(rng_() % span) - amplitude;
}

void GensetModel::sampleNoise() {
    if (!config_.noise) return;
    for (int& v : noise_.phaseVoltage) v = noise(15);
    for (int& v : noise_.phaseCurrent) v = noise(3);
    noise_.generatorFrequency = noise(5);
    noise_.busVoltage = noise(10);
    noise_.busFrequency = noise(3);
    noise_.loadPermille = noise(10);
    noise_.battery = noise(1);
    rebuild();
}

std::uint16_t GensetModel::inputRegister(int address) const {
    const int n = address - protocol::kStatusFirstRegister;
    if (n < 0 || n >= protocol::kStatusRegisterCount) return 0;
    return status_[static_cast<std::size_t>(n)];
}

std::uint16_t GensetModel::holdingRegister(int address) const {
    const int n = address - protocol::kFirstHoldingRegister;
    if (n < 0 || n >= protocol::kHoldingRegisterCount) return 0;
    return holding_[static_cast<std::size_t>(n)];
}

void GensetModel::writeHoldingRegister(int address, std::uint16_t value) {
    const int n = address - protocol::kFirstHoldingRegister;
    if (n < 0 || n >= protocol::kHoldingRegisterCount) return;
    holding_[static_cast<std::size_t>(n)] = value;
    if (address == protocol::kCommandRegister) execute(value);
}

void GensetModel::execute(std::uint16_t code) {
    const bool wasOnBus = running_ && loadOn_;
    const bool wasRunning = running_;
    commands_.push_back(code);
    if (commands_.size() > kCommandsKept) commands_.pop_front();
    ++commandCount_;

    switch (code) {
        case command::kStart:
            running_ = true;
            break;
        case command::kStop:
            running_ = false;
            break;
        case command::kAcknowledge:
            savedAlarm_ = 0;
            savedFault_ = 0;
            savedInternal_ = 0;
            savedCascade_ = 0;
            break;
        case command::kSetPriority:
        case command::kSetSection:
        case command::kSetNeighbourSection:
            setNumber(code);
            break;
        default: {
            const auto function = static_cast<std::uint8_t>(code & 0xFFu);
            const auto action = static_cast<std::uint8_t>(code >> 8);
            bool* target = function == command::kLoad        ? &loadOn_
                           : function == command::kSection   ? &sectionOn_
                           : function == command::kAutostart ? &autostartOn_
                                                             : nullptr;
            if (target == nullptr) break;  // unknown codes are recorded and otherwise ignored
            if (action == command::kOff) *target = false;
            if (action == command::kOn) *target = true;
            if (action == command::kToggle) *target = !*target;
            break;
        }
    }
    // Starting and stopping are not load steps; switching the load of a running set is.
    const bool onBus = running_ && loadOn_;
    if (wasRunning && running_ && onBus != wasOnBus)
        loadSteps_.push_back({clockS_, onBus ? 1.0 : -1.0});
    rebuild();
}

void GensetModel::setNumber(std::uint16_t code) {
    const std::uint16_t argument = holdingRegister(protocol::kNumberRegister);
    const auto marker = static_cast<std::uint8_t>(argument >> 8);
    const int number = argument & 0xFF;
    if (number > 7) return;
    const std::uint8_t expected =
        code == command::kSetPriority ? command::kPriorityMarker : command::kSectionMarker;
    if (marker != expected) return;
    if (code == command::kSetPriority) priority_ = number;
    if (code == command::kSetSection) sectionNumber_ = number;
    if (code == command::kSetNeighbourSection) neighbourSection_ = number;
}

void GensetModel::rebuild() {
    auto& r = status_;
    r.fill(0);
    auto put = [&r](int n, long value) { r[static_cast<std::size_t>(n)] = clampToU16(value); };
    auto put32 = [&r](int n, std::uint32_t value) {
        r[static_cast<std::size_t>(n)] = highWord(value);
        r[static_cast<std::size_t>(n + 1)] = lowWord(value);
    };

    r[reg::kProtocolVersion] = kProtocolVersion;
    r[reg::kSoftwareVersion] = kSoftwareVersion;

    const int busVoltage = kNominalVoltage + noise_.busVoltage;
    const int busFrequency = kNominalFrequency + noise_.busFrequency;
    put(reg::kBusVoltage, busVoltage);
    put(reg::kBusFrequency, busFrequency);

    const auto withTransient = [](int nominal, double deviationPct) {
        return static_cast<int>(std::lround(nominal * (1 + deviationPct / 100)));
    };
    const int generatorFrequency =
        running_ ? withTransient(kNominalFrequency, transientPct(frequencyResponse_)) +
                       noise_.generatorFrequency
                 : 0;
    const int phaseVoltage = withTransient(kNominalVoltage, transientPct(voltageResponse_));
    for (int phase = 0; phase < 3; ++phase) {
        const auto p = static_cast<std::size_t>(phase);
        put(reg::kPhaseVoltage + phase, running_ ? phaseVoltage + noise_.phaseVoltage[p] : 0);
    }
    put(reg::kGeneratorFrequency, generatorFrequency);

    const bool onBus = running_ && loadOn_;
    if (sectionOn_) {
        put(reg::kSectionVoltage, busVoltage);
        put(reg::kSectionFrequency, busFrequency);
    } else if (onBus) {
        put(reg::kSectionVoltage, r[reg::kPhaseVoltage]);
        put(reg::kSectionFrequency, generatorFrequency);
    }

    if (onBus) {
        const double activeKw = config_.loadKw * (1000 + noise_.loadPermille) / 1000.0;
        const double fullKva = activeKw / kPowerFactor;
        const double reactiveKvar = fullKva * std::sqrt(1 - kPowerFactor * kPowerFactor);
        put32(reg::kActivePower, static_cast<std::uint32_t>(std::lround(activeKw * 10)));
        put32(reg::kFullPower, static_cast<std::uint32_t>(std::lround(fullKva * 10)));
        put32(reg::kReactivePower, static_cast<std::uint32_t>(std::lround(reactiveKvar * 10)));
        const double amperes = fullKva * 1000 / (3 * kPhaseVoltageVolts);
        for (int phase = 0; phase < 3; ++phase) {
            const long raw = std::lround(amperes / 0.2) + noise_.phaseCurrent[phase];
            put(reg::kPhaseCurrent + phase, raw);
        }
    }

    put(reg::kBattery, (running_ ? kBatteryCharging : kBatteryResting) + noise_.battery);

    r[reg::kSavedAlarm] = savedAlarm_;
    r[reg::kSavedFault] = savedFault_;
    r[reg::kSavedInternal] = savedInternal_;
    put32(reg::kSavedCascade, savedCascade_);
    r[reg::kLastAlarm] = lastAlarm_;
    r[reg::kLastFault] = lastFault_;
    r[reg::kLastInternal] = lastInternal_;
    put32(reg::kLastCascade, lastCascade_);

    r[reg::kSectionAndPriority] = static_cast<std::uint16_t>(sectionNumber_ << 8 | priority_);

    const bool alarm = savedAlarm_ != 0 || r[reg::kCurrentAlarm] != 0;
    std::uint16_t lamps = 0;
    if (running_) lamps |= lamp::kGenset;
    if (sectionOn_ || onBus) lamps |= lamp::kSectionLive;
    if (onBus) lamps |= lamp::kNonEssential1 | lamp::kGensetOnBus;
    if (autostartOn_) lamps |= lamp::kAutostart;
    if (!autostartOn_) lamps |= lamp::kLocalControl;
    if (sectionOn_) lamps |= lamp::kSectionOn;
    if (onBus && sectionOn_) lamps |= lamp::kNonEssential2;
    if (alarm) lamps |= lamp::kAlarm;
    r[reg::kLamps] = lamps;

    std::uint16_t relays = running_ ? relay::kStart : relay::kStop;
    if (alarm) relays |= relay::kSiren;
    r[reg::kRelays] = relays;

    r[reg::kTimeToService] = static_cast<std::uint16_t>(minutesToService_);
    put32(reg::kRunningMinutes, runningMinutes_);
}

}  // namespace torvix::sim
