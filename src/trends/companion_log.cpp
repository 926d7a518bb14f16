#include "trends/companion_log.h"

#include "decode/status_snapshot.h"
#include "link/outcome_words.h"
#include "link/request_table.h"
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

    if (outcome.verdict == Verdict::Answered) {
        if (const auto snapshot = StatusSnapshot::fromReply(outcome.reply)) {
            SeriesStore::Values values{};
            for (std::size_t c = 0; c < kChannelCount; ++c)
                values[c] = static_cast<float>(snapshot->value(fieldOf(kChannels[c])));
            series_.add(seconds(time.wall), values);
            const auto row =
                recording_.isActive() ? record::statusRecord(outcome.reply) : std::nullopt;
            if (row) {
                if (const auto failure = recording_.write(time.wall, *row))
                    emit recordingFailed(*failure);
                emit recordingChanged();
            }
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
            name + QStringLiteral(": ") + outcome_words::exception(command->outcome.exceptionCode)};
    };
    const QByteArray request(reinterpret_cast<const char*>(command->request.data()),
                             static_cast<qsizetype>(command->request.size()));
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
            if (busyRequest_ != request) markers_.add(refusal());
            busyRequest_ = request;
            return;
        case record::CommandOutcome::NoAnswer:
            return;
    }
    busyRequest_.clear();
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
