#include "cli/poll_session.h"

#include <cmath>

#include "link/port_resolver.h"
#include "protocol/defaults.h"
#include "protocol/request_table.h"

namespace torvix::cli {
namespace {

// The controller expects the counter at least every 200 ms. It is due early enough that a
// status read that has just begun cannot push it past: by that read's time on the wire and a
// margin for the controller's turnaround.
constexpr double kCounterWriteEveryMs = 200;
constexpr double kTurnaroundMarginMs = 10;
constexpr double kReplyTimeoutMarginMs = 50;
const std::size_t kStatusExchangeBytes =
    requests::statusReadPdu().size() + 3 +
    std::size_t(requests::entry(requests::Kind::StatusRead).replyBytes);

double lineNsPerByte(const LineChoice& line) {
    // A pseudo-terminal hands the bytes over at once, whatever speed it is told; a device
    // server's own line speed is not ours to know.
    if (isTcpAddressText(line.device) ||
        PortResolver::canonicalExistingPath(line.device).startsWith(u"/dev/pts/"))
        return 0;
    return line.settings.bitsPerCharacter() * 1e9 / line.settings.baudRate;
}

}  // namespace

PollSession::PollSession(const LineChoice& line, int address, SerialPort& port, Clock& clock)
    : line_(line),
      clock_(clock),
      startNs_(clock.nowNs()),
      port_(port),
      timing_(port_, clock_, lineNsPerByte(line)),
      address_(address),
      modbus_(timing_, address_) {
    timer_ = clock_.timer([this] { tick(); }, /*repeating=*/true, /*precise=*/true);
    replyTimer_ = clock_.timer([this] { replyDone(); }, false, true);
    silenceTimer_ = clock_.timer(
        [this] {
            const double silenceNs = line_.settings.interFrameMicroseconds() * 1000;
            clock_.busyWaitUntil(replyDoneNs_ + qint64(std::ceil(silenceNs)));
            tick();
        },
        false, true);
    counterWriteDueMs_ = kCounterWriteEveryMs - kTurnaroundMarginMs -
                         (line_.settings.wireMicroseconds(kStatusExchangeBytes) +
                          line_.settings.interFrameMicroseconds()) /
                             1000;
    // Without a notice of arriving bytes (a Windows COM port, as yet) --fast looks for the
    // reply every millisecond, and reply times are not measured.
    arrivalPoll_ = clock_.timer([this] { onBytesArrived(); }, true, true);
}

std::optional<Failure> PollSession::open() {
    return openLine(timing_, line_);
}

void PollSession::bytesArrived() {
    timing_.noteArrival();
    onBytesArrived();
}

void PollSession::setFast(std::optional<double> replyTimeoutMs) {
    fast_ = true;
    replyTimeoutMs_ = replyTimeoutMs;
}

void PollSession::start(TickHandler onTick) {
    onTick_ = std::move(onTick);
    if (!fast_) timer_->start(defaults::kPollIntervalMs);
    counterWriteNs_ = clock_.nowNs();
    tick();
}

void PollSession::stop() {
    timer_->stop();
    replyTimer_->stop();
    silenceTimer_->stop();
    arrivalPoll_->stop();
    awaitingReply_ = false;
    (void)port_.setPortOpen(false);
}

void PollSession::tick() {
    const std::optional<double> replyMs = timing_.replyMs();
    if (fast_)
        modbus_.setCounterWriteDue(double((clock_.nowNs() - counterWriteNs_) / 1000000) >=
                                   counterWriteDueMs_);
    const TickOutcome outcome = modbus_.pollTick();
    if (fast_) {
        if (modbus_.transactionCounter() != counterSent_) {
            counterSent_ = modbus_.transactionCounter();
            counterWriteNs_ = clock_.nowNs();
        }
        const double replyWireMs =
            line_.settings.wireMicroseconds(modbus_.expectedReplyBytes()) / 1000;
        awaitingReply_ = true;
#if defined(Q_OS_WIN) || defined(_WIN32)
        arrivalPoll_->start(1);
#endif
        replyTimer_->start(
            int(std::ceil(replyTimeoutMs_.value_or(replyWireMs + kReplyTimeoutMarginMs))));
    }
    // The handler may stop the session; nothing of it is touched after.
    if (onTick_) onTick_(outcome, outcome.verdict == Verdict::Answered ? replyMs : std::nullopt);
}

void PollSession::onBytesArrived() {
    if (fast_ && awaitingReply_ && modbus_.takeArrived()) replyDone();
}

void PollSession::replyDone() {
    if (!awaitingReply_) return;
    awaitingReply_ = false;
    arrivalPoll_->stop();
    replyDoneNs_ = clock_.nowNs();
    replyTimer_->stop();
    // The timer counts whole milliseconds; the rest of the silence is waited out in its handler.
    silenceTimer_->start(int(line_.settings.interFrameMicroseconds() / 1000));
}

LineSession::LineSession(const LineChoice& line, int address)
    : session(line, address, port, clock), line_(line) {
    // Bytes are timed as they arrive; the poll tick takes them only every 100 ms. A Windows
    // COM port has no such notification (yet).
#if !(defined(Q_OS_WIN) || defined(_WIN32))
    QObject::connect(&port, &LinePort::bytesArrived, [this] { session.bytesArrived(); });
#endif
}

std::optional<Failure> LineSession::open() {
    port.setPortOverrides(line_.overrides);
    return session.open();
}

}  // namespace torvix::cli
