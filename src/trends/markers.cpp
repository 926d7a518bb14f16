#include "trends/markers.h"

#include <utility>

#include "protocol/protocol.h"
#include "protocol/request_table.h"
#include "record/event_text.h"

namespace torvix::trends {

void Markers::add(Marker marker) {
    markers_.push_back(std::move(marker));
    if (markers_.size() > kCapacity) markers_.pop_front();
    ++added_;
}

namespace {

// The Russian name of the command `send` names with these words; the words when none does.
QString commandName(QStringView words) {
    for (int k = 0; k < requests::kKindCount; ++k) {
        const auto kind = static_cast<requests::Kind>(k);
        const int highest = requests::entry(kind).takesArgument ? requests::kHighestNumber : 0;
        for (int argument = 0; argument <= highest; ++argument) {
            const requests::Request request{kind, argument};
            if (requests::words(request) == words) return requests::name(request);
        }
    }
    return words.toString();
}

QString busyText() {
    return protocol::exceptionText(protocol::exception_code::kSlaveDeviceBusy);
}

}  // namespace

std::optional<Marker> markerOfEvent(double time, QStringView event) {
    if (auto mark = record::markOf(event)) return Marker{time, Marker::Kind::Mark, *mark};
    const QStringView what = record::eventWhat(event);
    if (!what.startsWith(u"send ")) return std::nullopt;
    const qsizetype colon = what.indexOf(u": ");
    if (colon < 0) return std::nullopt;
    const QString name = commandName(what.mid(5, colon - 5));
    const QStringView outcome = what.mid(colon + 2);
    if (outcome == record::outcomeWords({record::CommandOutcome::Executed}))
        return Marker{time, Marker::Kind::Answered, name};
    // outcomeWords' refusal: "отказ: " and the exception's text, which the live marker shows.
    const QStringView refused = u"отказ: ";
    if (outcome.startsWith(refused))
        return Marker{time, Marker::Kind::Refused,
                      name + QStringLiteral(": ") + outcome.mid(refused.size()).toString()};
    // As live: the refusal the controller's "busy" is.
    if (outcome == record::outcomeWords({record::CommandOutcome::Busy}))
        return Marker{time, Marker::Kind::Refused, name + QStringLiteral(": ") + busyText()};
    return std::nullopt;
}

std::vector<Marker> markersOfEvents(const std::vector<std::pair<double, QString>>& events) {
    std::vector<Marker> markers;
    QString busy;  // the refusal shown for the command being repeated
    for (const auto& [time, text] : events) {
        auto marker = markerOfEvent(time, text);
        if (!marker) continue;
        const bool repeated = marker->kind == Marker::Kind::Refused && marker->text == busy;
        busy = marker->text.endsWith(busyText()) ? marker->text : QString();
        if (!repeated) markers.push_back(std::move(*marker));
    }
    return markers;
}

}  // namespace torvix::trends
