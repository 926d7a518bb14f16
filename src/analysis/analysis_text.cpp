#include "analysis/analysis_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace torvix::analysis {
namespace {

const QString kNone = QStringLiteral("—");
const QString kNotJudged = QStringLiteral("н/о");

QString contractWord(bool met) {
    return met ? QStringLiteral("выполнен") : QStringLiteral("не выполнен");
}

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

// A user's text, escaped as JSON wants it.
QByteArray jsonText(const QString& text) {
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

const char* passWord(bool met) {
    return met ? "\"pass\"" : "\"fail\"";
}

// The limits a window or a steady state too short left unjudged, by their JSON keys.
QByteArray notJudged(const Step& s) {
    QByteArrayList keys;
    if (s.frequency.recoveryNotJudged) keys << "\"frequency_recovery_s\"";
    if (s.voltage.recoveryNotJudged) keys << "\"voltage_recovery_s\"";
    if (s.steadyNotJudged)
        keys << "\"steady_frequency_band_pct\""
             << "\"steady_voltage_deviation_pct\"";
    return keys.join(", ");
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
            if (tr.recoveryNotJudged) return kNotJudged;
            return fixed(tr.recoveryS, 2) +
                   (tr.recoveryTooCoarse ? QStringLiteral("*") : QString());
        };
        const auto steady = [&](const std::optional<double>& v) {
            return s.steadyNotJudged ? kNotJudged : fixed(v, 2);
        };
        t.rows.push_back({QString::number(++n), QString::number(s.timeS, 'f', 2),
                          s.increase ? QStringLiteral("наброс") : QStringLiteral("сброс"),
                          QString::number(s.powerBeforeKw, 'f', 1),
                          QString::number(s.powerAfterKw, 'f', 1),
                          fixed(s.frequency.deviationPct, 2), recovery(s.frequency),
                          fixed(s.voltage.deviationPct, 2), recovery(s.voltage),
                          steady(s.steadyFrequencyBandPct), steady(s.steadyVoltageDeviationPct),
                          QString::fromLatin1(className(s.performanceClass))});
        if (a.contract) t.rows.back() << contractWord(s.meetsContract.value_or(false));
    }
    if (a.contract) t.headings << QStringLiteral("Договор");
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

QString notJudgedLine(const Analysis& a) {
    for (const Step& s : a.steps)
        if (s.steadyNotJudged || s.frequency.recoveryNotJudged || s.voltage.recoveryNotJudged)
            return QStringLiteral(
                "н/о — предел не оценён (см. примечания), класс шага — по остальным пределам");
    return {};
}

TextTable contractTable(const ContractLimits& c) {
    TextTable t;
    t.headings = {QStringLiteral("Вид"),     QStringLiteral("|δf|, %"), QStringLiteral("t_f, с"),
                  QStringLiteral("|δU|, %"), QStringLiteral("t_U, с"),  QStringLiteral("β_f, %"),
                  QStringLiteral("ΔU_st, %")};
    const auto n = [](const std::optional<double>& v) {
        return v ? QString::number(*v, 'g', 4) : kNone;
    };
    for (const auto& [kind, l] : {std::pair{QStringLiteral("наброс"), &c.increase},
                                  std::pair{QStringLiteral("сброс"), &c.decrease}})
        t.rows.push_back({kind, n(l->frequencyDeviationPct), n(l->frequencyRecoveryS),
                          n(l->voltageDeviationPct), n(l->voltageRecoveryS),
                          n(c.steadyFrequencyBandPct), n(c.steadyVoltageDeviationPct)});
    return t;
}

QString contractLine(const Analysis& a) {
    if (!a.contract) return {};
    return QStringLiteral("Пределы договора «%1»: %2")
        .arg(a.contract->name, contractWord(a.meetsContract.value_or(false)));
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
    if (const QString line = notJudgedLine(a); !line.isEmpty()) text += line + u'\n';
    if (a.contract) {
        text += contractLine(a) + u'\n';
        text += alignedText(contractTable(*a.contract));
    }
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
                ", \"not_judged\": [" + notJudged(s) + ']' +
                ", \"class\": " + jsonString(className(s.performanceClass));
        if (s.meetsContract) json += QByteArray(", \"contract\": ") + passWord(*s.meetsContract);
        json += '}';
    }
    json += "], \"class\": " + jsonString(className(a.overall));
    if (a.contract)
        json += ", \"contract\": {\"name\": " + jsonText(a.contract->name) +
                ", \"result\": " + passWord(a.meetsContract.value_or(false)) + '}';
    json += "}\n";
    return json;
}

}  // namespace torvix::analysis
