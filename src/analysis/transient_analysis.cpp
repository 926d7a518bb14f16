#include "analysis/transient_analysis.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "record/event_text.h"

namespace torvix::analysis {
namespace {

constexpr double kSteadyBeforeS = 10;  // the span before t0 judged as steady state
constexpr double kSteadyAtEndS = 2;    // the end of the window that gives f_ss and U_ss
constexpr double kStepShareOfPower = 0.1;

struct Found {
    std::size_t row;
    std::optional<bool> increase;  // from the command word, when it says
};

std::vector<Found> stepsFromCommands(const Recording& r) {
    // "[12.3 s] send load on: выполнено" and its kin; a toggle says nothing of the direction.
    struct Answered {
        QString text;
        std::optional<bool> increase;
    };
    const record::CommandOutcome done{record::CommandOutcome::Executed};
    static const Answered kAnswered[] = {
        {QStringLiteral("] ") + record::commandEvent(u"load on", done), true},
        {QStringLiteral("] ") + record::commandEvent(u"load off", done), false},
        {QStringLiteral("] ") + record::commandEvent(u"load toggle", done), std::nullopt},
    };
    std::vector<Found> found;
    for (const Recording::Event& event : r.events) {
        if (!event.text.startsWith(u'[')) continue;
        for (const Answered& answered : kAnswered) {
            if (!event.text.endsWith(answered.text)) continue;
            if (found.empty() || found.back().row != event.row)
                found.push_back({event.row, answered.increase});
        }
    }
    return found;
}

std::vector<Found> stepsFromPower(const Recording& r, double threshold) {
    std::vector<Found> found;
    for (std::size_t i = 1; i < r.size(); ++i) {
        const double change = r.powerKw[i] - r.powerKw[i - 1];
        if (std::fabs(change) <= threshold) continue;
        // A step spread over two records is one step.
        if (!found.empty() && found.back().row == i - 1 && *found.back().increase == (change > 0))
            continue;
        found.push_back({i, change > 0});
    }
    return found;
}

double meanOf(std::span<const double> values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// The first row of the window's last kSteadyAtEndS seconds.
std::size_t steadyTailStart(const Recording& r, std::size_t row, std::size_t end) {
    const double from = r.timeS[end - 1] - kSteadyAtEndS;
    std::size_t i = end - 1;
    while (i > row && r.timeS[i - 1] >= from) --i;
    return i;
}

// From t0 until x enters steady ± halfWidth for good; empty when it never does.
std::optional<double> recoveryOf(const Recording& r, std::span<const double> x, std::size_t row,
                                 std::size_t end, double steady, double halfWidth) {
    std::size_t lastOutside = end;
    for (std::size_t i = end; i-- > row;) {
        if (std::fabs(x[i] - steady) > halfWidth) {
            lastOutside = i;
            break;
        }
    }
    if (lastOutside == end) return 0.0;
    if (lastOutside == end - 1) return std::nullopt;
    return r.timeS[lastOutside + 1] - r.timeS[row];
}

Transient transientOf(std::span<const double> x, double rated, const Step& step, std::size_t tail) {
    Transient t;
    const auto window = x.subspan(step.row, step.endRow - step.row);
    const auto extreme = step.increase ? std::min_element(window.begin(), window.end())
                                       : std::max_element(window.begin(), window.end());
    t.extremeRow = step.row + static_cast<std::size_t>(extreme - window.begin());
    t.extremeValue = *extreme;
    t.deviationPct = (t.extremeValue - rated) / rated * 100;
    t.steadyValue = meanOf(x.subspan(tail, step.endRow - tail));
    return t;
}

bool holds(const Step& s, const ClassLimits& l) {
    const auto within = [](const std::optional<double>& v, double limit) {
        return v && *v <= limit;
    };
    const auto deviationHolds = [&](const std::optional<double>& v, double onIncrease,
                                    double onDecrease) {
        return v && (s.increase ? *v >= onIncrease : *v <= onDecrease);
    };
    return deviationHolds(s.frequency.deviationPct, l.frequencyDeviationIncreasePct,
                          l.frequencyDeviationDecreasePct) &&
           within(s.frequency.recoveryS, l.frequencyRecoveryS) &&
           deviationHolds(s.voltage.deviationPct, l.voltageDeviationIncreasePct,
                          l.voltageDeviationDecreasePct) &&
           within(s.voltage.recoveryS, l.voltageRecoveryS) &&
           within(s.steadyFrequencyBandPct, l.steadyFrequencyBandPct) &&
           within(s.steadyVoltageDeviationPct, l.steadyVoltageDeviationPct);
}

void steadyBefore(const Recording& r, const RatedValues& rated, Step& s) {
    const double from = r.timeS[s.row] - kSteadyBeforeS;
    std::size_t first = s.row;
    while (first > 0 && r.timeS[first - 1] >= from &&
           r.frequencyHz[first - 1] >= kRunningFromShareOfRated * rated.frequencyHz &&
           r.voltageV[first - 1] >= kRunningFromShareOfRated * rated.voltageV)
        --first;
    s.steadyFirstRow = first;
    if (s.row - first < 2) return;
    const std::span f(r.frequencyHz.data() + first, s.row - first);
    const std::span u(r.voltageV.data() + first, s.row - first);
    const auto [fMin, fMax] = std::minmax_element(f.begin(), f.end());
    s.steadyFrequencyBandPct = (*fMax - *fMin) / rated.frequencyHz * 100;
    const double uMean = meanOf(u);
    double largest = 0;
    for (double v : u) largest = std::max(largest, std::fabs(v - uMean));
    s.steadyVoltageDeviationPct = largest / rated.voltageV * 100;
}

}  // namespace

Analysis analyze(const Recording& r, const RatedValues& rated) {
    Analysis a;
    a.rated = rated;
    a.notes = r.warnings;
    if (r.size() == 0) return a;

    double largest = 0;
    for (double p : r.powerKw) largest = std::max(largest, std::fabs(p));
    a.powerStepKw = kStepShareOfPower * rated.powerKw.value_or(largest);

    std::vector<Found> found = stepsFromCommands(r);
    a.source = StepSource::LoadCommands;
    if (found.empty()) {
        a.source = StepSource::PowerChanges;
        if (a.powerStepKw > 0) found = stepsFromPower(r, a.powerStepKw);
    }

    const std::span<const double> f(r.frequencyHz);
    const std::span<const double> u(r.voltageV);
    for (std::size_t n = 0; n < found.size(); ++n) {
        Step s;
        s.row = found[n].row;
        s.endRow = n + 1 < found.size() ? found[n + 1].row : r.size();
        s.timeS = r.timeS[s.row];
        const std::size_t tail = steadyTailStart(r, s.row, s.endRow);
        s.powerBeforeKw = r.powerKw[s.row > 0 ? s.row - 1 : s.row];
        s.powerAfterKw = meanOf(std::span(r.powerKw).subspan(tail, s.endRow - tail));
        const double change = s.powerAfterKw - s.powerBeforeKw;
        if (std::fabs(change) > a.powerStepKw / 2 || !found[n].increase) {
            s.increase = change > 0;
            if (std::fabs(change) <= a.powerStepKw / 2) {
                // A toggle that moved no power: the frequency shows which way it went.
                const double fSteady = meanOf(f.subspan(tail, s.endRow - tail));
                const auto window = f.subspan(s.row, s.endRow - s.row);
                const auto [lo, hi] = std::minmax_element(window.begin(), window.end());
                s.increase = fSteady - *lo >= *hi - fSteady;
            }
        } else {
            s.increase = *found[n].increase;
        }
        s.frequency = transientOf(f, rated.frequencyHz, s, tail);
        s.voltage = transientOf(u, rated.voltageV, s, tail);
        steadyBefore(r, rated, s);

        // Each class is judged with its own recovery bands; the step keeps the figures of the
        // best class that holds, or of G1 when none does.
        for (const ClassLimits& l : kClassLimits) {
            s.frequency.bandHalfWidth = l.frequencyBandPct / 2 / 100 * rated.frequencyHz;
            s.voltage.bandHalfWidth = l.steadyVoltageDeviationPct / 100 * rated.voltageV;
            s.frequency.recoveryS = recoveryOf(r, f, s.row, s.endRow, s.frequency.steadyValue,
                                               s.frequency.bandHalfWidth);
            s.voltage.recoveryS =
                recoveryOf(r, u, s.row, s.endRow, s.voltage.steadyValue, s.voltage.bandHalfWidth);
            if (holds(s, l)) {
                s.performanceClass = l.performanceClass;
                break;
            }
        }

        const double spacing = s.endRow - s.row > 1 ? (r.timeS[s.endRow - 1] - s.timeS) /
                                                          static_cast<double>(s.endRow - 1 - s.row)
                                                    : 0;
        const auto coarse = [&](Transient& t, const char* what) {
            if (!t.recoveryS || !(*t.recoveryS < 2 * spacing)) return;
            t.recoveryTooCoarse = true;
            a.notes << QStringLiteral(
                           "Шаг %1 (%2 с): восстановление %3 %4 с короче двух "
                           "интервалов записи (%5 с), запись слишком редкая для него")
                           .arg(a.steps.size() + 1)
                           .arg(s.timeS, 0, 'f', 1)
                           .arg(QString::fromUtf8(what))
                           .arg(*t.recoveryS, 0, 'f', 2)
                           .arg(spacing, 0, 'f', 2);
        };
        coarse(s.frequency, "частоты");
        coarse(s.voltage, "напряжения");
        a.steps.push_back(s);
    }

    if (!a.steps.empty()) {
        a.overall = PerformanceClass::G3;
        for (const Step& s : a.steps) a.overall = std::min(a.overall, s.performanceClass);
    }
    return a;
}

}  // namespace torvix::analysis
