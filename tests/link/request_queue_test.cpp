#include "link/request_queue.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace torvix {
namespace {

std::vector<std::uint8_t> head(const RequestQueue& q) {
    const auto h = q.head();
    return {h.begin(), h.end()};
}

TEST(RequestQueue, FirstInFirstOutAndHeadStaysUntilAdvanced) {
    RequestQueue q;
    EXPECT_TRUE(q.isEmpty());
    EXPECT_TRUE(q.head().empty());
    ASSERT_TRUE(q.put(std::array<std::uint8_t, 5>{4, 1, 0x2C, 0, 0x40}));
    ASSERT_TRUE(q.put(std::array<std::uint8_t, 5>{6, 1, 0x92, 0x12, 0x31}));
    EXPECT_EQ(q.pendingCount(), 2);
    EXPECT_EQ(head(q), (std::vector<std::uint8_t>{4, 1, 0x2C, 0, 0x40}));
    EXPECT_EQ(head(q), (std::vector<std::uint8_t>{4, 1, 0x2C, 0, 0x40}));  // repeated send
    q.advanceReadIndex();
    EXPECT_EQ(head(q), (std::vector<std::uint8_t>{6, 1, 0x92, 0x12, 0x31}));
    q.advanceReadIndex();
    EXPECT_TRUE(q.isEmpty());
}

TEST(RequestQueue, IndexesWrapFrom511ToZero) {
    RequestQueue q;
    const std::array<std::uint8_t, 5> request{6, 1, 0x90, 0, 0};
    for (int i = 0; i < 511; ++i) {
        ASSERT_TRUE(q.put(request));
        q.advanceReadIndex();
    }
    EXPECT_EQ(q.writeIndex(), 511);
    EXPECT_EQ(q.readIndex(), 511);
    ASSERT_TRUE(q.put(std::array<std::uint8_t, 10>{16, 1, 0x91, 0, 2, 4, 0x55, 3, 0xEE, 0x55}));
    EXPECT_EQ(q.writeIndex(), 0);
    EXPECT_EQ(q.head().size(), 10u);
    q.advanceReadIndex();
    EXPECT_EQ(q.readIndex(), 0);
    EXPECT_TRUE(q.isEmpty());
}

// With 511 pending, one more would make the ring read as empty and lose them all.
TEST(RequestQueue, RefusesTheRequestThatWouldLoseThePendingOnes) {
    RequestQueue q;
    for (int i = 0; i < RequestQueue::kCapacity; ++i)
        ASSERT_TRUE(
            q.put(std::array<std::uint8_t, 5>{6, 1, 0x92, 0, static_cast<std::uint8_t>(i)}));
    EXPECT_FALSE(q.put(std::array<std::uint8_t, 5>{6, 1, 0x92, 0xFF, 0xFF}));
    EXPECT_EQ(q.pendingCount(), 511);
    EXPECT_EQ(q.head()[4], 0);  // the oldest is still first
    q.advanceReadIndex();
    EXPECT_TRUE(q.put(std::array<std::uint8_t, 5>{6, 1, 0x92, 0xFF, 0xFF}));
}

TEST(RequestQueue, RefusesEmptyAndOversizedRequestsAndIgnoresAdvanceWhenEmpty) {
    RequestQueue q;
    EXPECT_FALSE(q.put({}));
    std::vector<std::uint8_t> tooLong(RequestQueue::kSlotSize, 1);
    EXPECT_FALSE(q.put(tooLong));
    tooLong.pop_back();
    EXPECT_TRUE(q.put(tooLong));
    q.advanceReadIndex();
    q.advanceReadIndex();  // a stray valid reply must not run the read index past the write index
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.readIndex(), q.writeIndex());
}

}  // namespace
}  // namespace torvix
