#include "trends/companion_log.h"

#include "decode/status_snapshot.h"
#include "link/operator_requests.h"
#include "link/protocol.h"
#include "trends/command_outcome.h"

namespace torvix::trends {
namespace {

double seconds(const QDateTime& time) {
    return static_cast<double>(time.toMSecsSinceEpoch()) / 1000.0;
}

}  // namespace

CompanionLog::CompanionLog(Clock clock, SeriesStore::Limits limits, std::size_t trafficFrames)
    : clock_(std::move(clock)), series_(limits), traffic_(trafficFrames) {
    started_.start();
}

CompanionLog::Now CompanionLog::now() const {
    if (clock_) return clock_();
    return {QDateTime::currentDateTime(), static_cast<double>(started_.nsecsElapsed()) / 1e6};
}

void CompanionLog::take(const TickOutcome& outcome) {
    const Now time = now();
    if (!trafficPaused_) traffic_.add(time.monotonicMs, outcome);

    if (outcome.verdict == Verdict::Answered) {
        if (const auto snapshot = StatusSnapshot::fromReply(outcome.reply)) {
            SeriesStore::Values values{};
            for (std::size_t c = 0; c < kChannelCount; ++c)
                values[c] = static_cast<float>(snapshot->value(fieldOf(kChannels[c])));
            series_.add(seconds(time.wall), values);
            emit sampleAdded();
        }
    }

    const auto command = commandOutcome(outcome);
    if (!command || command->kind == CommandOutcome::Kind::Busy) return;
    const QString name = commands::requestName(command->request);
    if (command->kind == CommandOutcome::Kind::Answered)
        markers_.add({seconds(time.wall), Marker::Kind::Answered, name});
    else
        markers_.add({seconds(time.wall), Marker::Kind::Refused,
                      QStringLiteral("%1: исключение %2 (%3)")
                          .arg(name)
                          .arg(command->exceptionCode)
                          .arg(protocol::exceptionMeaning(command->exceptionCode))});
    emit markerAdded();
}

void CompanionLog::mark(const QString& text) {
    markers_.add({seconds(now().wall), Marker::Kind::Mark, text});
    emit markerAdded();
}

}  // namespace torvix::trends
