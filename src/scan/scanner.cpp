#include "scan/scanner.h"

#include <algorithm>
#include <cmath>

#include "decode/status_fields.h"
#include "decode/status_snapshot.h"
#include "protocol/protocol.h"
#include "protocol/request_table.h"
#include "record/status_record.h"

namespace torvix::scan {
namespace {

// A port that floods the line cannot hold the scan: far more than any reply.
constexpr int kDrainLimit = 4096;
// The whole block read after a find is tried this often before the find goes out without
// versions: a controller that answered one probe is worth a second look.
constexpr int kStatusTries = 2;

QString versionOf(const record::StatusRecord& values, status_block::Field field) {
    const std::string_view key = status_block::info(field).key;
    const record::RecordValue* value = record::valueOf(
        values, QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size())));
    return value ? value->text : QString();
}

}  // namespace

PortTrouble troubleOf(const PortError& error) {
    switch (error.code) {
        case PortErrorCode::PortInUse:
            return PortTrouble::Busy;
        case PortErrorCode::NoSuchPort:
            return PortTrouble::Missing;
        case PortErrorCode::PermissionDenied:
            return PortTrouble::Denied;
        default:
            return PortTrouble::Failed;
    }
}

Scanner::Scanner(SerialPort& port, Clock& clock, ScanPlan plan, Hooks hooks)
    : port_(port),
      clock_(clock),
      plan_(std::move(plan)),
      hooks_(std::move(hooks)),
      addresses_(plan_.addresses()) {
    waitTimer_ = clock_.timer([this] { onWaitOver(); }, false, true);
}

Scanner::~Scanner() {
    waitTimer_->stop();
    // Whoever destroys a running scan has stopped listening: the port closes without a word.
    if (holdingPort_ && port_.isPortOpen()) (void)port_.setPortOpen(false);
}

void Scanner::start() {
    if (running_) return;
    report_ = {};
    running_ = true;
    stopWanted_ = false;
    portIndex_ = -1;
    startNs_ = clock_.nowNs();
    if (plan_.settings.empty() || addresses_.empty()) {
        finish(false);
        return;
    }
    nextPort();
}

void Scanner::stop() {
    if (!running_) return;
    stopWanted_ = true;
    // An open in progress runs the event loop; it finishes the scan when it returns.
    if (!opening_) finish(true);
}

void Scanner::releasePort() {
    if (!holdingPort_) return;
    holdingPort_ = false;
    if (port_.isPortOpen()) (void)port_.setPortOpen(false);
    if (hooks_.portReleased) hooks_.portReleased(currentPort());
}

void Scanner::nextPort() {
    if (holdingPort_) {
        const ScanPort& done = currentPort();
        if (std::none_of(report_.found.begin(), report_.found.end(),
                         [&](const Found& f) { return f.port == done; }))
            report_.withoutController.push_back(done);
    }
    releasePort();
    while (++portIndex_ < int(plan_.ports.size())) {
        const ScanPort& port = currentPort();
        holdingPort_ = true;
        if (hooks_.portWanted) hooks_.portWanted(port);
        PortStatus status = port_.setPortNumber(port.number);
        if (status) status = port_.setLineSettings(plan_.settings.front());
        if (status) status = port_.setPortOpen(true);
        if (status) {
            opening_ = true;
            status = port_.finishOpening();
            opening_ = false;
            if (stopWanted_) {
                finish(true);
                return;
            }
        }
        if (status) {
            ++report_.portsOpened;
            settingsIndex_ = -1;
            nextSettings();
            return;
        }
        const Skipped skipped{port, troubleOf(status.error()), status.error()};
        report_.skipped.push_back(skipped);
        releasePort();
        if (hooks_.skipped) hooks_.skipped(skipped);
        if (!running_) return;
    }
    finish(false);
}

void Scanner::nextSettings() {
    while (++settingsIndex_ < plan_.settingsCountOf(currentPort())) {
        // Settings a port cannot take (two stop bits on some adapters) are passed over.
        if (!port_.setLineSettings(currentSettings())) continue;
        addressIndex_ = -1;
        activityNoted_ = false;
        nextProbe();
        return;
    }
    nextPort();
}

void Scanner::nextProbe() {
    if (++addressIndex_ >= int(addresses_.size())) {
        nextSettings();
        return;
    }
    if (hooks_.progress) hooks_.progress(progress());
    if (!running_) return;  // the hook stopped the scan
    waiting_ = Waiting::Probe;
    ++report_.probes;
    const double waitMs = plan_.probeWaitMs(currentSettings());
    report_.lineMs += waitMs;
    sendAndWait(requests::probeReadPdu().bytes(), waitMs);
}

void Scanner::sendAndWait(std::span<const std::uint8_t> pdu, double waitMs) {
    sent_.assign(1, static_cast<std::uint8_t>(addresses_[size_t(addressIndex_)]));
    sent_.insert(sent_.end(), pdu.begin(), pdu.end());
    protocol::appendCrc(sent_);
    // Late bytes of the last probe must not count for this one.
    port_.discardInput();
    port_.output(sent_);
    dueNs_ = clock_.nowNs() + std::llround(waitMs * 1e6);
    // The timer's whole milliseconds, then the rest spent in onWaitOver: thousands of probes
    // rounded up a millisecond each would add percents to a scan.
    waitTimer_->start(int(waitMs));
}

std::vector<std::uint8_t> Scanner::takeReply() {
    std::vector<std::uint8_t> bytes;
    for (int n = port_.inBufferCount(); n > 0 && int(bytes.size()) < kDrainLimit;
         n = port_.inBufferCount())
        while (n-- > 0 && int(bytes.size()) < kDrainLimit) bytes.push_back(port_.input());
    // An adapter that hears its own request hands it back before the reply.
    if (bytes.size() >= sent_.size() && std::equal(sent_.begin(), sent_.end(), bytes.begin()))
        bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(sent_.size()));
    return bytes;
}

void Scanner::onWaitOver() {
    clock_.busyWaitUntil(dueNs_);
    const std::vector<std::uint8_t> reply = takeReply();
    const Waiting was = std::exchange(waiting_, Waiting::Nothing);
    if (was == Waiting::Probe) judgeProbe(reply);
    if (was == Waiting::Status) judgeStatus(reply);
}

void Scanner::judgeProbe(const std::vector<std::uint8_t>& reply) {
    if (reply.empty()) {
        nextProbe();
        return;
    }
    const auto address = static_cast<std::uint8_t>(addresses_[size_t(addressIndex_)]);
    const bool fromAddress = reply[0] == address && protocol::hasValidCrc(reply);
    const bool normal = fromAddress && reply.size() == size_t(requests::kProbeReplyBytes) &&
                        reply[1] == protocol::kReadInputRegisters &&
                        reply[2] == 2 * requests::kProbeRegisterCount;
    const bool refused = fromAddress && protocol::isExceptionReply(reply) &&
                         (reply[1] & ~protocol::kExceptionFlag) == protocol::kReadInputRegisters;
    if (!normal && !refused) {
        if (!activityNoted_) {
            activityNoted_ = true;
            const Activity activity{currentPort(), currentSettings()};
            report_.activity.push_back(activity);
            if (hooks_.activity) hooks_.activity(activity);
            if (!running_) return;
        }
        nextProbe();
        return;
    }
    candidate_ = {currentPort(), currentSettings(), address, refused ? reply[2] : 0, {}, {}};
    waiting_ = Waiting::Status;
    statusTries_ = 1;
    sendAndWait(requests::statusReadPdu().bytes(), plan_.statusWaitMs(currentSettings()));
}

void Scanner::judgeStatus(const std::vector<std::uint8_t>& reply) {
    const auto registers = protocol::hasValidCrc(reply) && reply[0] == candidate_.address
                               ? protocol::StatusRegisters::fromReply(reply)
                               : std::nullopt;
    if (!registers && statusTries_ < kStatusTries) {
        waiting_ = Waiting::Status;
        ++statusTries_;
        sendAndWait(requests::statusReadPdu().bytes(), plan_.statusWaitMs(currentSettings()));
        return;
    }
    if (registers) {
        const record::StatusRecord values = record::statusRecord(StatusSnapshot(*registers));
        candidate_.softwareVersion = versionOf(values, status_block::Field::SoftwareVersion);
        candidate_.protocolVersion = versionOf(values, status_block::Field::ProtocolVersion);
    }
    report_.found.push_back(candidate_);
    if (hooks_.found) hooks_.found(candidate_);
    if (!running_) return;  // the hook stopped the scan
    if (!plan_.all) {
        finish(false);
        return;
    }
    nextProbe();
}

Progress Scanner::progress() const {
    Progress p;
    p.portIndex = portIndex_;
    p.portCount = int(plan_.ports.size());
    p.settingsIndex = settingsIndex_;
    p.settingsCount = plan_.settingsCountOf(currentPort());
    p.addressIndex = addressIndex_;
    p.addressCount = int(addresses_.size());
    p.probesDone = report_.probes;
    p.probesTotal = plan_.probeCount();
    p.port = currentPort();
    p.settings = currentSettings();
    p.address = addresses_[size_t(addressIndex_)];
    double ms = plan_.probeWaitMs(currentSettings()) * (p.addressCount - addressIndex_);
    for (int s = settingsIndex_ + 1; s < p.settingsCount; ++s)
        ms += plan_.probeWaitMs(plan_.settings[size_t(s)]) * p.addressCount;
    for (size_t i = size_t(portIndex_) + 1; i < plan_.ports.size(); ++i)
        ms += plan_.waitMsOf(plan_.ports[i]);
    p.remainingMs = ms;
    return p;
}

void Scanner::finish(bool stopped) {
    if (!running_) return;
    waitTimer_->stop();
    waiting_ = Waiting::Nothing;
    releasePort();
    running_ = false;
    report_.stopped = stopped;
    report_.seconds = double(clock_.nowNs() - startNs_) / 1e9;
    if (hooks_.finished) hooks_.finished();
}

}  // namespace torvix::scan
