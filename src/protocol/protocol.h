#pragma once
// The controller's Modbus RTU wire: function codes, registers, command codes, CRC, exceptions.

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace torvix::protocol {

inline constexpr std::uint8_t kReadInputRegisters = 4;
inline constexpr std::uint8_t kWriteSingleRegister = 6;
inline constexpr std::uint8_t kWriteMultipleRegisters = 16;
// Other standard functions, which the controller does not serve; a slave must still frame them.
inline constexpr std::uint8_t kReadCoils = 1;
inline constexpr std::uint8_t kReadDiscreteInputs = 2;
inline constexpr std::uint8_t kReadHoldingRegisters = 3;
inline constexpr std::uint8_t kWriteSingleCoil = 5;
inline constexpr std::uint8_t kWriteMultipleCoils = 15;
inline constexpr std::uint8_t kDiagnostics = 8;
// Function 8's sub-function that only echoes; 4 (force listen only) would silence a slave.
inline constexpr std::uint16_t kReturnQueryData = 0;
// The most registers one read may ask for, and the longest RTU frame, address to CRC.
inline constexpr int kMaxReadRegisters = 125;
inline constexpr int kMaxFrameBytes = 256;
// Set in the function code of a reply that refuses the request; an exception code follows.
inline constexpr std::uint8_t kExceptionFlag = 0x80;
inline constexpr int kExceptionReplyBytes = 5;
inline constexpr std::uint8_t kBroadcastAddress = 0;

// The status block: input registers 300..363, read whole by every status poll.
inline constexpr int kStatusFirstRegister = 300;
inline constexpr int kStatusRegisterCount = 64;
inline constexpr int kStatusReplyBytes = 3 + 2 * kStatusRegisterCount + 2;

// Holding registers: the master's transaction counter, a command's argument, the command.
inline constexpr int kCounterRegister = 400;
inline constexpr int kNumberRegister = 401;
inline constexpr int kCommandRegister = 402;
inline constexpr int kFirstHoldingRegister = kCounterRegister;
inline constexpr int kHoldingRegisterCount = 3;

// Codes written to 402. In the three switch rows the low byte names the function and the
// high byte the action; a number command takes its argument from 401 written with it.
namespace command {
inline constexpr std::uint16_t kStart = 0x1231;
inline constexpr std::uint16_t kStop = 0x4562;
inline constexpr std::uint16_t kAcknowledge = 0x7893;
inline constexpr std::uint8_t kLoad = 0xC4;
inline constexpr std::uint8_t kSection = 0xCC;
inline constexpr std::uint8_t kAutostart = 0x10;
inline constexpr std::uint8_t kOff = 0x0B;
inline constexpr std::uint8_t kOn = 0x5B;
inline constexpr std::uint8_t kToggle = 0xAB;
constexpr std::uint16_t switchCode(std::uint8_t action, std::uint8_t function) {
    return static_cast<std::uint16_t>(action << 8 | function);
}
// 401 carries the marker in its high byte and the number 0..7 in its low byte.
inline constexpr std::uint16_t kSetPriority = 0xEE55;
inline constexpr std::uint16_t kSetSection = 0xEEAA;
inline constexpr std::uint16_t kSetNeighbourSection = 0xEEBB;
inline constexpr std::uint8_t kPriorityMarker = 0x55;
inline constexpr std::uint8_t kSectionMarker = 0xAA;
}  // namespace command

namespace exception_code {
inline constexpr std::uint8_t kIllegalFunction = 1;
inline constexpr std::uint8_t kIllegalDataAddress = 2;
inline constexpr std::uint8_t kIllegalDataValue = 3;
inline constexpr std::uint8_t kSlaveDeviceFailure = 4;
// Accepted and still being carried out: the request was executed as far as the master knows.
inline constexpr std::uint8_t kAcknowledge = 5;
// Not executed; the same request may succeed a moment later.
inline constexpr std::uint8_t kSlaveDeviceBusy = 6;
}  // namespace exception_code

// What an exception code means, in Russian, for the status line and the command line.
QString exceptionMeaning(int code);
// "исключение 2 (недопустимый адрес данных)": how every reader names a refusal.
QString exceptionText(int code);

// Initial 0xFFFF, reflected polynomial 0xA001, no final XOR; sent low byte first.
inline constexpr std::uint16_t kCrcInitial = 0xFFFF;
// `crc`: the CRC of the bytes before, to carry one along a growing frame.
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = kCrcInitial);

// Byte n (0 = bits 0..7 ... 3 = bits 24..31) of the 32-bit two's-complement form of value.
constexpr std::uint8_t byteOf(std::int64_t value, int n) {
    if (n < 0 || n > 3) return 0;
    const auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::uint8_t>((bits >> (8 * n)) & 0xFFu);
}

void appendCrc(std::vector<std::uint8_t>& frame);
// A frame of at least three bytes whose last two are the CRC of the rest, low byte first.
bool hasValidCrc(std::span<const std::uint8_t> frame);

// The length of the normal reply to a request frame (address to CRC) of functions 1 to 4, 6, 8
// or 16, from its quantity; empty for any other function or a frame too short to tell.
std::optional<int> normalReplyBytes(std::span<const std::uint8_t> request);

constexpr bool isExceptionReply(std::span<const std::uint8_t> frame) {
    return frame.size() == kExceptionReplyBytes && (frame[1] & kExceptionFlag) != 0;
}

}  // namespace torvix::protocol
