#include "sim/frame_assembler.h"

#include "protocol/protocol.h"

namespace torvix::sim {

std::size_t FrameAssembler::expectedRequestLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2) return 0;
    switch (bytes[1]) {
        case protocol::kReadCoils:
        case protocol::kReadDiscreteInputs:
        case protocol::kReadHoldingRegisters:
        case protocol::kReadInputRegisters:
        case protocol::kWriteSingleCoil:
        case protocol::kWriteSingleRegister:
            return 8;  // address, function, two 16-bit fields, CRC
        case protocol::kWriteMultipleCoils:
        case protocol::kWriteMultipleRegisters:
            return bytes.size() < 7 ? 0 : 9 + std::size_t{bytes[6]};
        default:
            return 0;
    }
}

std::vector<RxFrame> FrameAssembler::feed(std::span<const std::uint8_t> bytes, std::int64_t nowUs) {
    std::vector<RxFrame> frames;
    if (bytes.empty()) return frames;
    if (buffer_.empty()) startUs_ = nowUs;
    const std::size_t room = kMaxFrame - buffer_.size();
    const std::size_t taken = std::min(room, bytes.size());
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<long>(taken));
    if (taken < bytes.size()) {
        bytesDropped_ += bytes.size() - taken;
        untilSilence_ = true;
    }

    while (!untilSilence_ && !buffer_.empty()) {
        const std::size_t length = expectedRequestLength(buffer_);
        if (length == 0 || buffer_.size() < length) break;
        const auto frame = std::span(buffer_).first(length);
        if (!protocol::hasValidCrc(frame)) {
            untilSilence_ = true;
            break;
        }
        frames.push_back({{frame.begin(), frame.end()}, startUs_});
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(length));
        startUs_ = nowUs;
    }
    return frames;
}

std::optional<RxFrame> FrameAssembler::silence() {
    untilSilence_ = false;
    if (buffer_.empty()) return std::nullopt;
    RxFrame frame{std::move(buffer_), startUs_};
    buffer_.clear();
    return frame;
}

void FrameAssembler::reset() {
    buffer_.clear();
    untilSilence_ = false;
}

}  // namespace torvix::sim
