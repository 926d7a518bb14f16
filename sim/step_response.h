#pragma once
// How a generator set answers a load step: the governor brings the frequency back and the
// voltage regulator the voltage, each as an underdamped second-order system.

namespace torvix::sim {

struct StepResponseParameters {
    double dipPct = 0;     // deepest deviation for a step of the whole load, % of rated
    double recoveryS = 0;  // until the deviation stays within bandPct for good
    double bandPct = 1;    // the band recoveryS is measured to, % of rated
    double damping = 0.5;  // 0 < damping < 1
};

class StepResponse {
public:
    explicit StepResponse(const StepResponseParameters& parameters);

    // Deviation in % of rated, t seconds after a load increase (a dip, so negative); 0 before
    // the step. A decrease answers with the opposite sign.
    double deviationPct(double t) const;
    // When the dip is deepest.
    double extremeTimeS() const;
    // The end of the last stretch with |deviation| > bandPct; 0 when it never leaves the band.
    double recoveryTimeS(double bandPct) const;
    // After this the deviation stays below 0.001 % of rated.
    double settledAfterS() const;

    const StepResponseParameters& parameters() const { return parameters_; }

private:
    // In the time unit 1/ω: the shape without depth or speed.
    double shape(double tau) const;
    double recoveryTau(double relativeBand) const;

    StepResponseParameters parameters_;
    double dampedRate_;  // sqrt(1 - ζ²)
    double extremeTau_;
    double extremeValue_;
    double omega_;  // 1/s
};

}  // namespace torvix::sim
