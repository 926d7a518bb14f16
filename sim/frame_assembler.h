#pragma once
// Cuts the bytes arriving on the line into Modbus RTU request frames.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace torvix::sim {

struct RxFrame {
    std::vector<std::uint8_t> bytes;
    std::int64_t startUs = 0;  // when its first byte arrived
};

// A frame ends after the silent interval of 3.5 characters. Within a burst, a request whose
// function code tells its length and whose CRC holds is taken at once, so back-to-back
// requests are not glued together. After a bad CRC everything up to the next silence is one
// (rejected) frame, the way a slave resynchronises on a noisy line.
class FrameAssembler {
public:
    static constexpr std::size_t kMaxFrame = 256;

    std::vector<RxFrame> feed(std::span<const std::uint8_t> bytes, std::int64_t nowUs);
    // The line went quiet: whatever is pending is one frame.
    std::optional<RxFrame> silence();
    void reset();
    bool pending() const { return !buffer_.empty(); }
    std::uint64_t bytesDropped() const { return bytesDropped_; }

    // Length of the request starting at bytes[0], or 0 when it cannot be told (yet).
    static std::size_t expectedRequestLength(std::span<const std::uint8_t> bytes);

private:
    std::vector<std::uint8_t> buffer_;
    std::int64_t startUs_ = 0;
    bool untilSilence_ = false;
    std::uint64_t bytesDropped_ = 0;
};

}  // namespace torvix::sim
