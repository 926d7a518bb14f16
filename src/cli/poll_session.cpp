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

PollSession::PollSession(const LineChoice& line, int address)
    : line_(line),
      timing_(port_, clock_, lineNsPerByte(line)),
      address_(address),
      modbus_(timing_, address_) {
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(defaults::kPollIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    for (QTimer* timer : {&replyTimer_, &silenceTimer_}) {
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(true);
    }
    QObject::connect(&replyTimer_, &QTimer::timeout, [this] { replyDone(); });
    QObject::connect(&silenceTimer_, &QTimer::timeout, [this] {
        const double silenceNs = line_.settings.interFrameMicroseconds() * 1000;
        while (double(clock_.nsecsElapsed() - replyDoneNs_) < silenceNs) {
        }
        tick();
    });
    // The timer counts whole milliseconds; the rest of the silence is waited out in its handler.
    silenceTimer_.setInterval(int(line_.settings.interFrameMicroseconds() / 1000));
    counterWriteDueMs_ = kCounterWriteEveryMs - kTurnaroundMarginMs -
                         (line_.settings.wireMicroseconds(kStatusExchangeBytes) +
                          line_.settings.interFrameMicroseconds()) /
                             1000;
    // Bytes are timed as they arrive; the poll tick takes them only every 100 ms. A Windows
    // COM port has no such notification (yet), so there reply times are not measured.
#if !(defined(Q_OS_WIN) || defined(_WIN32))
    QObject::connect(&port_, &LinePort::bytesArrived, [this] {
        timing_.noteArrival();
        onBytesArrived();
    });
#else
    // Without that notification --fast looks for the reply every millisecond.
    arrivalPoll_.setTimerType(Qt::PreciseTimer);
    arrivalPoll_.setInterval(1);
    QObject::connect(&arrivalPoll_, &QTimer::timeout, [this] { onBytesArrived(); });
#endif
}

std::optional<Failure> PollSession::open() {
    port_.setPortOverrides(line_.overrides);
    return openLine(timing_, line_);
}

void PollSession::setFast(std::optional<double> replyTimeoutMs) {
    fast_ = true;
    replyTimeoutMs_ = replyTimeoutMs;
}

void PollSession::start(TickHandler onTick) {
    onTick_ = std::move(onTick);
    if (!fast_) timer_.start();
    sinceCounterWrite_.start();
    tick();
}

void PollSession::stop() {
    timer_.stop();
    replyTimer_.stop();
    silenceTimer_.stop();
    arrivalPoll_.stop();
    awaitingReply_ = false;
    (void)port_.setPortOpen(false);
}

void PollSession::tick() {
    const std::optional<double> replyMs = timing_.replyMs();
    if (fast_)
        modbus_.setCounterWriteDue(double(sinceCounterWrite_.elapsed()) >= counterWriteDueMs_);
    const TickOutcome outcome = modbus_.pollTick();
    if (fast_) {
        if (modbus_.transactionCounter() != counterSent_) {
            counterSent_ = modbus_.transactionCounter();
            sinceCounterWrite_.start();
        }
        const double replyWireMs =
            line_.settings.wireMicroseconds(modbus_.expectedReplyBytes()) / 1000;
        awaitingReply_ = true;
#if defined(Q_OS_WIN) || defined(_WIN32)
        arrivalPoll_.start();
#endif
        replyTimer_.start(
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
    arrivalPoll_.stop();
    replyDoneNs_ = clock_.nsecsElapsed();
    replyTimer_.stop();
    silenceTimer_.start();
}

}  // namespace torvix::cli
