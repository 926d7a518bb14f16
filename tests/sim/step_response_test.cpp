#include "sim/step_response.h"

#include <gtest/gtest.h>

#include <cmath>

#include "sim/genset_model.h"

namespace torvix::sim {
namespace {

using namespace std::chrono_literals;

// Sampled densely, independent of the bisection inside StepResponse.
struct Sampled {
    double deepest = 0;
    double deepestAt = 0;
    double lastOutside = 0;
};
Sampled sample(const StepResponse& r, double band, double until) {
    Sampled s;
    for (double t = 0; t <= until; t += 1e-4) {
        const double d = r.deviationPct(t);
        if (d < s.deepest) s = {d, t, s.lastOutside};
        if (std::fabs(d) > band) s.lastOutside = t;
    }
    return s;
}

TEST(StepResponse, DipsAsDeepAndRecoversAsFastAsItsParametersSay) {
    for (const StepResponseParameters p :
         {StepResponseParameters{.dipPct = 8, .recoveryS = 4, .bandPct = 1},
          StepResponseParameters{.dipPct = 17, .recoveryS = 2.5, .bandPct = 2.5},
          StepResponseParameters{.dipPct = 3, .recoveryS = 1, .bandPct = 1, .damping = 0.8}}) {
        const StepResponse r(p);
        const Sampled s = sample(r, p.bandPct, 30);
        EXPECT_NEAR(s.deepest, -p.dipPct, 1e-6);
        EXPECT_NEAR(s.deepestAt, r.extremeTimeS(), 2e-4);
        EXPECT_NEAR(s.lastOutside, p.recoveryS, 2e-4);
        EXPECT_NEAR(r.recoveryTimeS(p.bandPct), p.recoveryS, 1e-9);
        // A narrower band takes longer; a band wider than the dip takes nothing.
        EXPECT_NEAR(r.recoveryTimeS(p.bandPct / 2), sample(r, p.bandPct / 2, 30).lastOutside, 2e-4);
        EXPECT_GT(r.recoveryTimeS(p.bandPct / 2), p.recoveryS);
        EXPECT_EQ(r.recoveryTimeS(p.dipPct * 1.5), 0);
        EXPECT_LT(std::fabs(r.deviationPct(r.settledAfterS())), 1e-3);
        EXPECT_EQ(r.deviationPct(-1), 0);
    }
}

double frequencyHz(const GensetModel& m) {
    return m.inputRegister(318) / 100.0;
}
double phaseVoltage(const GensetModel& m) {
    return m.inputRegister(304) / 10.0;
}

TEST(GensetModel, LoadStepsOfARunningSetMakeFrequencyAndVoltageDipAndRecover) {
    GensetConfig config{.noise = false, .running = true};
    GensetModel model(config);
    const StepResponse f(config.frequencyResponse);
    const StepResponse u(config.voltageResponse);

    model.writeHoldingRegister(402, 0x5BC4);  // load on
    const auto deepest = std::chrono::milliseconds(std::lround(f.extremeTimeS() * 1000));
    model.advance(deepest);
    EXPECT_NEAR(frequencyHz(model), 50 * (1 - config.frequencyResponse.dipPct / 100), 0.011);
    model.advance(60s);
    EXPECT_EQ(frequencyHz(model), 50.0);
    EXPECT_EQ(phaseVoltage(model), 230.0);

    model.writeHoldingRegister(402, 0x0BC4);  // load off: the opposite swing
    const auto deepestU = std::chrono::milliseconds(std::lround(u.extremeTimeS() * 1000));
    model.advance(deepestU);
    EXPECT_NEAR(phaseVoltage(model), 230 * (1 + config.voltageResponse.dipPct / 100), 0.11);
    model.advance(60s);
    EXPECT_EQ(phaseVoltage(model), 230.0);
}

TEST(GensetModel, StartingStoppingAndSwitchingAStoppedSetAreNoLoadSteps) {
    GensetModel model(GensetConfig{.noise = false});
    model.writeHoldingRegister(402, 0x5BC4);  // load on while stopped
    model.writeHoldingRegister(402, 0x1231);  // start with the load on
    model.advance(500ms);
    EXPECT_EQ(frequencyHz(model), 50.0);
    EXPECT_EQ(phaseVoltage(model), 230.0);
}

}  // namespace
}  // namespace torvix::sim
