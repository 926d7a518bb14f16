#pragma once
// A load test recorded from the simulator's own set model, written in the record format: the
// expected figures come from the model's parameters, not from the analyser.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

#include "record/event_text.h"
#include "sim/step_response.h"

namespace torvix::analysis::testing {

struct ModelTest {
    sim::StepResponseParameters frequency{.dipPct = 8, .recoveryS = 4, .bandPct = 1};
    sim::StepResponseParameters voltage{.dipPct = 17, .recoveryS = 2.5, .bandPct = 2.5};
    double spacingS = 0.02;  // 50 records a second
    double loadKw = 120;
    std::vector<double> loadOnAtS{15};
    std::vector<double> loadOffAtS{35};
    double lengthS = 55;
    // `send start` and `send stop`: before the one and after the other the set stands still,
    // f, U and P at 0. Negative: the set runs from the first record to the last.
    double startAtS = -1;
    double stopAtS = -1;
    // Columns the analysis does not read, written as 0 between gen_f_hz and events.
    std::vector<QByteArray> otherKeys{"gen_i_a_a", "lamp_alarm"};
};

// CSV as torvix-cli writes it: the record at which an answered command shows is the first
// one after the set switched the load.
inline QByteArray modelCsv(const ModelTest& m) {
    const sim::StepResponse f(m.frequency);
    const sim::StepResponse u(m.voltage);
    QByteArray csv = "time,gen_u_a_v,gen_u_b_v,gen_u_c_v,gen_f_hz,active_power_kw,";
    QByteArray zeros;
    for (const QByteArray& key : m.otherKeys) {
        csv += key + ',';
        zeros += "0,";
    }
    csv += "events\n";
    const QDateTime start =
        QDateTime::fromString(QStringLiteral("2026-12-08T07:30:00.000+03:00"), Qt::ISODateWithMs);
    double previous = -1;
    const auto records = std::lround(m.lengthS / m.spacingS) + 1;
    for (long i = 0; i < records; ++i) {
        const double t = static_cast<double>(i) * m.spacingS;
        double fDev = 0;
        double uDev = 0;
        double lastOn = -1;
        double lastOff = -1;
        QByteArray events;
        const auto step = [&](double at, double sign, const char* word) {
            fDev += sign * f.deviationPct(t - at);
            uDev += sign * u.deviationPct(t - at);
            if (at > previous && at <= t) {
                if (!events.isEmpty()) events += record::kEventSeparator.toUtf8();
                const auto command = QStringLiteral("load %1").arg(QLatin1String(word));
                events += record::eventLine(
                              t, record::commandEvent(command, {record::CommandOutcome::Executed}))
                              .toUtf8();
            }
        };
        for (double at : m.loadOnAtS) {
            step(at, 1, "on");
            if (t >= at) lastOn = std::max(lastOn, at);
        }
        for (double at : m.loadOffAtS) {
            step(at, -1, "off");
            if (t >= at) lastOff = std::max(lastOff, at);
        }
        for (const auto& [at, word] : {std::pair{m.startAtS, "start"}, {m.stopAtS, "stop"}}) {
            if (at < 0 || at <= previous || at > t) continue;
            if (!events.isEmpty()) events += record::kEventSeparator.toUtf8();
            events += record::eventLine(t, record::commandEvent(QString::fromLatin1(word),
                                                                {record::CommandOutcome::Executed}))
                          .toUtf8();
        }
        const bool running = t >= m.startAtS && (m.stopAtS < 0 || t < m.stopAtS);
        const bool on = running && lastOn > lastOff;
        previous = t;
        const double volts = running ? std::round(2300 * (1 + uDev / 100)) / 10 : 0;
        const double hertz = running ? std::round(5000 * (1 + fDev / 100)) / 100 : 0;
        csv += start.addMSecs(std::llround(t * 1000)).toString(Qt::ISODateWithMs).toUtf8();
        for (int phase = 0; phase < 3; ++phase) csv += ',' + QByteArray::number(volts, 'f', 1);
        csv += ',' + QByteArray::number(hertz, 'f', 2) + ',' +
               QByteArray::number(on ? m.loadKw : 0.0, 'f', 1) + ',' + zeros + events + '\n';
    }
    return csv;
}

}  // namespace torvix::analysis::testing
