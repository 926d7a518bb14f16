#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "support/reference_frames.h"

namespace torvix::protocol {
namespace {

namespace reference = testing::reference;

using testing::bytes;

TEST(Crc16, CheckValueOfTheStandardTestString) {
    constexpr std::string_view text = "123456789";
    std::vector<std::uint8_t> data(text.begin(), text.end());
    EXPECT_EQ(crc16(data), 0x4B37);
}

// Frames whose CRC bytes pymodbus computed.
TEST(Crc16, KnownFramesEndInTheirCrcLowByteFirst) {
    const std::vector<std::vector<std::uint8_t>> frames = {
        reference::kStatusRead,
        reference::kFirstCounterWrite,
        reference::kStart,
        reference::kPriority3,
    };
    for (const auto& frame : frames) {
        const auto body = std::span(frame).first(frame.size() - 2);
        const std::uint16_t crc = crc16(body);
        EXPECT_EQ(crc & 0xFF, frame[frame.size() - 2]);
        EXPECT_EQ(crc >> 8, frame[frame.size() - 1]);
        EXPECT_TRUE(hasValidCrc(frame));

        std::vector<std::uint8_t> rebuilt(body.begin(), body.end());
        appendCrc(rebuilt);
        EXPECT_EQ(rebuilt, frame);

        // Any single flipped bit, in the body or the CRC, must be caught.
        for (std::size_t at = 0; at < frame.size(); ++at) {
            auto damaged = frame;
            damaged[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
            EXPECT_FALSE(hasValidCrc(damaged)) << "byte " << at;
        }
    }
    // Two bytes can hold no body to check; they are never a reply.
    EXPECT_FALSE(hasValidCrc(bytes({0xFF, 0xFF})));
}

TEST(Crc16, EmptyInputIsTheInitialValue) {
    EXPECT_EQ(crc16({}), 0xFFFF);
}

TEST(ByteOf, SplitsTwosComplementForm) {
    EXPECT_EQ(byteOf(-21564, 1), 0xAB);
    EXPECT_EQ(byteOf(-21564, 0), 0xC4);
    EXPECT_EQ(byteOf(0x12345678, 3), 0x12);
    EXPECT_EQ(byteOf(0x12345678, 2), 0x34);
    EXPECT_EQ(byteOf(-1, 3), 0xFF);
    EXPECT_EQ(byteOf(0x12345678, 4), 0);
    EXPECT_EQ(byteOf(0x12345678, -1), 0);
}

}  // namespace
}  // namespace torvix::protocol
