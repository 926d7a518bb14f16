#pragma once
// What turns an analysis into an acceptance protocol: who and what was tested, and the
// customer's contract limits that each step is judged by beside its ISO 8528-5 class.

#include <QByteArray>
#include <QString>
#include <optional>
#include <variant>

namespace torvix::analysis {

struct Analysis;

// Free texts typed by the user; the page escapes them.
struct Identification {
    QString title;  // of the protocol; a standard one when empty
    QString set;    // type and serial number
    QString customer;
    QString site;
    QString engineer;
    QString note;
};

// Every limit is optional: a contract names those it cares about. Deviations are magnitudes.
struct ContractLimits {
    struct OnStep {
        std::optional<double> frequencyDeviationPct;
        std::optional<double> frequencyRecoveryS;
        std::optional<double> voltageDeviationPct;
        std::optional<double> voltageRecoveryS;
    };
    QString name;
    OnStep increase;
    OnStep decrease;
    std::optional<double> steadyFrequencyBandPct;
    std::optional<double> steadyVoltageDeviationPct;
};

// The JSON of --limits; an error names the key that is wrong ("increase.voltage_recovery_s: не
// число") or says the text is no JSON object.
std::variant<ContractLimits, QString> parseContractLimits(const QByteArray& json);
std::variant<ContractLimits, QString> readContractLimitsFile(const QString& path);

// Each step against the limits of its kind (a limit the contract leaves out holds), and the
// test: met when every step meets them.
void judgeContract(Analysis& analysis, const ContractLimits& limits);

}  // namespace torvix::analysis
