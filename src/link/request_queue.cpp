#include "link/request_queue.h"

#include <algorithm>

namespace torvix {

bool RequestQueue::put(std::span<const std::uint8_t> pdu) {
    if (pdu.empty() || pdu.size() > kSlotSize - 1 || pendingCount() >= kCapacity) return false;
    auto& slot = slotBytes_[writeIndex_];
    slot[0] = 0;
    std::copy(pdu.begin(), pdu.end(), slot.begin() + 1);
    slotLastIndex_[writeIndex_] = static_cast<int>(pdu.size());
    writeIndex_ = next(writeIndex_);
    return true;
}

std::span<const std::uint8_t> RequestQueue::head() const {
    if (isEmpty()) return {};
    const auto& slot = slotBytes_[readIndex_];
    return std::span<const std::uint8_t>(slot).subspan(1, slotLastIndex_[readIndex_]);
}

void RequestQueue::advanceReadIndex() {
    if (!isEmpty()) readIndex_ = next(readIndex_);
}

}  // namespace torvix
