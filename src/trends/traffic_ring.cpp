#include "trends/traffic_ring.h"

#include "link/frame_trace.h"

namespace torvix::trends {

TrafficRing::TrafficRing(std::size_t capacity) : slots_(capacity) {}

void TrafficRing::add(double ms, const TickOutcome& outcome) {
    if (!outcome.answered.empty())
        push(ms, false, outcome.reply, outcome.verdict, outcome.exceptionCode);
    if (outcome.written) push(ms, true, outcome.sent, Verdict::Answered, 0);
}

void TrafficRing::push(double ms, bool sent, std::span<const std::uint8_t> bytes, Verdict verdict,
                       int exceptionCode) {
    if (slots_.empty()) return;
    Frame& frame = slots_[(head_ + count_) % slots_.size()];
    frame.ms = ms;
    frame.sent = sent;
    frame.verdict = verdict;
    frame.exceptionCode = exceptionCode;
    frame.bytes.assign(bytes.begin(), bytes.end());  // reuses the slot's storage
    if (count_ < slots_.size())
        ++count_;
    else
        head_ = (head_ + 1) % slots_.size();
    ++added_;
}

const TrafficRing::Frame& TrafficRing::at(std::size_t i) const {
    return slots_[(head_ + i) % slots_.size()];
}

QString TrafficRing::line(std::size_t i) const {
    const Frame& frame = at(i);
    QString text = frame.sent ? traceSent(frame.ms, frame.bytes)
                              : traceReceived(frame.ms, frame.bytes, frame.verdict,
                                              frame.exceptionCode, std::nullopt);
    text.chop(1);
    return text;
}

bool TrafficRing::isError(std::size_t i) const {
    const Frame& frame = at(i);
    return !frame.sent && frame.verdict != Verdict::Answered;
}

}  // namespace torvix::trends
