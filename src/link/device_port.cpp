#include "link/device_port.h"

#include <algorithm>

namespace torvix {
namespace {

// InBufferCount is a 16-bit count.
constexpr std::size_t kMaxReportedCount = 32767;

}  // namespace

DevicePort::DevicePort(PortResolver resolver, QObject* parent)
    : QObject(parent), resolver_(std::move(resolver)) {
    // Owned and named so that a test can fire it rather than wait a second for each try.
    reopenTimer_.setParent(this);
    reopenTimer_.setObjectName(QStringLiteral("reopenTimer"));
    reopenTimer_.setInterval(kReopenInterval);
    connect(&reopenTimer_, &QTimer::timeout, this, &DevicePort::attemptReopen);
}

void DevicePort::setPortOverrides(std::map<int, QString> overrides) {
    resolver_.setOverrides(std::move(overrides));
}

PortStatus DevicePort::setPortNumber(int number) {
    if (isPortOpen()) {
        if (number == number_) return {};
        return PortError{PortErrorCode::PortAlreadyOpen, devicePath_};
    }
    if (number != number_) stopReopening();
    if (target(number).isEmpty())
        return PortError{PortErrorCode::NoSuchPort, resolver_.devicePath(number)};
    number_ = number;
    return {};
}

PortStatus DevicePort::setLineSettings(const LineSettings& settings) {
    if (isPortOpen() && !applySettings(settings)) {
        const QString reason = lastError();
        applySettings(settings_);
        return PortError{PortErrorCode::InvalidSettings, reason};
    }
    settings_ = settings;
    return {};
}

PortStatus DevicePort::setPortOpen(bool open) {
    if (!open) {
        stopReopening();
        closeDevice();
        return {};
    }
    if (isPortOpen()) return {};
    PortStatus status = openDevice();
    if (status.ok()) reopenTimer_.stop();
    return status;
}

int DevicePort::inBufferCount() {
    if (rx_.empty()) takeInWaitingBytes();
    return static_cast<int>(std::min(rx_.size(), kMaxReportedCount));
}

std::uint8_t DevicePort::input() {
    if (rx_.empty()) return 0;
    const std::uint8_t byte = rx_.front();
    rx_.pop_front();
    return byte;
}

void DevicePort::startReopening() {
    reopenTimer_.start();
    emit hungUp();
}

void DevicePort::attemptReopen() {
    const bool ok = openDevice().ok();
    if (ok) reopenTimer_.stop();
    emit reopenAttempted(ok);
    if (ok) emit reopened();
}

}  // namespace torvix
