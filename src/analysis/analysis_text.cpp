#include "analysis/analysis_text.h"

#include <algorithm>
#include <cmath>

namespace torvix::analysis {
namespace {

const QString kNone = QStringLiteral("—");

QString fixed(const std::optional<double>& v, int decimals) {
    return v ? QString::number(*v, 'f', decimals) : kNone;
}

// Rounded to what a record can carry, and the shortest text for it.
QByteArray jsonNumber(const std::optional<double>& v) {
    if (!v || !std::isfinite(*v)) return "null";
    const double rounded = std::round(*v * 1000) / 1000;
    return QByteArray::number(rounded == 0 ? 0.0 : rounded, 'g', 12);
}

QByteArray jsonString(std::string_view s) {
    return '"' + QByteArray(s.data(), static_cast<qsizetype>(s.size())) + '"';
}

}  // namespace

TextTable stepTable(const Analysis& a) {
    TextTable t;
    t.headings = {
        QStringLiteral("Шаг"),       QStringLiteral("t0, с"),        QStringLiteral("Вид"),
        QStringLiteral("P до, кВт"), QStringLiteral("P после, кВт"), QStringLiteral("δf, %"),
        QStringLiteral("t_f, с"),    QStringLiteral("δU, %"),        QStringLiteral("t_U, с"),
        QStringLiteral("β_f, %"),    QStringLiteral("ΔU_st, %"),     QStringLiteral("Класс")};
    int n = 0;
    for (const Step& s : a.steps) {
        const auto recovery = [](const Transient& tr) {
            return fixed(tr.recoveryS, 2) +
                   (tr.recoveryTooCoarse ? QStringLiteral("*") : QString());
        };
        t.rows.push_back({QString::number(++n), QString::number(s.timeS, 'f', 2),
                          s.increase ? QStringLiteral("наброс") : QStringLiteral("сброс"),
                          QString::number(s.powerBeforeKw, 'f', 1),
                          QString::number(s.powerAfterKw, 'f', 1),
                          fixed(s.frequency.deviationPct, 2), recovery(s.frequency),
                          fixed(s.voltage.deviationPct, 2), recovery(s.voltage),
                          fixed(s.steadyFrequencyBandPct, 2), fixed(s.steadyVoltageDeviationPct, 2),
                          QString::fromLatin1(className(s.performanceClass))});
    }
    return t;
}

TextTable limitsTable() {
    TextTable t;
    t.headings = {QStringLiteral("Класс"),       QStringLiteral("δf наброс, %"),
                  QStringLiteral("δf сброс, %"), QStringLiteral("α_f, %"),
                  QStringLiteral("t_f, с"),      QStringLiteral("δU наброс, %"),
                  QStringLiteral("δU сброс, %"), QStringLiteral("ΔU_st, %"),
                  QStringLiteral("t_U, с"),      QStringLiteral("β_f, %")};
    for (const ClassLimits& l : kClassLimits) {
        const auto n = [](double v) { return QString::number(v, 'g', 4); };
        const auto signedN = [&](double v) {
            return (v > 0 ? QStringLiteral("+") : QString()) + n(v);
        };
        t.rows.push_back({QString::fromLatin1(l.name), signedN(l.frequencyDeviationIncreasePct),
                          signedN(l.frequencyDeviationDecreasePct), n(l.frequencyBandPct),
                          n(l.frequencyRecoveryS), signedN(l.voltageDeviationIncreasePct),
                          signedN(l.voltageDeviationDecreasePct),
                          QStringLiteral("±") + n(l.steadyVoltageDeviationPct),
                          n(l.voltageRecoveryS), n(l.steadyFrequencyBandPct)});
    }
    return t;
}

QString ratedLine(const Analysis& a) {
    const QString source =
        a.source == StepSource::LoadCommands
            ? QStringLiteral("шаги — по выполненным командам send load")
            : QStringLiteral("шаги — по изменению активной мощности более чем на %1 кВт")
                  .arg(a.powerStepKw, 0, 'f', 1);
    const QString power =
        a.rated.powerKw ? QStringLiteral(", %1 кВт").arg(*a.rated.powerKw, 0, 'g', 6) : QString();
    return QStringLiteral("Номинальные значения: %1 Гц, %2 В (фаза)%3; %4")
        .arg(a.rated.frequencyHz, 0, 'g', 6)
        .arg(a.rated.voltageV, 0, 'g', 6)
        .arg(power, source);
}

QString overallLine(const Analysis& a) {
    return QStringLiteral("Класс испытания по ISO 8528-5: %1")
        .arg(QString::fromLatin1(className(a.overall)));
}

QString alignedText(const TextTable& table) {
    std::vector<qsizetype> widths(static_cast<std::size_t>(table.headings.size()), 0);
    const auto measure = [&](const QStringList& row) {
        for (qsizetype i = 0; i < row.size() && i < table.headings.size(); ++i)
            widths[static_cast<std::size_t>(i)] =
                std::max(widths[static_cast<std::size_t>(i)], row[i].size());
    };
    measure(table.headings);
    for (const QStringList& row : table.rows) measure(row);
    QString text;
    const auto line = [&](const QStringList& row) {
        QString out;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i) out += QStringLiteral("  ");
            out += i + 1 < row.size() ? row[i].leftJustified(widths[static_cast<std::size_t>(i)])
                                      : row[i];
        }
        text += out + u'\n';
    };
    line(table.headings);
    for (const QStringList& row : table.rows) line(row);
    return text;
}

QString tableReport(const Analysis& a) {
    QString text = ratedLine(a) + u'\n';
    text += alignedText(stepTable(a));
    text += overallLine(a) + u'\n';
    if (!a.steps.empty())
        text += QStringLiteral(
            "t_f и t_U — до полосы класса шага (G1, если ни один класс не "
            "выполнен): f_ss ± α_f/2, U_ss ± ΔU_st\n");
    bool coarse = false;
    for (const Step& s : a.steps)
        coarse = coarse || s.frequency.recoveryTooCoarse || s.voltage.recoveryTooCoarse;
    if (coarse) text += QStringLiteral("* короче двух интервалов записи: см. примечания\n");
    for (const QString& note : a.notes) text += QStringLiteral("Примечание: ") + note + u'\n';
    return text;
}

QByteArray jsonReport(const Analysis& a) {
    QByteArray json =
        "{\"rated\": {\"frequency_hz\": " + jsonNumber(a.rated.frequencyHz) +
        ", \"voltage_v\": " + jsonNumber(a.rated.voltageV) +
        ", \"power_kw\": " + jsonNumber(a.rated.powerKw) +
        ", \"power_step_kw\": " + jsonNumber(a.powerStepKw) + ", \"steps_from\": " +
        (a.source == StepSource::LoadCommands ? "\"load_commands\"" : "\"power_changes\"") +
        "}, \"steps\": [";
    bool first = true;
    for (const Step& s : a.steps) {
        if (!first) json += ", ";
        first = false;
        json += "{\"time_s\": " + jsonNumber(s.timeS) +
                ", \"kind\": " + (s.increase ? "\"increase\"" : "\"decrease\"") +
                ", \"power_before_kw\": " + jsonNumber(s.powerBeforeKw) +
                ", \"power_after_kw\": " + jsonNumber(s.powerAfterKw) +
                ", \"frequency_deviation_pct\": " + jsonNumber(s.frequency.deviationPct) +
                ", \"frequency_recovery_s\": " + jsonNumber(s.frequency.recoveryS) +
                ", \"voltage_deviation_pct\": " + jsonNumber(s.voltage.deviationPct) +
                ", \"voltage_recovery_s\": " + jsonNumber(s.voltage.recoveryS) +
                ", \"steady_frequency_band_pct\": " + jsonNumber(s.steadyFrequencyBandPct) +
                ", \"steady_voltage_deviation_pct\": " + jsonNumber(s.steadyVoltageDeviationPct) +
                ", \"class\": " + jsonString(className(s.performanceClass)) + "}";
    }
    json += "], \"class\": " + jsonString(className(a.overall)) + "}\n";
    return json;
}

}  // namespace torvix::analysis
