#include "link/win_serial_port.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "support/qt_printers.h"

namespace torvix {
namespace {

TEST(WinSerialPort, PortNumbersNameComPortsInTheDeviceNamespaceAndPortsEntriesWin) {
    for (const auto& [number, name] :
         {std::pair{1, "COM1"}, {9, "COM9"}, {10, "COM10"}, {16, "COM16"}, {255, "COM255"}}) {
        EXPECT_EQ(PortResolver().resolve(number), name);
    }
    EXPECT_TRUE(PortResolver().resolve(0).isEmpty());
    EXPECT_TRUE(PortResolver().resolve(256).isEmpty());

    EXPECT_EQ(windowsDeviceName("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(windowsDeviceName("COM23"), "\\\\.\\COM23");
    EXPECT_EQ(windowsDeviceName("\\\\.\\CNCA0"), "\\\\.\\CNCA0");

    PortResolver resolver;
    resolver.setOverrides({{5, "COM23"}, {40, "\\\\.\\CNCA0"}});
    EXPECT_EQ(resolver.resolve(5), "COM23");
    EXPECT_EQ(resolver.resolve(6), "COM6");
    EXPECT_EQ(resolver.resolve(40), "\\\\.\\CNCA0");
}

TEST(WinSerialPort, OpenRefusalsMapToTheNumbersTheStartUpTellsApart) {
    // Windows error codes by value, as the Win32 documentation lists them.
    EXPECT_EQ(windowsOpenErrorCode(2), PortErrorCode::NoSuchPort);     // FILE_NOT_FOUND
    EXPECT_EQ(windowsOpenErrorCode(3), PortErrorCode::NoSuchPort);     // PATH_NOT_FOUND
    EXPECT_EQ(windowsOpenErrorCode(5), PortErrorCode::PortInUse);      // ACCESS_DENIED
    EXPECT_EQ(windowsOpenErrorCode(32), PortErrorCode::PortInUse);     // SHARING_VIOLATION
    EXPECT_EQ(windowsOpenErrorCode(31), PortErrorCode::OpenFailed);    // GEN_FAILURE
    EXPECT_EQ(windowsOpenErrorCode(1167), PortErrorCode::OpenFailed);  // DEVICE_NOT_CONNECTED
}

TEST(WinSerialPort, LineSettingsBecomeTheDeviceControlBlockWithoutFlowControl) {
    struct Case {
        const char* text;
        DWORD baud;
        BYTE parity;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
        BYTE dataBits;
        BYTE stopBits;  // 0 one, 1 one and a half, 2 two
    };
    const Case cases[] = {
        {"115200,e,8,1", 115200, 2, 8, 0}, {"9600,n,7,2", 9600, 0, 7, 2},
        {"1200,m,5,1.5", 1200, 3, 5, 1},   {"19200,o,8,1", 19200, 1, 8, 0},
        {"2400,s,6,1", 2400, 4, 6, 0},
    };
    for (const Case& c : cases) {
        DCB dcb{};
        dcb.fOutxCtsFlow = TRUE;  // what a previous program may have left on the port
        dcb.fOutX = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb.fAbortOnError = TRUE;
        describeLine(dcb, *LineSettings::parse(QString::fromLatin1(c.text)));
        EXPECT_EQ(dcb.DCBlength, sizeof(DCB)) << c.text;
        EXPECT_EQ(dcb.BaudRate, c.baud) << c.text;
        EXPECT_EQ(dcb.Parity, c.parity) << c.text;
        EXPECT_EQ(dcb.fParity, c.parity != 0 ? 1u : 0u) << c.text;
        EXPECT_EQ(dcb.ByteSize, c.dataBits) << c.text;
        EXPECT_EQ(dcb.StopBits, c.stopBits) << c.text;
        EXPECT_EQ(dcb.fBinary, 1u) << c.text;
        EXPECT_EQ(dcb.fOutxCtsFlow, 0u) << c.text;
        EXPECT_EQ(dcb.fOutxDsrFlow, 0u) << c.text;
        EXPECT_EQ(dcb.fOutX, 0u) << c.text;
        EXPECT_EQ(dcb.fInX, 0u) << c.text;
        EXPECT_EQ(dcb.fRtsControl, unsigned(RTS_CONTROL_ENABLE)) << c.text;
        EXPECT_EQ(dcb.fDtrControl, unsigned(DTR_CONTROL_ENABLE)) << c.text;
        EXPECT_EQ(dcb.fAbortOnError, 0u) << c.text;
    }
}

TEST(WinSerialPort, AMissingPortIsReportedAsMissingAndStaysClosed) {
    // COM200 exists on no machine these tests run on (the Wine prefix maps only COM1).
    WinSerialPort port;
    ASSERT_TRUE(port.setPortNumber(200));
    const PortStatus status = port.setPortOpen(true);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, PortErrorCode::NoSuchPort)
        << status.error().detail.toStdString();
    EXPECT_FALSE(port.isPortOpen());
    EXPECT_EQ(port.inBufferCount(), 0);
    port.output(std::vector<std::uint8_t>{0x07, 0x04});  // must not reach anything nor crash
    EXPECT_FALSE(port.isReopening());
}

}  // namespace
}  // namespace torvix
