#include "analysis/transient_analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "record/event_text.h"

namespace torvix::analysis {
namespace {

constexpr double kSteadyBeforeS = 10;  // the span before t0 judged as steady state
constexpr double kStepShareOfPower = 0.1;
constexpr double kSteadyAtLeastS = 2;  // less steady state than this judges nothing

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

// From t0 until x enters steady ± halfWidth for good; empty when it never does, or only within
// the window's last 2 s: there x is still moving and its mean is no steady value.
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
    const double recovery = r.timeS[lastOutside + 1] - r.timeS[row];
    if (recovery > r.timeS[end - 1] - r.timeS[row] - kSteadyAtEndS) return std::nullopt;
    return recovery;
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

// Each limit of l that can be judged holds. A recovery not seen before the window's last 2 s,
// in a window too short to see as much time as the limit allows, can be neither.
bool holds(Step& s, const ClassLimits& l) {
    const auto within = [](const std::optional<double>& v, double limit) {
        return v && *v <= limit;
    };
    const auto deviationHolds = [&](const std::optional<double>& v, double onIncrease,
                                    double onDecrease) {
        return v && (s.increase ? *v >= onIncrease : *v <= onDecrease);
    };
    const double seenS = s.windowS - kSteadyAtEndS;
    const auto recoveryHolds = [&](Transient& t, double limit) {
        t.recoveryNotJudged = !t.recoveryS && seenS < limit;
        return t.recoveryNotJudged || within(t.recoveryS, limit);
    };
    const bool frequencyRecovers = recoveryHolds(s.frequency, l.frequencyRecoveryS);
    const bool voltageRecovers = recoveryHolds(s.voltage, l.voltageRecoveryS);
    return deviationHolds(s.frequency.deviationPct, l.frequencyDeviationIncreasePct,
                          l.frequencyDeviationDecreasePct) &&
           frequencyRecovers &&
           deviationHolds(s.voltage.deviationPct, l.voltageDeviationIncreasePct,
                          l.voltageDeviationDecreasePct) &&
           voltageRecovers &&
           (s.steadyNotJudged ||
            (within(s.steadyFrequencyBandPct, l.steadyFrequencyBandPct) &&
             within(s.steadyVoltageDeviationPct, l.steadyVoltageDeviationPct)));
}

bool running(const Recording& r, const RatedValues& rated, std::size_t row) {
    return r.frequencyHz[row] >= kRunningFromShareOfRated * rated.frequencyHz &&
           r.voltageV[row] >= kRunningFromShareOfRated * rated.voltageV;
}

std::vector<std::size_t> answeredStops(const Recording& r) {
    static const QString kStopped =
        QStringLiteral("] ") +
        record::commandEvent(u"stop", record::CommandOutcome{record::CommandOutcome::Executed});
    std::vector<std::size_t> rows;
    for (const Recording::Event& event : r.events)
        if (event.text.startsWith(u'[') && event.text.endsWith(kStopped)) rows.push_back(event.row);
    return rows;
}

// The window runs from t0 to whatever comes first: the next step, a stopped or stopping set,
// the end of the record. A stopped set's zeros would otherwise be its f_ss.
void endWindow(const Recording& r, const RatedValues& rated, const std::vector<std::size_t>& stops,
               std::size_t nextStep, Step& s) {
    s.endRow = nextStep;
    s.windowEnd = nextStep < r.size() ? WindowEnd::NextStep : WindowEnd::RecordEnd;
    const auto stop = std::upper_bound(stops.begin(), stops.end(), s.row);
    std::size_t stopped = stop == stops.end() ? r.size() : *stop;
    // Up to and with the next step's record: power a stopping set sheds is no step of its own.
    for (std::size_t i = s.row + 1; i < std::min(stopped, nextStep + 1) && i < r.size(); ++i) {
        if (!running(r, rated, i)) {
            stopped = i;
            break;
        }
    }
    if (stopped <= s.endRow && stopped < r.size()) {
        s.endRow = stopped;
        s.windowEnd = WindowEnd::Stop;
    }
}

// The span before t0 that counts as steady: 10 s, but not before the previous step recovered
// and not over a stopped set.
void steadyBefore(const Recording& r, const RatedValues& rated, double notBeforeS, Step& s) {
    const double from = std::max(r.timeS[s.row] - kSteadyBeforeS, notBeforeS);
    std::size_t first = s.row;
    while (first > 0 && r.timeS[first - 1] >= from && running(r, rated, first - 1)) --first;
    s.steadyFirstRow = first;
    if (s.row - first < 2 || s.timeS - r.timeS[first] < kSteadyAtLeastS) {
        s.steadyNotJudged = true;
        return;
    }
    const std::span f(r.frequencyHz.data() + first, s.row - first);
    const std::span u(r.voltageV.data() + first, s.row - first);
    const auto [fMin, fMax] = std::minmax_element(f.begin(), f.end());
    s.steadyFrequencyBandPct = (*fMax - *fMin) / rated.frequencyHz * 100;
    const double uMean = meanOf(u);
    double largest = 0;
    for (double v : u) largest = std::max(largest, std::fabs(v - uMean));
    s.steadyVoltageDeviationPct = largest / rated.voltageV * 100;
}

QString windowEndWords(WindowEnd end) {
    return end == WindowEnd::NextStep ? QStringLiteral("следующий шаг")
           : end == WindowEnd::Stop   ? QStringLiteral("останов агрегата")
                                      : QStringLiteral("конец записи");
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
    const std::vector<std::size_t> stops = answeredStops(r);
    // When the previous step had settled, so that its transient is no steady state of the next.
    double previousSettledS = -std::numeric_limits<double>::infinity();
    for (std::size_t n = 0; n < found.size(); ++n) {
        // Power that a stopping set sheds is no load step.
        if (!running(r, rated, found[n].row)) continue;
        Step s;
        s.row = found[n].row;
        s.timeS = r.timeS[s.row];
        endWindow(r, rated, stops, n + 1 < found.size() ? found[n + 1].row : r.size(), s);
        s.windowS = r.timeS[s.endRow - 1] - s.timeS;
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
        steadyBefore(r, rated, previousSettledS, s);

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
        previousSettledS = s.frequency.recoveryS && s.voltage.recoveryS
                               ? s.timeS + std::max(*s.frequency.recoveryS, *s.voltage.recoveryS)
                               : r.timeS[s.endRow - 1];

        const QString which =
            QStringLiteral("Шаг %1 (%2 с)").arg(a.steps.size() + 1).arg(s.timeS, 0, 'f', 1);
        const double windowS = s.windowS;
        if (s.steadyNotJudged) {
            const std::size_t first = s.steadyFirstRow;
            const QString why = first > 0 && !running(r, rated, first - 1)
                                    ? QStringLiteral("до того агрегат стоял")
                                : first == 0 && r.timeS[s.row] - kSteadyBeforeS < 0
                                    ? QStringLiteral("запись началась лишь тогда")
                                    : QStringLiteral("до того не восстановился предыдущий шаг");
            a.notes << QStringLiteral(
                           "%1: установившегося режима перед шагом лишь %2 с, меньше 2 с (%3); "
                           "β_f и ΔU_st не определены, класс оценён по остальным пределам")
                           .arg(which)
                           .arg(s.timeS - r.timeS[first], 0, 'f', 2)
                           .arg(why);
        }
        const double spacing =
            s.endRow - s.row > 1 ? windowS / static_cast<double>(s.endRow - 1 - s.row) : 0;
        const auto says = [&](Transient& t, const char* recovered, const char* ofWhat) {
            if (!t.recoveryS) {
                a.notes << QStringLiteral("%1: окно шага (%2 с) прервал %3 раньше, чем %4%5")
                               .arg(which)
                               .arg(windowS, 0, 'f', 2)
                               .arg(windowEndWords(s.windowEnd), QString::fromUtf8(recovered),
                                    t.recoveryNotJudged ? QStringLiteral("; этот предел не оценён")
                                                        : QString());
                return;
            }
            if (!(*t.recoveryS < 2 * spacing)) return;
            t.recoveryTooCoarse = true;
            a.notes << QStringLiteral(
                           "%1: восстановление %2 %3 с короче двух "
                           "интервалов записи (%4 с), запись слишком редкая для него")
                           .arg(which, QString::fromUtf8(ofWhat))
                           .arg(*t.recoveryS, 0, 'f', 2)
                           .arg(spacing, 0, 'f', 2);
        };
        says(s.frequency, "восстановилась частота", "частоты");
        says(s.voltage, "восстановилось напряжение", "напряжения");
        a.steps.push_back(s);
    }

    if (!a.steps.empty()) {
        a.overall = PerformanceClass::G3;
        for (const Step& s : a.steps) a.overall = std::min(a.overall, s.performanceClass);
    }
    return a;
}

}  // namespace torvix::analysis
