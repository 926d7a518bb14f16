#pragma once
// ISO 8528-5:2013 Table 4, the operating limits of performance classes G1 to G3 that a load
// step is judged by. docs/load-test.md names the sources each value was checked against.

#include <array>
#include <string_view>

namespace torvix::analysis {

enum class PerformanceClass { None, G1, G2, G3 };

struct ClassLimits {
    PerformanceClass performanceClass;
    std::string_view name;
    // % of rated frequency; the deviation on a power increase is negative.
    double frequencyDeviationIncreasePct;  // δf_dyn⁻, not below
    double frequencyDeviationDecreasePct;  // δf_dyn⁺, not above
    double frequencyBandPct;               // α_f: recovery is into f_ss ± α_f/2
    double frequencyRecoveryS;             // t_f
    // % of rated voltage.
    double voltageDeviationIncreasePct;  // δU_dyn⁻, not below
    double voltageDeviationDecreasePct;  // δU_dyn⁺, not above
    double steadyVoltageDeviationPct;  // ΔU_st: also the band of voltage recovery, U_ss ± ΔU_st
    double voltageRecoveryS;           // t_U
    double steadyFrequencyBandPct;     // β_f
};

// Best first: a step gets the first class whose limits all hold.
inline constexpr std::array<ClassLimits, 3> kClassLimits{{
    {PerformanceClass::G3, "G3", -7, 10, 2, 3, -15, 20, 1, 4, 0.5},
    {PerformanceClass::G2, "G2", -10, 12, 2, 5, -20, 25, 2.5, 6, 1.5},
    {PerformanceClass::G1, "G1", -15, 18, 3.5, 10, -25, 35, 5, 10, 2.5},
}};

// "G3", "G2", "G1" or "none".
std::string_view className(PerformanceClass c);
const ClassLimits* limitsOf(PerformanceClass c);

}  // namespace torvix::analysis
