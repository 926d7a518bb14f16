#include "control/port_chooser.h"

#include <utility>

namespace torvix {

PortChooser::PortChooser(SerialPort& port, Config& config, StatusLine& status,
                         std::function<void()> processEvents)
    : port_(port), config_(config), status_(status), processEvents_(std::move(processEvents)) {}

void PortChooser::closePortIfOpen() {
    if (port_.isPortOpen()) (void)port_.setPortOpen(false);
}

bool PortChooser::openPort(int number) {
    return port_.setPortNumber(number).ok() && port_.setPortOpen(true).ok();
}

void PortChooser::load() {
    savedPort_ = config_.port();
    savedSettings_ = config_.settings();
    ports_.clear();
    selected_ = -1;

    closePortIfOpen();
    for (int number = kFirstProbedPort; number <= kLastProbedPort; ++number) {
        // A device server only tells by accepting or refusing: wait for that here.
        const bool opened = openPort(number) && port_.finishOpening().ok();
        closePortIfOpen();
        if (opened) ports_.push_back(number);
        // Only now, with the probed port closed again: a poll tick run from here must not
        // send to a device that is not ours.
        if (processEvents_) processEvents_();
    }

    for (int i = 0; i < int(ports_.size()); ++i)
        if (ports_[size_t(i)] == config_.port()) select(i);
    if (!port_.isPortOpen()) (void)openPort(config_.port());
}

void PortChooser::select(int index) {
    if (index < 0 || index >= int(ports_.size())) return;
    selected_ = index;
    closePortIfOpen();
    (void)openPort(ports_[size_t(index)]);
}

PortChooser::OkResult PortChooser::ok(const QString& settingsText) {
    config_.settingsConfirmed = true;
    config_.setPort(selected_ >= 0 ? ports_[size_t(selected_)] : 0);
    config_.setSettings(settingsText);
    if (!config_.applyLineSettings(port_).ok()) return OkResult::SettingsRefused;
    config_.save();
    return OkResult::Close;
}

PortChooser::OkResult PortChooser::adopt(int number, const QString& settingsText) {
    savedPort_ = config_.port();
    savedSettings_ = config_.settings();
    ports_ = {number};
    select(0);
    const OkResult result = ok(settingsText);
    close();
    return result;
}

void PortChooser::cancel() {
    config_.settingsConfirmed = false;
}

void PortChooser::close() {
    if (closed_) return;
    closed_ = true;
    closePortIfOpen();
    if (!config_.settingsConfirmed) {
        config_.setPort(savedPort_);
        config_.setSettings(savedSettings_);
    }
    reopenPort();
}

void PortChooser::reopenStepFailed() {
    config_.load();
    status_.setStatusText(port_chooser_text::kReopenFailed);
}

void PortChooser::reopenPort() {
    if (port_.isPortOpen()) return;
    if (!config_.applyLineSettings(port_).ok()) reopenStepFailed();
    if (!port_.setPortNumber(config_.port()).ok()) {
        reopenStepFailed();
        return;
    }
    if (!port_.setPortOpen(true).ok()) reopenStepFailed();
}

}  // namespace torvix
