#pragma once
// The last frames on the line, sent and received, kept as bytes and written out as the
// CLI's --trace writes them only when shown.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/modbus.h"

namespace torvix::trends {

class TrafficRing {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;

    explicit TrafficRing(std::size_t capacity = kDefaultCapacity);

    // One tick's frames: the reply judged (when a request had gone out), then the request sent.
    void add(double ms, const TickOutcome& outcome);

    std::size_t capacity() const { return slots_.size(); }
    std::size_t size() const { return count_; }
    // Frames ever added; frame i of size() is number added() - size() + i.
    unsigned long long added() const { return added_; }

    // Frame i, 0 the oldest kept: the trace line without its newline.
    QString line(std::size_t i) const;
    // A reply that was not an answer: no answer, a bad CRC, an exception.
    bool isError(std::size_t i) const;

private:
    struct Frame {
        double ms = 0;
        bool sent = false;
        Verdict verdict = Verdict::NoAnswer;
        int exceptionCode = 0;
        std::vector<std::uint8_t> bytes;
    };
    void push(double ms, bool sent, std::span<const std::uint8_t> bytes, Verdict verdict,
              int exceptionCode);
    const Frame& at(std::size_t i) const;

    std::vector<Frame> slots_;
    std::size_t head_ = 0;  // the oldest, once full
    std::size_t count_ = 0;
    unsigned long long added_ = 0;
};

}  // namespace torvix::trends
