#pragma once
// The state the port dialog starts from: тп.ini names COM12, which the main window has open.

#include <gtest/gtest.h>

#include <QByteArray>

#include "control/config.h"
#include "support/fake_serial_port.h"
#include "support/files.h"
#include "support/recording_sink.h"

namespace torvix::testing {

inline const QByteArray kFile12 =
    "[PC config]\nCOM=12\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n";

// Ports 1, 3 and 12 can be opened; the history of the set-up is cleared.
inline void openConfiguredPort12(FakeSerialPort& port, Config& config, RecordingSink& sink) {
    writeFile(config.path(), kFile12);
    config.load();
    port.openable = {1, 3, 12};
    ASSERT_TRUE(setLineSettingsText(port, config.settings()).ok());
    ASSERT_TRUE(port.setPortNumber(config.port()).ok());
    ASSERT_TRUE(port.setPortOpen(true).ok());
    port.openedNumbers.clear();
    sink.statusHistory.clear();
}

}  // namespace torvix::testing
