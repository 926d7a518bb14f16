#include "trends/companion_log.h"

#include "decode/status_snapshot.h"
#include "protocol/request_table.h"
#include "record/command_outcome.h"
#include "record/event_text.h"
#include "record/status_record.h"

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

CompanionLog::Now CompanionLog::now() {
    if (clock_) return clock_();
    return {recordClock_.now(), static_cast<double>(started_.nsecsElapsed()) / 1e6};
}

void CompanionLog::take(const TickOutcome& outcome) {
    const Now time = now();
    if (!trafficPaused_) traffic_.add(time.monotonicMs, outcome);

    if (outcome.status) {
        const StatusSnapshot snapshot(*outcome.status);
        SeriesStore::Values values{};
        for (std::size_t c = 0; c < kChannelCount; ++c)
            values[c] = static_cast<float>(snapshot.value(kChannels[c].field));
        series_.add(seconds(time.wall), values);
        if (recording_.isActive()) {
            if (const auto failure = recording_.write(time.wall, record::statusRecord(snapshot)))
                emit recordingFailed(*failure);
            emit recordingChanged();
        }
    }

    const auto command = record::commandOf(outcome);
    if (!command) return;
    recording_.addEvent(time.wall,
                        record::commandEvent(requests::words(command->request), command->outcome));
    const QString name = requests::name(command->request);
    const auto refusal = [&] {
        return Marker{
            seconds(time.wall), Marker::Kind::Refused,
            name + QStringLiteral(": ") + protocol::exceptionText(command->outcome.exceptionCode)};
    };
    switch (command->outcome.kind) {
        case record::CommandOutcome::Executed:
            markers_.add({seconds(time.wall), Marker::Kind::Answered, name});
            break;
        case record::CommandOutcome::Refused:
            markers_.add(refusal());
            break;
        case record::CommandOutcome::Busy:
            // The command goes out again until the controller takes it: the first refusal
            // shows the operator why nothing happens yet, the repeats would only pile up.
            if (busyRequest_ != command->request) markers_.add(refusal());
            busyRequest_ = command->request;
            return;
        case record::CommandOutcome::NoAnswer:
            return;
    }
    busyRequest_.reset();
}

void CompanionLog::mark(const QString& text) {
    const QDateTime wall = now().wall;
    markers_.add({seconds(wall), Marker::Kind::Mark, text});
    recording_.addEvent(wall, record::markEvent(text));
}

std::optional<QString> CompanionLog::startRecording(const QString& folder) {
    auto failure = recording_.start(folder, now().wall);
    emit recordingChanged();
    return failure;
}

void CompanionLog::stopRecording() {
    recording_.stop();
    emit recordingChanged();
}

}  // namespace torvix::trends
