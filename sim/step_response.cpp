#include "sim/step_response.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace torvix::sim {

StepResponse::StepResponse(const StepResponseParameters& parameters)
    : parameters_(parameters),
      dampedRate_(std::sqrt(1 - parameters.damping * parameters.damping)),
      extremeTau_(std::acos(parameters.damping) / dampedRate_),
      extremeValue_(shape(extremeTau_)),
      omega_(1) {
    // The speed follows from the recovery time: the shape's own recovery, stretched to it.
    const double tau = recoveryTau(parameters.bandPct / parameters.dipPct);
    omega_ = tau > 0 && parameters.recoveryS > 0 ? tau / parameters.recoveryS : 1;
}

double StepResponse::shape(double tau) const {
    // The speed error of a loop with integral action after a step of torque: it dips, swings
    // back past zero and dies away.
    return std::exp(-parameters_.damping * tau) * std::sin(dampedRate_ * tau);
}

double StepResponse::deviationPct(double t) const {
    if (t <= 0) return 0;
    return -parameters_.dipPct * shape(omega_ * t) / extremeValue_;
}

double StepResponse::extremeTimeS() const {
    return extremeTau_ / omega_;
}

double StepResponse::recoveryTau(double relativeBand) const {
    if (!(relativeBand > 0) || relativeBand >= 1) return 0;
    const double threshold = relativeBand * extremeValue_;
    // Extremes fall every π/dampedRate after the first and shrink by a constant factor; find
    // the last one outside the band, then where |shape| falls through the band after it.
    const double halfPeriod = std::numbers::pi / dampedRate_;
    double extreme = extremeTau_;
    while (std::fabs(shape(extreme + halfPeriod)) > threshold) extreme += halfPeriod;
    const double zero = std::ceil(extreme / halfPeriod) * halfPeriod;
    double inside = zero;
    double outside = extreme;
    for (int i = 0; i < 200; ++i) {
        const double middle = (inside + outside) / 2;
        (std::fabs(shape(middle)) > threshold ? outside : inside) = middle;
    }
    return outside;
}

double StepResponse::recoveryTimeS(double bandPct) const {
    return recoveryTau(bandPct / parameters_.dipPct) / omega_;
}

double StepResponse::settledAfterS() const {
    if (parameters_.dipPct <= 0) return 0;
    // The envelope exp(-ζτ)·dip/extremeValue falls below 0.001 %.
    const double tau = std::log(parameters_.dipPct / (extremeValue_ * 1e-3)) / parameters_.damping;
    return std::max(tau, 0.0) / omega_;
}

}  // namespace torvix::sim
