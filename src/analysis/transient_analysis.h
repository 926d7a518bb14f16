#pragma once
// Finds the load steps in a recording and measures each against ISO 8528-5: transient
// deviation and recovery of frequency and voltage, steady state before the step, class.

#include <QStringList>
#include <optional>
#include <vector>

#include "analysis/acceptance.h"
#include "analysis/iso8528_limits.h"
#include "analysis/recording.h"

namespace torvix::analysis {

struct RatedValues {
    double frequencyHz = 50;
    double voltageV = 230;          // phase voltage
    std::optional<double> powerKw;  // empty: steps are changes of 10 % of the largest power
};

// Below this share of the rated f or U the set is taken as stopped: no steady state, and no
// scale of a plot.
inline constexpr double kRunningFromShareOfRated = 0.5;
// The end of a step's window that gives f_ss and U_ss; a recovery must come before it.
inline constexpr double kSteadyAtEndS = 2;

// How steps were found: at answered load commands, or where the power jumps.
enum class StepSource { LoadCommands, PowerChanges };

// What ended a step's window.
enum class WindowEnd { NextStep, Stop, RecordEnd };

// One quantity's transient after a step: f or U.
struct Transient {
    std::optional<double> deviationPct;
    std::optional<double> recoveryS;  // measured into the band of the step's class (G1: none)
    std::size_t extremeRow = 0;
    double extremeValue = 0;
    double steadyValue = 0;          // f_ss or U_ss: the mean of the window's last 2 s
    double bandHalfWidth = 0;        // in Hz or V, the band recoveryS was measured to
    bool recoveryTooCoarse = false;  // shorter than two sample spacings
    // Still outside the band at the window's end, and the window shorter than the recovery
    // limit of the step's class: neither held nor missed.
    bool recoveryNotJudged = false;
};

struct Step {
    double timeS = 0;
    bool increase = true;
    std::size_t row = 0;  // t0's record
    // One past the window: the next step's record, the first of a stopped or stopping set, or
    // the end, whichever comes first.
    std::size_t endRow = 0;
    WindowEnd windowEnd = WindowEnd::RecordEnd;
    double windowS = 0;  // t0 to the window's last record
    double powerBeforeKw = 0;
    double powerAfterKw = 0;
    Transient frequency;
    Transient voltage;
    std::optional<double> steadyFrequencyBandPct;
    std::optional<double> steadyVoltageDeviationPct;
    std::size_t steadyFirstRow = 0;  // the steady span before t0: [steadyFirstRow, row)
    // Under 2 s of steady state: β_f and ΔU_st are empty and the class is judged without them.
    bool steadyNotJudged = false;
    PerformanceClass performanceClass = PerformanceClass::None;
    std::optional<bool> meetsContract;  // with --limits
};

struct Analysis {
    RatedValues rated;
    double powerStepKw = 0;  // the change that counts as a step
    StepSource source = StepSource::PowerChanges;
    std::vector<Step> steps;
    PerformanceClass overall = PerformanceClass::None;  // the worst step's class
    QStringList notes;  // figures a sample spacing cannot give, warnings of the reader
    std::optional<ContractLimits> contract;
    std::optional<bool> meetsContract;
};

Analysis analyze(const Recording& recording, const RatedValues& rated);

}  // namespace torvix::analysis
