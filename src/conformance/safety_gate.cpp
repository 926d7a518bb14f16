#include "conformance/safety_gate.h"

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::conformance {
namespace {

using namespace protocol;

int word(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame[at] << 8 | frame[at + 1];
}

constexpr bool userDefined(int function) {
    return (function >= 65 && function <= 72) || (function >= 100 && function <= 110);
}

// Kept by the standard for legacy products and internal use (Modicon programming, firmware
// replacement ...): one of them may well do something on some device.
constexpr bool legacyReserved(int function) {
    switch (function) {
        case 9:
        case 10:
        case 13:
        case 14:
        case 18:
        case 19:
        case 41:
        case 42:
        case 90:
        case 91:
        case 125:
        case 126:
        case 127:
            return true;
        default:
            return false;
    }
}

// Public functions that only read: exception status, event counter and log, slave id, file
// record, FIFO queue.
constexpr bool publicRead(int function) {
    switch (function) {
        case kReadCoils:
        case kReadDiscreteInputs:
        case kReadHoldingRegisters:
        case kReadInputRegisters:
        case 7:
        case 11:
        case 12:
        case 17:
        case 20:
        case 24:
            return true;
        default:
            return false;
    }
}

// Public functions that write or act; whatever their registers, never sent by the test.
constexpr bool publicWrite(int function) {
    switch (function) {
        case kWriteSingleCoil:
        case kWriteSingleRegister:
        case kDiagnostics:
        case kWriteMultipleCoils:
        case kWriteMultipleRegisters:
        case 21:  // write file record
        case 22:  // mask write register
        case 23:  // read/write multiple registers
        case 43:  // encapsulated interface: some MEI types act
            return true;
        default:
            return false;
    }
}

bool writesCounterAlone(std::span<const std::uint8_t> frame) {
    constexpr std::size_t kSingleWriteBytes = 8;
    constexpr std::size_t kOneRegisterMultipleWriteBytes = 11;
    if (frame[1] == kWriteSingleRegister)
        return frame.size() == kSingleWriteBytes && word(frame, 2) == kCounterRegister;
    return frame.size() == kOneRegisterMultipleWriteBytes && word(frame, 2) == kCounterRegister &&
           word(frame, 4) == 1 && frame[6] == 2;
}

// Whether a frame with a right CRC may go out under the probe policies.
std::optional<QString> probeRefusal(std::span<const std::uint8_t> frame, bool allFunctions) {
    const int function = frame[1];
    if (frame[0] == kBroadcastAddress) {
        const auto status = requests::statusReadPdu();
        if (frame.size() == status.size() + 3 &&
            std::equal(status.begin(), status.end(), frame.begin() + 1))
            return std::nullopt;
        return QStringLiteral("на адрес 0 (всем) с верной КС уходит только чтение состояния");
    }
    if (userDefined(function))
        return QStringLiteral("функция %1 пользовательская: её смысл знает только изготовитель")
            .arg(function);
    if (legacyReserved(function))
        return QStringLiteral("функция %1 зарезервирована для старых устройств").arg(function);
    if (function == kWriteSingleRegister || function == kWriteMultipleRegisters) {
        if (writesCounterAlone(frame)) return std::nullopt;
        return QStringLiteral("запись разрешена только в регистр %1, одна").arg(kCounterRegister);
    }
    if (function == kDiagnostics) {
        if (frame.size() >= 6 && word(frame, 2) == kReturnQueryData) return std::nullopt;
        return QStringLiteral("функция 8 только с подфункцией 0: другие меняют режим контроллера");
    }
    if (function >= 1 && function <= 4) return std::nullopt;
    if (function == kReservedFunction) return std::nullopt;
    if (allFunctions) {
        if (publicRead(function)) return std::nullopt;
        const bool publicCode = function >= 1 && function <= 127;
        if (publicCode && !publicWrite(function)) return std::nullopt;  // not assigned
    }
    return QStringLiteral("функция %1 с верной КС не отправляется").arg(function);
}

std::optional<QString> rawRefusal(std::span<const std::uint8_t> frame) {
    if (frame.size() < 6) return std::nullopt;
    const int function = frame[1];
    int first = 0, count = 0;
    if (function == kWriteSingleRegister || function == 22) {
        first = word(frame, 2);
        count = 1;
    } else if (function == kWriteMultipleRegisters) {
        first = word(frame, 2);
        count = frame.size() >= 7 ? word(frame, 4) : 1;
    } else if (function == 23 && frame.size() >= 10) {
        first = word(frame, 6);  // the write half of read/write multiple
        count = word(frame, 8);
    } else {
        return std::nullopt;
    }
    const int last = first + std::max(count, 1) - 1;
    if (first <= kCommandRegister && last >= kNumberRegister)
        return QStringLiteral(
                   "кадр пишет регистры команд %1/%2: это команда агрегату, нужен "
                   "--allow-commands")
            .arg(kNumberRegister)
            .arg(kCommandRegister);
    return std::nullopt;
}

}  // namespace

std::optional<QString> refusal(std::span<const std::uint8_t> frame, Policy policy) {
    if (policy == Policy::RawWithCommands) return std::nullopt;
    // Every stretch [start, end) whose last two bytes are the CRC of the rest. The CRC is
    // carried along byte by byte, so a whole frame costs its length squared, not cubed.
    constexpr std::size_t kShortestFrame = 4;  // address, function, CRC
    for (std::size_t start = 0; start + kShortestFrame <= frame.size(); ++start) {
        std::uint16_t crc = protocol::kCrcInitial;
        for (std::size_t body = start; body + 2 <= frame.size(); ++body) {
            crc = crc16(frame.subspan(body, 1), crc);
            const std::size_t end = body + 3;  // the stretch [start, end): body and its CRC
            if (end - start < kShortestFrame || end > frame.size()) continue;
            if (frame[body + 1] != byteOf(crc, 0) || frame[body + 2] != byteOf(crc, 1)) continue;
            const auto stretch = frame.subspan(start, end - start);
            const auto why = policy == Policy::Raw
                                 ? rawRefusal(stretch)
                                 : probeRefusal(stretch, policy == Policy::AllFunctions);
            if (why) {
                if (start == 0 && end == frame.size()) return why;
                return QStringLiteral("байты %1..%2 кадра: %3").arg(start).arg(end - 1).arg(*why);
            }
        }
    }
    return std::nullopt;
}

}  // namespace torvix::conformance
