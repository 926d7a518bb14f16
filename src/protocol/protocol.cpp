#include "protocol/protocol.h"

#include <array>

namespace torvix::protocol {
namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = makeTable();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
    for (std::uint8_t b : bytes)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFFu]);
    return crc;
}

void appendCrc(std::vector<std::uint8_t>& frame) {
    const std::uint16_t crc = crc16(frame);
    frame.push_back(byteOf(crc, 0));
    frame.push_back(byteOf(crc, 1));
}

bool hasValidCrc(std::span<const std::uint8_t> frame) {
    if (frame.size() < 3) return false;
    const std::uint16_t crc = crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == byteOf(crc, 0) && frame[frame.size() - 1] == byteOf(crc, 1);
}

std::optional<int> normalReplyBytes(std::span<const std::uint8_t> request) {
    // Address, function and CRC around the data.
    constexpr int kFraming = 4;
    if (request.size() < 2) return std::nullopt;
    const auto word = [&](std::size_t at) { return request[at] << 8 | request[at + 1]; };
    switch (request[1]) {
        case kReadCoils:
        case kReadDiscreteInputs:
            if (request.size() < 6) return std::nullopt;
            return kFraming + 1 + (word(4) + 7) / 8;
        case kReadHoldingRegisters:
        case kReadInputRegisters:
            if (request.size() < 6) return std::nullopt;
            return kFraming + 1 + 2 * word(4);
        case kWriteSingleRegister:
        case kDiagnostics:
            return int(request.size());  // the echo
        case kWriteMultipleRegisters:
            return kFraming + 4;  // start and quantity
        default:
            return std::nullopt;
    }
}

QString exceptionMeaning(int code) {
    switch (code) {
        case exception_code::kIllegalFunction:
            return QStringLiteral("недопустимая функция");
        case exception_code::kIllegalDataAddress:
            return QStringLiteral("недопустимый адрес данных");
        case exception_code::kIllegalDataValue:
            return QStringLiteral("недопустимое значение данных");
        case exception_code::kSlaveDeviceFailure:
            return QStringLiteral("отказ устройства");
        case exception_code::kAcknowledge:
            return QStringLiteral("принято, выполняется");
        case exception_code::kSlaveDeviceBusy:
            return QStringLiteral("устройство занято");
        default:
            return QStringLiteral("неизвестный код");
    }
}

QString exceptionText(int code) {
    return QStringLiteral("исключение %1 (%2)").arg(code).arg(exceptionMeaning(code));
}

}  // namespace torvix::protocol
