#include "conformance/runner.h"

#include <algorithm>

#include "protocol/protocol.h"

namespace torvix::conformance {
namespace {

// A line that keeps chattering is written to after this long anyway, so a run always ends.
constexpr double kSettleLimitMs = 1000;

}  // namespace

Runner::Runner(SerialPort& port, Clock& clock, const LineSettings& settings, double replyTimeoutMs,
               Policy policy)
    : port_(port),
      clock_(clock),
      settings_(settings),
      replyTimeoutMs_(replyTimeoutMs),
      policy_(policy),
      startNs_(clock.nowNs()) {
    ticker_ = clock_.timer([this] { step(); }, /*repeating=*/true, /*precise=*/true);
}

bool Runner::complete(const Bytes& request, const Bytes& reply) {
    if (reply.size() >= std::size_t(protocol::kExceptionReplyBytes) &&
        (reply[1] & protocol::kExceptionFlag) != 0)
        return true;
    if (const auto normal = protocol::normalReplyBytes(request))
        return reply.size() >= std::size_t(*normal);
    return reply.size() >= 4 && protocol::hasValidCrc(reply);
}

void Runner::run(const Probe& probe, std::function<void(const Exchange&)> done) {
    probe_ = probe;
    done_ = std::move(done);
    current_ = Exchange{};
    current_.probe = probe;
    nextPart_ = 0;
    const double now = nowMs();
    stage_ = Stage::Settling;
    settleLimitMs_ = now + kSettleLimitMs;
    dueMs_ = std::max(now, quietSinceMs_) + settings_.interFrameMicroseconds() / 1000;
    if (!ticker_->isActive()) ticker_->start(1);
    step();
}

void Runner::collect() {
    const int waiting = port_.inBufferCount();
    if (waiting <= 0) return;
    Bytes burst;
    burst.reserve(std::size_t(waiting));
    while (port_.inBufferCount() > 0 && burst.size() < 65536) burst.push_back(port_.input());
    const double now = nowMs();
    quietSinceMs_ = now;
    log_.push_back({now, false, burst});
    if (stage_ == Stage::Listening || stage_ == Stage::BetweenParts) {
        if (!current_.firstByteMs) current_.firstByteMs = now;
        current_.lastByteMs = now;
        current_.reply.insert(current_.reply.end(), burst.begin(), burst.end());
    }
    // Bytes outside a window are a reply after its time-out: in the log, and waited out before
    // the next request, but no answer.
}

void Runner::step() {
    collect();
    const double now = nowMs();
    switch (stage_) {
        case Stage::Idle:
            ticker_->stop();
            return;
        case Stage::Settling:
            if (now < dueMs_) return;
            // Bytes in the silent interval: wait for the line to go quiet again.
            if (now < quietSinceMs_ + settings_.interFrameMicroseconds() / 1000 &&
                now < settleLimitMs_)
                return;
            writePart();
            return;
        case Stage::BetweenParts:
            if (now >= dueMs_) writePart();
            return;
        case Stage::Listening: {
            const Bytes& request = probe_.parts.empty() ? Bytes{} : probe_.parts.front();
            if (!probe_.wholeWindow && complete(request, current_.reply)) {
                finish();
                return;
            }
            if (now >= dueMs_) finish();
            return;
        }
    }
}

void Runner::writePart() {
    const Bytes& part = probe_.parts[nextPart_];
    if (const auto why = refusal(part, policy_)) {
        current_.refused = *why;
        finish();
        return;
    }
    const double writtenMs = nowMs();
    port_.output(part);
    log_.push_back({writtenMs, true, part});
    current_.requestEndMs = writtenMs + wireMs(part.size());
    ++nextPart_;
    if (nextPart_ < probe_.parts.size()) {
        stage_ = Stage::BetweenParts;
        dueMs_ = current_.requestEndMs + probe_.partGapMs;
        return;
    }
    stage_ = Stage::Listening;
    dueMs_ = current_.requestEndMs + wireMs(std::size_t(probe_.replyBytes)) + replyTimeoutMs_;
}

void Runner::finish() {
    stage_ = Stage::Idle;
    ticker_->stop();
    auto done = std::move(done_);
    done_ = nullptr;
    done(current_);
}

}  // namespace torvix::conformance
