#include "link/win_serial_port.h"

#include <windows.h>

#include <algorithm>
#include <array>

namespace torvix {
namespace {

// Bounds one catch-up under a flooding line, as on Linux.
constexpr int kMaxReadsPerCatchUp = 8;
constexpr DWORD kReadChunk = 4096;
// A frame is at most a few dozen bytes; a driver that cannot take it this fast is stuck, and
// the poll tick must not wait for it.
constexpr DWORD kWriteTimeoutMs = 50;

HANDLE asHandle(void* handle) {
    return static_cast<HANDLE>(handle);
}

QString lastErrorText(DWORD error) {
    return qt_error_string(static_cast<int>(error));
}

BYTE parityOf(LineSettings::Parity parity) {
    switch (parity) {
        case LineSettings::Parity::None:
            return NOPARITY;
        case LineSettings::Parity::Even:
            return EVENPARITY;
        case LineSettings::Parity::Odd:
            return ODDPARITY;
        case LineSettings::Parity::Mark:
            return MARKPARITY;
        case LineSettings::Parity::Space:
            return SPACEPARITY;
    }
    return NOPARITY;
}

BYTE stopBitsOf(LineSettings::StopBits stopBits) {
    switch (stopBits) {
        case LineSettings::StopBits::One:
            return ONESTOPBIT;
        case LineSettings::StopBits::OneAndHalf:
            return ONE5STOPBITS;
        case LineSettings::StopBits::Two:
            return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

}  // namespace

QString windowsDeviceName(const QString& portName) {
    if (portName.startsWith(QLatin1String("\\\\"))) return portName;
    return QStringLiteral("\\\\.\\") + portName;
}

PortErrorCode windowsOpenErrorCode(unsigned long win32Error) {
    switch (win32Error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return PortErrorCode::NoSuchPort;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return PortErrorCode::PortInUse;
        default:
            return PortErrorCode::OpenFailed;
    }
}

void describeLine(_DCB& dcb, const LineSettings& settings) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity == LineSettings::Parity::None ? FALSE : TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Otherwise one framing or parity error stops all reads until ClearCommError; the CRC
    // already rejects a damaged reply.
    dcb.fAbortOnError = FALSE;
}

WinSerialPort::WinSerialPort(PortResolver resolver, QObject* parent)
    : DevicePort(std::move(resolver), parent), handle_(INVALID_HANDLE_VALUE) {}

WinSerialPort::~WinSerialPort() {
    stopReopening();
    closeDevice();
}

bool WinSerialPort::isPortOpen() const {
    return asHandle(handle_) != INVALID_HANDLE_VALUE;
}

void WinSerialPort::output(std::span<const std::uint8_t> frame) {
    if (!isPortOpen()) return;
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), frame.data(), static_cast<DWORD>(frame.size()), &written,
                   nullptr))
        hangUp();
}

void WinSerialPort::discardInput() {
    if (isPortOpen()) PurgeComm(asHandle(handle_), PURGE_RXCLEAR);
    rx_.clear();
}

PortStatus WinSerialPort::openDevice() {
    closeDevice();
    const QString name = resolver_.resolve(number_);
    if (name.isEmpty()) return PortError{PortErrorCode::NoSuchPort, resolver_.devicePath(number_)};
    const std::wstring device = windowsDeviceName(name).toStdWString();
    // No sharing: Windows then refuses every other program, and them us, while we hold it.
    HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return PortError{windowsOpenErrorCode(error),
                         name + QStringLiteral(": ") + lastErrorText(error)};
    }
    handle_ = handle;
    // Every read returns at once with what the driver holds; the poll tick never waits.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!applySettings(settings_) || !SetCommTimeouts(handle, &timeouts)) {
        const DWORD error = GetLastError();
        closeDevice();
        return PortError{windowsOpenErrorCode(error),
                         name + QStringLiteral(": ") + lastErrorText(error)};
    }
    devicePath_ = name;
    // Whatever reached the line before we listened answers nothing we sent.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    rx_.clear();
    return {};
}

void WinSerialPort::closeDevice() {
    if (isPortOpen()) CloseHandle(asHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
    rx_.clear();
}

bool WinSerialPort::applySettings(const LineSettings& settings) {
    if (!isPortOpen()) return true;  // only stored while closed; open applies them
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(asHandle(handle_), &dcb)) return false;
    describeLine(dcb, settings);
    return SetCommState(asHandle(handle_), &dcb);
}

void WinSerialPort::takeInWaitingBytes() {
    if (!isPortOpen()) return;
    // A removed adapter shows here first: its driver refuses every request from then on.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(asHandle(handle_), &errors, &status)) {
        hangUp();
        return;
    }
    // Read even when the driver counts nothing waiting: some report a gone device only to a read.
    std::array<std::uint8_t, kReadChunk> chunk;
    for (int reads = 0; reads < kMaxReadsPerCatchUp; ++reads) {
        DWORD got = 0;
        if (!ReadFile(asHandle(handle_), chunk.data(), kReadChunk, &got, nullptr)) {
            hangUp();
            return;
        }
        rx_.insert(rx_.end(), chunk.begin(), chunk.begin() + got);
        if (got < kReadChunk) break;
    }
}

void WinSerialPort::hangUp() {
    closeDevice();
    startReopening();
}

QString WinSerialPort::lastError() const {
    return lastErrorText(GetLastError());
}

}  // namespace torvix
