#pragma once
// What runs before the main window appears: configuration, slave list, opening the port.

#include <QString>
#include <QStringList>
#include <functional>

#include "control/config.h"
#include "control/operator_prompt.h"
#include "link/serial_port.h"
#include "link/tcp_address.h"
#include "protocol/defaults.h"

namespace torvix {

class Startup {
public:
    static constexpr int kSlaveAddresses = 128;
    static constexpr int kInitialSlaveAddress = defaults::kSlaveAddress;
    static inline const QString kFailureTitle = QStringLiteral("Ошибка открытия порта");

    // The parts of the sequence that belong to the window and its owner.
    struct Steps {
        std::function<void()> configLoaded;  // e.g. hand the port overrides to the port
        std::function<void()>
            fillSlaveList;  // slaveAddressEntries(), kInitialSlaveAddress selected
        std::function<void()> showPortDialogModal;
        std::function<void()> showWindow;
        std::function<void()> startPolling;
    };

    Startup(SerialPort& port, Config& config, OperatorPrompt& prompt, Steps steps)
        : port_(port), config_(config), prompt_(prompt), steps_(std::move(steps)) {}

    // Runs the whole sequence. False when the operator chose to end the program instead of
    // picking another port; then the window has not been shown and nothing more may run.
    [[nodiscard]] bool run();

    // "0" .. "127": the position of an entry is the address it shows.
    static QStringList slaveAddressEntries();
    // `tcpAddress`: the device server the port stands for, named after the port; else empty.
    static QString portFailurePrompt(int port, const PortError& error,
                                     const QString& tcpAddress = {});

private:
    bool openPort();
    bool offerAnotherPort(const PortError& error);

    SerialPort& port_;
    Config& config_;
    OperatorPrompt& prompt_;
    Steps steps_;
};

}  // namespace torvix
