#include "analysis/acceptance.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cmath>
#include <utility>

#include "analysis/transient_analysis.h"

namespace torvix::analysis {
namespace {

using Limit = std::optional<double> ContractLimits::OnStep::*;

constexpr std::pair<const char*, Limit> kOnStepKeys[] = {
    {"frequency_deviation_pct", &ContractLimits::OnStep::frequencyDeviationPct},
    {"frequency_recovery_s", &ContractLimits::OnStep::frequencyRecoveryS},
    {"voltage_deviation_pct", &ContractLimits::OnStep::voltageDeviationPct},
    {"voltage_recovery_s", &ContractLimits::OnStep::voltageRecoveryS},
};

// A limit is a non-negative number; an error names the key with its path.
std::optional<QString> readLimit(const QJsonObject& o, const QString& key, const QString& path,
                                 std::optional<double>& limit) {
    const QJsonValue value = o.value(key);
    if (value.isUndefined()) return std::nullopt;
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return QStringLiteral("%1: не число").arg(path);
    if (value.toDouble() < 0)
        return QStringLiteral("%1: отрицательное число (пределы — модули, в % или с)").arg(path);
    limit = value.toDouble();
    return std::nullopt;
}

std::optional<QString> readOnStep(const QJsonObject& top, const QString& kind,
                                  ContractLimits::OnStep& limits) {
    const QJsonValue value = top.value(kind);
    if (value.isUndefined()) return std::nullopt;
    if (!value.isObject()) return QStringLiteral("%1: не объект JSON").arg(kind);
    const QJsonObject o = value.toObject();
    for (const QString& key : o.keys()) {
        bool known = false;
        for (const auto& [name, member] : kOnStepKeys) {
            if (key != QLatin1String(name)) continue;
            known = true;
            if (auto error = readLimit(o, key, kind + u'.' + key, limits.*member)) return error;
        }
        if (!known) return QStringLiteral("%1.%2: неизвестный ключ").arg(kind, key);
    }
    return std::nullopt;
}

}  // namespace

std::variant<ContractLimits, QString> parseContractLimits(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("не JSON: %1 (позиция %2)")
            .arg(error.errorString())
            .arg(error.offset);
    if (!document.isObject()) return QStringLiteral("не объект JSON");
    const QJsonObject o = document.object();
    ContractLimits limits;
    const QJsonValue name = o.value(QLatin1String("name"));
    if (name.isUndefined()) return QStringLiteral("name: нет ключа (название договора)");
    if (!name.isString() || name.toString().trimmed().isEmpty())
        return QStringLiteral("name: не непустая строка");
    limits.name = name.toString().trimmed();
    for (const QString& key : o.keys()) {
        std::optional<QString> failed;
        if (key == u"name") {
            continue;
        } else if (key == u"increase") {
            failed = readOnStep(o, key, limits.increase);
        } else if (key == u"decrease") {
            failed = readOnStep(o, key, limits.decrease);
        } else if (key == u"steady_frequency_band_pct") {
            failed = readLimit(o, key, key, limits.steadyFrequencyBandPct);
        } else if (key == u"steady_voltage_deviation_pct") {
            failed = readLimit(o, key, key, limits.steadyVoltageDeviationPct);
        } else {
            failed = QStringLiteral("%1: неизвестный ключ").arg(key);
        }
        if (failed) return *failed;
    }
    return limits;
}

std::variant<ContractLimits, QString> readContractLimitsFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    auto result = parseContractLimits(file.readAll());
    if (auto* error = std::get_if<QString>(&result)) *error = path + QStringLiteral(": ") + *error;
    return result;
}

bool meetsContract(const Step& s, const ContractLimits& c) {
    const ContractLimits::OnStep& l = s.increase ? c.increase : c.decrease;
    const double seenS = s.windowS - kSteadyAtEndS;
    const auto deviation = [](const std::optional<double>& v, const std::optional<double>& limit) {
        return !limit || (v && std::fabs(*v) <= *limit);
    };
    // As with the class: a recovery the window was too short to see cannot miss the limit.
    const auto recovery = [&](const std::optional<double>& v, const std::optional<double>& limit) {
        return !limit || (v ? *v <= *limit : seenS < *limit);
    };
    const auto steady = [&](const std::optional<double>& v, const std::optional<double>& limit) {
        return !limit || s.steadyNotJudged || (v && *v <= *limit);
    };
    return deviation(s.frequency.deviationPct, l.frequencyDeviationPct) &&
           recovery(s.frequency.recoveryS, l.frequencyRecoveryS) &&
           deviation(s.voltage.deviationPct, l.voltageDeviationPct) &&
           recovery(s.voltage.recoveryS, l.voltageRecoveryS) &&
           steady(s.steadyFrequencyBandPct, c.steadyFrequencyBandPct) &&
           steady(s.steadyVoltageDeviationPct, c.steadyVoltageDeviationPct);
}

void judgeContract(Analysis& a, const ContractLimits& c) {
    a.contract = c;
    a.meetsContract = !a.steps.empty();
    for (Step& s : a.steps) {
        s.meetsContract = meetsContract(s, c);
        a.meetsContract = *a.meetsContract && *s.meetsContract;
    }
}

}  // namespace torvix::analysis
