#include "cli/poll_session.h"

#include "link/defaults.h"
#include "link/port_resolver.h"

namespace torvix::cli {
namespace {

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
    // Bytes are timed as they arrive; the poll tick takes them only every 100 ms. A Windows
    // COM port has no such notification (yet), so there reply times are not measured.
    QObject::connect(&port_, &LinePort::bytesArrived, [this] { timing_.noteArrival(); });
}

std::optional<Failure> PollSession::open() {
    port_.setPortOverrides(line_.overrides);
    return openLine(timing_, line_);
}

void PollSession::start(TickHandler onTick) {
    onTick_ = std::move(onTick);
    timer_.start();
    tick();
}

void PollSession::stop() {
    timer_.stop();
    (void)port_.setPortOpen(false);
}

void PollSession::tick() {
    const std::optional<double> replyMs = timing_.replyMs();
    const TickOutcome outcome = modbus_.pollTick();
    if (onTick_) onTick_(outcome, outcome.verdict == Verdict::Answered ? replyMs : std::nullopt);
}

}  // namespace torvix::cli
