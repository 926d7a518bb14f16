#pragma once
// The ring of requests waiting for a valid reply; the head is sent on every tick until answered.

#include <array>
#include <cstdint>
#include <span>

namespace torvix {

class RequestQueue {
public:
    static constexpr int kSlots = 512;
    static constexpr int kSlotSize = 256;
    // Equal indexes mean empty, so one slot always stays free.
    static constexpr int kCapacity = kSlots - 1;

    // Appends a request given from its function code on, without address and CRC.
    // Refused (false) when kCapacity requests are pending: taking it would make the ring read
    // as empty and drop every pending request. Also refused when it cannot fit a slot.
    [[nodiscard]] bool put(std::span<const std::uint8_t> pdu);

    bool isEmpty() const { return writeIndex_ == readIndex_; }
    int pendingCount() const { return (writeIndex_ - readIndex_ + kSlots) % kSlots; }

    // The oldest unanswered request, from its function code on; empty when the queue is.
    std::span<const std::uint8_t> head() const;
    // The head has been answered validly.
    void advanceReadIndex();

    int readIndex() const { return readIndex_; }
    int writeIndex() const { return writeIndex_; }

private:
    static int next(int index) { return (index + 1) % kSlots; }

    // Position 0 of a slot is the slave address, filled in only when the frame is sent.
    std::array<std::array<std::uint8_t, kSlotSize>, kSlots> slotBytes_{};
    std::array<int, kSlots> slotLastIndex_{};
    int writeIndex_ = 0;
    int readIndex_ = 0;
};

}  // namespace torvix
