#include "conformance/suite.h"

#include <QJsonArray>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "link/frame_trace.h"

namespace torvix::conformance {
namespace {

double rounded(double ms) {
    return std::round(ms * 1000) / 1000;
}

}  // namespace

std::optional<ResponseStats> responseStats(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double p) {
        const auto n = std::size_t(std::ceil(p * double(values.size())));
        return values[std::clamp<std::size_t>(n, 1, values.size()) - 1];
    };
    return ResponseStats{values.front(), rank(0.5), rank(0.99), values.back()};
}

int SuiteReport::count(Result result) const {
    return int(std::count_if(checks.begin(), checks.end(),
                             [result](const CheckReport& c) { return c.result == result; }));
}

QJsonObject SuiteReport::toJson() const {
    QJsonArray list;
    for (const CheckReport& check : checks) {
        QJsonArray frames;
        for (const FrameRecord& f : check.frames)
            frames.append(QJsonObject{{"t_ms", rounded(f.tMs)},
                                      {"dir", f.tx ? QStringLiteral("tx") : QStringLiteral("rx")},
                                      {"hex", hexBytes(f.bytes)}});
        list.append(QJsonObject{{"id", QString::fromLatin1(check.info->id)},
                                {"result", resultName(check.result)},
                                {"expected", QString::fromUtf8(check.info->expected)},
                                {"observed", check.observed},
                                {"frames", frames}});
    }
    const auto stat = [this](double ResponseStats::*field) -> QJsonValue {
        if (!responseTime) return QJsonValue::Null;
        return rounded((*responseTime).*field);
    };
    return QJsonObject{
        {"address", address},
        {"settings", settings},
        {"checks", list},
        {"response_time_ms", QJsonObject{{"min", stat(&ResponseStats::min)},
                                         {"median", stat(&ResponseStats::median)},
                                         {"p99", stat(&ResponseStats::p99)},
                                         {"max", stat(&ResponseStats::max)}}},
        {"summary", QJsonObject{{"pass", count(Result::Pass)},
                                {"fail", count(Result::Fail)},
                                {"warn", count(Result::Warn)},
                                {"skip", count(Result::Skip)}}},
    };
}

QString SuiteReport::toText() const {
    int idWidth = 2, expectedWidth = 8;
    for (const CheckReport& c : checks) {
        idWidth = std::max(idWidth, int(qstrlen(c.info->id)));
        expectedWidth = std::max(expectedWidth, int(QString::fromUtf8(c.info->expected).size()));
    }
    const auto row = [&](const QString& id, const QString& result, const QString& expected,
                         const QString& observed) {
        return id.leftJustified(idWidth + 2) + result.leftJustified(8) +
               expected.leftJustified(expectedWidth + 2) + observed + u'\n';
    };
    QString text = row(QStringLiteral("id"), QStringLiteral("result"), QStringLiteral("expected"),
                       QStringLiteral("observed"));
    for (const CheckReport& c : checks)
        text += row(QString::fromLatin1(c.info->id), resultName(c.result),
                    QString::fromUtf8(c.info->expected), c.observed);
    text += QStringLiteral("\naddress %1, %2: %3 pass, %4 fail, %5 warn, %6 skip\n")
                .arg(address)
                .arg(settings)
                .arg(count(Result::Pass))
                .arg(count(Result::Fail))
                .arg(count(Result::Warn))
                .arg(count(Result::Skip));
    if (responseTime)
        text += QStringLiteral(
                    "turnaround (reply start - request end, wire times off), ms: min %1, median "
                    "%2, p99 %3, max %4\n")
                    .arg(responseTime->min, 0, 'f', 1)
                    .arg(responseTime->median, 0, 'f', 1)
                    .arg(responseTime->p99, 0, 'f', 1)
                    .arg(responseTime->max, 0, 'f', 1);
    return text;
}

Suite::Suite(Runner& runner, std::uint8_t address, const SuiteOptions& options)
    : runner_(runner), options_(options) {
    context_.address = address;
    context_.settings = runner.settings();
    context_.seed = options.seed;
    if (options.fuzzSeconds) context_.fuzzMs = *options.fuzzSeconds * 1000;
    context_.fuzzPolicy = options.allFunctions ? Policy::AllFunctions : Policy::Probe;
    context_.nowMs = [this] { return runner_.nowMs(); };
    report_.address = address;
    report_.settings = runner.settings().toText();
}

bool Suite::selected(const CheckInfo& info) const {
    const QString id = QString::fromLatin1(info.id);
    return (options_.only.isEmpty() || options_.only.contains(id)) && !options_.skip.contains(id);
}

SuiteReport Suite::interrupted() const {
    SuiteReport report = report_;
    report.outcome = SuiteReport::Outcome::Interrupted;
    for (std::size_t i = report.checks.size(); i < kChecks.size(); ++i)
        report.checks.push_back({&kChecks[i], Result::Skip, QStringLiteral("прервано"), {}, 0});
    report.responseTime = responseStats(report.turnaroundsMs);
    return report;
}

void Suite::start(std::function<void(const SuiteReport&)> done) {
    done_ = std::move(done);
    runner_.run(statusProbe(context_.address),
                [this](const Exchange& exchange) { firstReadDone(exchange); });
}

void Suite::firstReadDone(const Exchange& exchange) {
    if (exchange.silent()) {
        report_.outcome = SuiteReport::Outcome::NoAnswer;
        done_(report_);
        return;
    }
    if (statusAnswered(exchange, context_.address))
        context_.block = protocol::StatusRegisters::fromReply(exchange.reply);
    const bool fuzzing = options_.fuzzSeconds && selected(kChecks.back());
    // A set whose state we cannot read counts as running.
    if (fuzzing && !options_.whileRunning && (!context_.block || setRunning(*context_.block))) {
        report_.outcome = SuiteReport::Outcome::SetRunning;
        done_(report_);
        return;
    }
    checkIndex_ = 0;
    nextCheck();
}

void Suite::nextCheck() {
    while (checkIndex_ < kChecks.size()) {
        const CheckInfo& info = kChecks[checkIndex_];
        if (selected(info) && (&info != &kChecks.back() || context_.fuzzMs)) break;
        report_.checks.push_back(
            {&info,
             Result::Skip,
             selected(info) ? QStringLiteral("только с --fuzz") : QStringLiteral("не выбрана"),
             {},
             0});
        ++checkIndex_;
    }
    if (checkIndex_ >= kChecks.size()) {
        report_.responseTime = responseStats(report_.turnaroundsMs);
        done_(report_);
        return;
    }
    const CheckInfo& info = kChecks[checkIndex_];
    if (onCheckStarted) onCheckStarted(info);
    script_ = info.make(context_);
    exchanges_.clear();
    logStart_ = runner_.log().size();
    checkStartMs_ = runner_.nowMs();
    nextProbe();
}

void Suite::nextProbe() {
    const auto probe = script_->next(exchanges_);
    if (!probe) {
        checkDone();
        return;
    }
    runner_.run(*probe, [this](const Exchange& exchange) {
        exchanges_.push_back(exchange);
        nextProbe();
    });
}

void Suite::checkDone() {
    const CheckInfo& info = kChecks[checkIndex_];
    Verdict verdict = script_->judge(exchanges_);
    CheckReport check;
    check.info = &info;
    check.result = verdict.result;
    check.observed = verdict.observed;
    check.frames.assign(runner_.log().begin() + std::ptrdiff_t(logStart_), runner_.log().end());
    check.seconds = (runner_.nowMs() - checkStartMs_) / 1000;
    report_.checks.push_back(std::move(check));
    report_.turnaroundsMs.insert(report_.turnaroundsMs.end(), verdict.turnaroundsMs.begin(),
                                 verdict.turnaroundsMs.end());
    if (verdict.controllerLost) report_.outcome = SuiteReport::Outcome::ControllerLost;
    ++checkIndex_;
    nextCheck();
}

}  // namespace torvix::conformance
