#pragma once
// What the fuzz targets share: a property check that stops the run, and a CRC of their own.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace torvix::fuzz {

// Unlike assert(), kept in every build type: a broken property is a finding.
#define FUZZ_CHECK(condition)                                                          \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, \
                         #condition);                                                  \
            std::abort();                                                              \
        }                                                                              \
    } while (false)

// Modbus CRC-16 bit by bit (reflected polynomial 0xA001, start 0xFFFF): an independent
// verdict beside the program's table-driven crc16. Without branches and outside the coverage
// instrumentation: traced, its compares took most of a poll-tick run.
__attribute__((no_sanitize("coverage"))) inline std::uint16_t bitwiseCrc(
    std::span<const std::uint8_t> bytes) {
    unsigned crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xA001u & (0u - (crc & 1u)));
    }
    return static_cast<std::uint16_t>(crc);
}

// The last two bytes hold the CRC of the rest, low byte first.
inline bool crcHolds(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) return false;
    const std::uint16_t crc = bitwiseCrc(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFFu) && frame[frame.size() - 1] == (crc >> 8);
}

// Reads the fuzzer's input front to back; past the end it yields zeros and empty spans.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}
    bool empty() const { return bytes_.empty(); }
    std::uint8_t byte() {
        if (bytes_.empty()) return 0;
        const std::uint8_t b = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return b;
    }
    std::span<const std::uint8_t> take(std::size_t n) {
        const auto taken = bytes_.first(n < bytes_.size() ? n : bytes_.size());
        bytes_ = bytes_.subspan(taken.size());
        return taken;
    }
    std::span<const std::uint8_t> rest() { return take(bytes_.size()); }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace torvix::fuzz
