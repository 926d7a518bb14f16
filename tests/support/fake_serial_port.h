#pragma once
// A scripted serial port: tests queue what the controller "sends" and read what we wrote.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "link/serial_port.h"

namespace torvix::testing {

class FakeSerialPort : public SerialPort {
public:
    // Which numbers exist and can be opened; a number missing here is refused by open.
    std::set<int> openable = {1};
    // Errors that the next calls of an operation raise, consumed one per call.
    std::map<int, PortErrorCode> openErrorForPort;  // port number -> error on open
    std::deque<PortErrorCode> numberErrors;
    std::deque<PortErrorCode> settingsErrors;
    std::deque<PortErrorCode> openErrors;

    std::deque<std::uint8_t> rx;                     // bytes waiting to be read
    std::vector<std::vector<std::uint8_t>> written;  // frames written, in order
    std::vector<int> openedNumbers;                  // each successful open, by number
    int discards = 0;                                // calls of discardInput()
    std::function<void()> onOpen;                    // runs after each successful open

    int number = 1;
    QString settings;  // the last settings taken, as their text
    bool open = false;

    void feed(std::initializer_list<std::uint8_t> bytes) { rx.insert(rx.end(), bytes); }
    void feed(const std::vector<std::uint8_t>& bytes) {
        rx.insert(rx.end(), bytes.begin(), bytes.end());
    }

    PortStatus setPortNumber(int n) override {
        if (!numberErrors.empty()) return take(numberErrors);
        if (open && n != number) return PortError{PortErrorCode::PortAlreadyOpen, {}};
        if (n < 1 || n > 16) return PortError{PortErrorCode::NoSuchPort, {}};
        number = n;
        return {};
    }
    PortStatus setLineSettings(const LineSettings& taken) override {
        if (!settingsErrors.empty()) return take(settingsErrors);
        settings = taken.toText();
        return {};
    }
    PortStatus setPortOpen(bool wanted) override {
        if (!wanted) {
            open = false;
            return {};
        }
        if (open) return {};
        if (!openErrors.empty()) return take(openErrors);
        if (auto it = openErrorForPort.find(number); it != openErrorForPort.end())
            return PortError{it->second, {}};
        if (!openable.contains(number)) return PortError{PortErrorCode::NoSuchPort, {}};
        open = true;
        rx.clear();
        openedNumbers.push_back(number);
        if (onOpen) onOpen();
        return {};
    }
    bool isPortOpen() const override { return open; }
    int inBufferCount() override { return static_cast<int>(rx.size()); }
    std::uint8_t input() override {
        const std::uint8_t b = rx.front();
        rx.pop_front();
        return b;
    }
    void discardInput() override {
        rx.clear();
        ++discards;
    }
    void output(std::span<const std::uint8_t> frame) override {
        written.emplace_back(frame.begin(), frame.end());
    }

private:
    static PortStatus take(std::deque<PortErrorCode>& errors) {
        const PortErrorCode code = errors.front();
        errors.pop_front();
        return PortError{code, {}};
    }
};

}  // namespace torvix::testing
