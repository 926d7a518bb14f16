#pragma once
// The generator set the simulator plays: its status block, holding registers and commands.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "protocol/protocol.h"
#include "sim/step_response.h"

namespace torvix::sim {

namespace command = protocol::command;

// Register numbers within the status block (input register 300 + n).
namespace reg {
inline constexpr int kProtocolVersion = 0;
inline constexpr int kSoftwareVersion = 1;
inline constexpr int kBusVoltage = 2;
inline constexpr int kSectionVoltage = 3;
inline constexpr int kPhaseVoltage = 4;  // A, B, C
inline constexpr int kPhaseCurrent = 7;  // A, B, C
inline constexpr int kActivePower = 10;  // signed 32, high word first
inline constexpr int kFullPower = 12;
inline constexpr int kReactivePower = 14;
inline constexpr int kBusFrequency = 16;
inline constexpr int kSectionFrequency = 17;
inline constexpr int kGeneratorFrequency = 18;
inline constexpr int kLastCascade = 29;
inline constexpr int kSavedCascade = 35;
inline constexpr int kBattery = 39;
inline constexpr int kCurrentAlarm = 42;
inline constexpr int kSavedAlarm = 43;
inline constexpr int kLastAlarm = 44;
inline constexpr int kCurrentFault = 45;
inline constexpr int kSavedFault = 46;
inline constexpr int kLastFault = 47;
inline constexpr int kCurrentInternal = 48;
inline constexpr int kSavedInternal = 49;
inline constexpr int kLastInternal = 50;
inline constexpr int kCurrentCascade = 51;
inline constexpr int kSectionAndPriority = 56;
inline constexpr int kLamps = 58;
inline constexpr int kRelays = 60;
inline constexpr int kTimeToService = 61;
inline constexpr int kRunningMinutes = 62;
}  // namespace reg

namespace lamp {
inline constexpr std::uint16_t kGenset = 1u << 0;
inline constexpr std::uint16_t kSectionLive = 1u << 1;
inline constexpr std::uint16_t kNonEssential1 = 1u << 2;
inline constexpr std::uint16_t kAutostart = 1u << 3;
inline constexpr std::uint16_t kLocalControl = 1u << 4;  // "Пост": manual, autostart off
inline constexpr std::uint16_t kGensetOnBus = 1u << 5;
inline constexpr std::uint16_t kSectionOn = 1u << 6;
inline constexpr std::uint16_t kNonEssential2 = 1u << 7;
inline constexpr std::uint16_t kAlarm = 1u << 8;
}  // namespace lamp

namespace relay {
inline constexpr std::uint16_t kStart = 1u << 0;
inline constexpr std::uint16_t kStop = 1u << 1;
inline constexpr std::uint16_t kSiren = 1u << 2;
}  // namespace relay

struct GensetConfig {
    std::uint32_t seed = 1;
    bool noise = true;
    bool running = false;
    double loadKw = 120.0;
    // A typical G2 set of ISO 8528-5 for a step of the whole load: the frequency dips 8 % and
    // is back within ±1 % (α_f/2) after 4 s; the voltage dips 17 % and is back within ±2.5 %
    // (ΔU_st) after 2.5 s. Deeper or slower than G3 allows, within G2.
    StepResponseParameters frequencyResponse{.dipPct = 8, .recoveryS = 4, .bandPct = 1};
    StepResponseParameters voltageResponse{.dipPct = 17, .recoveryS = 2.5, .bandPct = 2.5};
};

class GensetModel {
public:
    static constexpr std::size_t kCommandsKept = 1000;
    static constexpr std::uint16_t kProtocolVersion = 0x020E;  // 2.14
    static constexpr std::uint16_t kSoftwareVersion = 0x0307;  // 3.07
    static constexpr std::uint32_t kInitialRunningMinutes = 120000;
    static constexpr std::int32_t kInitialMinutesToService = 15000;

    explicit GensetModel(const GensetConfig& config = {});

    // Lets simulated time pass: running minutes count up and time to service down while running.
    void advance(std::chrono::milliseconds simulated);
    // Draws fresh measurement noise, as before every status read.
    void sampleNoise();

    const std::array<std::uint16_t, protocol::kStatusRegisterCount>& statusBlock() const {
        return status_;
    }
    std::uint16_t inputRegister(int address) const;
    std::uint16_t holdingRegister(int address) const;
    // A write to 402 runs the command it carries, with 401 as its argument.
    void writeHoldingRegister(int address, std::uint16_t value);

    bool running() const { return running_; }
    bool loadOn() const { return loadOn_; }
    bool sectionOn() const { return sectionOn_; }
    bool autostartOn() const { return autostartOn_; }
    int sectionNumber() const { return sectionNumber_; }
    int priority() const { return priority_; }
    int neighbourSection() const { return neighbourSection_; }
    // The latest command codes, oldest first; at most kCommandsKept of them.
    const std::deque<std::uint16_t>& recentCommands() const { return commands_; }
    std::uint64_t commandCount() const { return commandCount_; }

private:
    void execute(std::uint16_t code);
    void setNumber(std::uint16_t code);
    int noise(int amplitude);
    void rebuild();
    // The sum of the answers to every load step still under way, % of rated.
    double transientPct(const StepResponse& response) const;

    GensetConfig config_;
    std::mt19937 rng_;

    bool running_;
    bool loadOn_ = false;
    bool sectionOn_ = false;
    bool autostartOn_ = false;
    int sectionNumber_ = 1;
    int priority_ = 1;
    int neighbourSection_ = 0;

    // Left over from a fault before the simulator started, until acknowledged.
    std::uint16_t savedAlarm_ = 0x0004;
    std::uint16_t savedFault_ = 0x0010;
    std::uint16_t savedInternal_ = 0x0000;
    std::uint32_t savedCascade_ = 0x00000001;
    std::uint16_t lastAlarm_ = 0x0004;
    std::uint16_t lastFault_ = 0x0010;
    std::uint16_t lastInternal_ = 0x0000;
    std::uint32_t lastCascade_ = 0x00000001;

    std::uint32_t runningMinutes_ = kInitialRunningMinutes;
    std::int32_t minutesToService_ = kInitialMinutesToService;
    std::chrono::milliseconds runningIntoMinute_{0};

    StepResponse frequencyResponse_;
    StepResponse voltageResponse_;
    struct LoadStep {
        double atS;
        double sign;  // +1 load on, -1 load off
    };
    std::vector<LoadStep> loadSteps_;
    double clockS_ = 0;

    struct Noise {
        std::array<int, 3> phaseVoltage{};
        std::array<int, 3> phaseCurrent{};
        int generatorFrequency = 0;
        int busVoltage = 0;
        int busFrequency = 0;
        int loadPermille = 0;
        int battery = 0;
    } noise_;

    std::array<std::uint16_t, protocol::kHoldingRegisterCount> holding_{};
    std::deque<std::uint16_t> commands_;
    std::uint64_t commandCount_ = 0;
    std::array<std::uint16_t, protocol::kStatusRegisterCount> status_{};
};

}  // namespace torvix::sim
